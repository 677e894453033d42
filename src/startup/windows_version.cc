#include "startup/windows_version.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "startup/text_lines.h"

namespace kestrane {
namespace {

constexpr uint32_t kMost = std::numeric_limits<uint32_t>::max();

// An inclusive range of version numbers.
struct Range {
  uint32_t low;
  uint32_t high;
  bool Holds(uint32_t value) const { return value >= low && value <= high; }
};
constexpr Range Only(uint32_t value) { return {value, value}; }
constexpr Range From(uint32_t value) { return {value, kMost}; }
constexpr Range kAnyNumber{0, kMost};

constexpr uint8_t kWorkstation = 1;
constexpr uint8_t kDomainController = 2;
constexpr uint8_t kServer = 3;

constexpr int kAnyArchitecture = -1;
constexpr int kIntel = 0;
constexpr int kItanium = 6;
constexpr int kAmd64 = 9;

constexpr uint16_t kSuiteEnterprise = 0x0002;
constexpr uint16_t kSuiteEmbeddedNt = 0x0040;
constexpr uint16_t kSuiteDatacenter = 0x0080;
constexpr uint16_t kSuitePersonal = 0x0200;
constexpr uint16_t kSuiteBlade = 0x0400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;

// A further condition of a table row.
enum class Test {
  kAlways,
  kSuiteBit,            // the suite bit is set
  kSuiteIs,             // the whole suite mask equals the value
  kTabletPC,            // the metric is non-zero
  kMediaCenter,         //
  kStarter,             //
  kServerR2,            //
  kWorkstationOnAmd64,  // product type 1 on architecture 9
};

struct Condition {
  Test test = Test::kAlways;
  uint16_t suite = 0;
};
constexpr Condition kAlways{};
constexpr Condition SuiteBit(uint16_t bit) { return {Test::kSuiteBit, bit}; }
constexpr Condition SuiteIs(uint16_t mask) { return {Test::kSuiteIs, mask}; }
constexpr Condition Metric(Test test) { return {test, 0}; }
constexpr Condition kWorkstationOnAmd64{Test::kWorkstationOnAmd64, 0};

bool Holds(const Condition& condition, const PlatformFacts& facts) {
  const VersionRecord& v = facts.Version;
  switch (condition.test) {
    case Test::kAlways:
      return true;
    case Test::kSuiteBit:
      return (v.SuiteMask & condition.suite) != 0;
    case Test::kSuiteIs:
      return v.SuiteMask == condition.suite;
    case Test::kTabletPC:
      return facts.TabletPC != 0;
    case Test::kMediaCenter:
      return facts.MediaCenter != 0;
    case Test::kStarter:
      return facts.Starter != 0;
    case Test::kServerR2:
      return facts.ServerR2 != 0;
    case Test::kWorkstationOnAmd64:
      return v.ProductType == kWorkstation && facts.Architecture == kAmd64;
  }
  return false;
}

template <typename Row, size_t N, typename Matches>
const Row* FirstMatch(const Row (&rows)[N], Matches matches) {
  for (const Row& row : rows) {
    if (matches(row)) return &row;
  }
  return nullptr;
}

// ---- Windows 95 family ----

// Windows 95 releases (minor 0 or 3), told apart by the build and the revision letter.
struct Win95Row {
  uint16_t build_low;
  uint16_t build_high;
  const char* letters;  // the revision letters that qualify; empty: any letter
  const char* name;
};

constexpr Win95Row kWin95Releases[] = {
    {1111, 1111, "", "95 OSR 2.0"},    //
    {1212, 1213, "", "95 OSR 2.1"},    //
    {1214, 1214, "C", "95 OSR 2.5"},   //
    {1214, 1214, "", "95 OSR 2.1"},    //
    {1081, 0xFFFF, "", "95 OSR 2.x"},  //
    {0, 1080, "AW", "95 OSR 1"},       //
    {0, 1080, "", "95"},
};

bool LetterQualifies(const char* letters, char letter) {
  if (letters[0] == '\0') return true;
  return letter != '\0' && std::strchr(letters, letter) != nullptr;
}

std::string Win95FamilyName(const VersionRecord& v) {
  const uint16_t build = static_cast<uint16_t>(v.BuildNumber);
  // Windows 9x keeps a revision letter in the second character of the service pack text.
  const char letter = v.CSDVersion[1];
  if (v.MajorVersion != 4) return "Unknown 9x";
  switch (v.MinorVersion) {
    case 0:
    case 3: {
      const Win95Row* row = FirstMatch(kWin95Releases, [&](const Win95Row& r) {
        return build >= r.build_low && build <= r.build_high && LetterQualifies(r.letters, letter);
      });
      return row != nullptr ? row->name : "95";
    }
    case 10:
      // The whole field is compared: its high word carries the version, so in practice the
      // letter decides.
      return (v.BuildNumber == 2222 || letter == 'A' || letter == 'B') ? "98 SE" : "98";
    case 90:
      return "Millennium";
    default:
      return "Unknown 9x";
  }
}

// ---- NT family part ----

enum class FamilyAction {
  kAppend,          // append the row's text
  kResolveFromVer,  // reported 6.2: the line of "ver" tells 8, 8.1 and 10 apart
  kReadVer,         // an unknown major version: the generic reading of "ver"
  kNothing,
};

struct FamilyRow {
  Range major;
  Range minor;
  Condition condition;
  FamilyAction action;
  const char* workstation;  // appended for product type 1
  const char* other;        // appended for every other product type
};

constexpr FamilyAction kAppend = FamilyAction::kAppend;

constexpr FamilyRow kNtFamilies[] = {
    {{3, 4}, kAnyNumber, kAlways, kAppend, "NT ", "NT "},
    {Only(5), Only(0), kAlways, kAppend, "2000 ", "2000 "},
    {Only(5), Only(1), kAlways, kAppend, "XP ", "XP "},
    {Only(5), Only(2), Metric(Test::kServerR2), kAppend, "Server 2003 R2 ", "Server 2003 R2 "},
    {Only(5), Only(2), SuiteIs(kSuiteStorageServer), kAppend, "Storage Server 2003",
     "Storage Server 2003"},
    {Only(5), Only(2), kWorkstationOnAmd64, kAppend, "XP ", "XP "},
    {Only(5), Only(2), kAlways, kAppend, "Server 2003 ", "Server 2003 "},
    {Only(5), From(3), kAlways, kAppend, "Unknown version ", "Unknown version "},
    {Only(6), Only(0), kAlways, kAppend, "Vista ", "Server 2008 "},
    {Only(6), Only(1), kAlways, kAppend, "7 ", "Server 2008 R2 "},
    {Only(6), Only(2), kAlways, FamilyAction::kResolveFromVer, "", ""},
    {Only(6), Only(3), kAlways, kAppend, "8.1 ", "Server 2012 R2 "},
    {Only(6), From(4), kAlways, FamilyAction::kNothing, "", ""},
    {Only(10), Only(0), kAlways, kAppend, "10 ", "Server 2016 "},
    {Only(10), From(1), kAlways, FamilyAction::kNothing, "", ""},
    {{0, 2}, kAnyNumber, kAlways, FamilyAction::kReadVer, "", ""},
    {{7, 9}, kAnyNumber, kAlways, FamilyAction::kReadVer, "", ""},
    {From(11), kAnyNumber, kAlways, FamilyAction::kReadVer, "", ""},
};

// Markers of the "ver" line of a system reported as 6.2, in the order they are looked for.
struct VerMarker {
  const char* marker;
  const char* workstation;
  const char* other;
};

constexpr VerMarker kVerMarkers[] = {
    {" 6.2", "8 ", "Server 2012 "},
    {" 6.3", "8.1 ", "Server 2012 R2 "},
    {" 10", "10 ", "Server 10 "},
};

// The generic reading of a "ver" line such as "Microsoft Windows [Version 12.0.100]": the
// number before the first dot names the family, the text up to "]" is the version.
void ReadVerGenerically(const std::string& output, const PlatformFacts& facts,
                        WindowsIdentity* identity) {
  // Skips "ion" and the blank after it.
  const long p = PositionOf(output, "ion") + 4;
  if (facts.Version.ProductType != kWorkstation) identity->SystemName += "Server ";
  identity->SystemName += SubstringFrom(output, p, PositionOf(output, ".") - p) + " ";
  identity->VersionNumber = SubstringFrom(output, p, PositionOf(output, "]") - p);
}

void ResolveFromVer(const std::string& output, const PlatformFacts& facts,
                    WindowsIdentity* identity) {
  const bool workstation = facts.Version.ProductType == kWorkstation;
  for (const VerMarker& m : kVerMarkers) {
    const long p = PositionOf(output, m.marker);
    if (p == 0) continue;
    identity->SystemName += workstation ? m.workstation : m.other;
    // p is the marker's leading blank, so the version keeps it.
    identity->VersionNumber = SubstringFrom(output, p, PositionOf(output, "]") - p);
    return;
  }
  ReadVerGenerically(output, facts, identity);
}

void AppendFamily(const PlatformFacts& facts, PlatformQueries& queries, WindowsIdentity* identity) {
  const VersionRecord& v = facts.Version;
  const FamilyRow* row = FirstMatch(kNtFamilies, [&](const FamilyRow& r) {
    return r.major.Holds(v.MajorVersion) && r.minor.Holds(v.MinorVersion) &&
           Holds(r.condition, facts);
  });
  // The table covers every major and minor version; an unmatched row cannot happen.
  const FamilyAction action = row != nullptr ? row->action : FamilyAction::kReadVer;
  switch (action) {
    case FamilyAction::kAppend:
      identity->SystemName += v.ProductType == kWorkstation ? row->workstation : row->other;
      break;
    case FamilyAction::kResolveFromVer:
      ResolveFromVer(queries.VerOutput(), facts, identity);
      break;
    case FamilyAction::kReadVer:
      ReadVerGenerically(queries.VerOutput(), facts, identity);
      break;
    case FamilyAction::kNothing:
      break;
  }
}

// ---- Edition part ----

struct EditionRow {
  Range major;
  Range minor;
  int architecture;  // kAnyArchitecture or the one architecture
  Condition condition;
  const char* edition;
  bool names_architecture = false;  // the edition is followed by the architecture in hex
};

constexpr EditionRow kWorkstationEditions[] = {
    {Only(4), kAnyNumber, kAnyArchitecture, kAlways, "Workstation"},
    {Only(5), Only(2), kAmd64, kAlways, "Professional x64"},
    {Only(5), kAnyNumber, kAnyArchitecture, Metric(Test::kStarter), "Starter"},
    {Only(5), kAnyNumber, kAnyArchitecture, Metric(Test::kMediaCenter), "Media Center"},
    {Only(5), kAnyNumber, kAnyArchitecture, Metric(Test::kTabletPC), "Tablet PC"},
    {Only(5), kAnyNumber, kAnyArchitecture, SuiteBit(kSuitePersonal), "Home"},
    {Only(5), kAnyNumber, kAnyArchitecture, SuiteBit(kSuiteEmbeddedNt), "Embedded"},
    {Only(5), kAnyNumber, kAnyArchitecture, kAlways, "Professional"},
    {kAnyNumber, kAnyNumber, kAnyArchitecture, kAlways, "Unknown Workstation"},
};

// Editions of servers and domain controllers; a version that no row names is an unknown
// server or domain controller.
constexpr EditionRow kServerEditions[] = {
    {Only(4), kAnyNumber, kAnyArchitecture, SuiteBit(kSuiteEnterprise), "Server 4.0 Enterprise"},
    {Only(4), kAnyNumber, kAnyArchitecture, kAlways, "Server 4.0"},
    {Only(5), Only(0), kAnyArchitecture, SuiteBit(kSuiteDatacenter), "Datacenter Server"},
    {Only(5), Only(0), kAnyArchitecture, SuiteBit(kSuiteEnterprise), "Advanced Server"},
    {Only(5), Only(0), kAnyArchitecture, kAlways, "Server"},
    {Only(5), Only(2), kIntel, SuiteBit(kSuiteComputeServer), "Computer Cluster"},
    {Only(5), Only(2), kIntel, SuiteBit(kSuiteDatacenter), "Datacenter"},
    {Only(5), Only(2), kIntel, SuiteBit(kSuiteEnterprise), "Enterprise"},
    {Only(5), Only(2), kIntel, SuiteIs(kSuiteBlade), "Web"},
    {Only(5), Only(2), kIntel, kAlways, "Standard"},
    {Only(5), Only(2), kItanium, SuiteBit(kSuiteDatacenter),
     "Datacenter for Itanium-based Systems"},
    {Only(5), Only(2), kItanium, SuiteBit(kSuiteEnterprise),
     "Enterprise for Itanium-based Systems"},
    {Only(5), Only(2), kItanium, kAlways, "Standard Itanium-based"},
    {Only(5), Only(2), kAmd64, SuiteBit(kSuiteDatacenter), "Datacenter x64"},
    {Only(5), Only(2), kAmd64, SuiteBit(kSuiteEnterprise), "Enterprise x64"},
    {Only(5), Only(2), kAmd64, kAlways, "Standard x64"},
    {Only(5), Only(2), kAnyArchitecture, kAlways, "Unknown on Architecture 0x", true},
};

std::string UpperHex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
  return text;
}

std::string EditionFromTables(const PlatformFacts& facts) {
  const VersionRecord& v = facts.Version;
  const EditionRow* table = nullptr;
  size_t rows = 0;
  if (v.ProductType == kWorkstation) {
    table = kWorkstationEditions;
    rows = sizeof kWorkstationEditions / sizeof kWorkstationEditions[0];
  } else if (v.ProductType == kServer || v.ProductType == kDomainController) {
    table = kServerEditions;
    rows = sizeof kServerEditions / sizeof kServerEditions[0];
  } else {
    return "Unknown";
  }
  for (size_t i = 0; i < rows; ++i) {
    const EditionRow& row = table[i];
    if (!row.major.Holds(v.MajorVersion) || !row.minor.Holds(v.MinorVersion)) continue;
    if (row.architecture != kAnyArchitecture && row.architecture != facts.Architecture) continue;
    if (!Holds(row.condition, facts)) continue;
    std::string edition = row.edition;
    if (row.names_architecture) edition += UpperHex(facts.Architecture);
    return edition;
  }
  return v.ProductType == kServer ? "Unknown Server" : "Unknown Domain controller";
}

// Systems that give no extended data name their edition only in the registry.
struct ProductOptionsRow {
  const char* product_type;  // upper case
  const char* edition;
};

constexpr ProductOptionsRow kProductOptions[] = {
    {"WINNT", "Workstation"},
    {"LANMANNT", "Server"},
    {"SERVERNT", "Advanced Server"},
};

std::string UpperAsciiLetters(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string EditionFromProductOptions(PlatformQueries& queries) {
  const ProductTypeAnswer answer = queries.ReadProductType();
  if (!answer.KeyOpened || !answer.ReadOk || !answer.IsString) return "";
  const std::string type = UpperAsciiLetters(answer.Text);
  const ProductOptionsRow* row = FirstMatch(
      kProductOptions, [&](const ProductOptionsRow& r) { return type == r.product_type; });
  return row != nullptr ? row->edition : "Unknown";
}

// The NT 6 family takes its whole name from the registry and adds the bitness.
void NameFromRegistry(const PlatformFacts& facts, PlatformQueries& queries,
                      WindowsIdentity* identity) {
  const ProductNameAnswer answer = queries.ReadProductName();
  if (answer.KeyOpened && answer.ValuePresent) identity->SystemName = answer.Text;
  if (facts.Architecture == kAmd64) {
    identity->SystemName += " 64-bit";
  } else if (facts.Architecture == kIntel) {
    identity->SystemName += " 32-bit";
  }
}

void AppendEdition(const PlatformFacts& facts, PlatformQueries& queries,
                   WindowsIdentity* identity) {
  if (!facts.ExtendedQueryOk) {
    identity->SystemName += EditionFromProductOptions(queries);
  } else if (facts.Version.MajorVersion == 6) {
    NameFromRegistry(facts, queries, identity);
  } else {
    identity->SystemName += EditionFromTables(facts);
  }
}

// ---- Shared pieces ----

std::string ServicePackText(const VersionRecord& v) {
  const char* end =
      static_cast<const char*>(std::memchr(v.CSDVersion.data(), '\0', v.CSDVersion.size()));
  return std::string(v.CSDVersion.data(),
                     end != nullptr ? end : v.CSDVersion.data() + v.CSDVersion.size());
}

std::string DottedVersion(uint32_t major, uint32_t minor, uint32_t build) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

void IdentifyWin95Family(const PlatformFacts& facts, WindowsIdentity* identity) {
  const VersionRecord& v = facts.Version;
  identity->SystemName += Win95FamilyName(v);
  identity->VersionNumber =
      DottedVersion(v.MajorVersion, v.MinorVersion & 0xFF, v.BuildNumber & 0xFFFF);
  identity->ServicePack = ServicePackText(v);
}

void IdentifyNtFamily(const PlatformFacts& facts, PlatformQueries& queries,
                      WindowsIdentity* identity) {
  const VersionRecord& v = facts.Version;
  AppendFamily(facts, queries, identity);
  AppendEdition(facts, queries, identity);

  identity->ServicePack = ServicePackText(v);
  // Service Pack 6a of NT 4 kept the text of Service Pack 6 and left only its hotfix key.
  if (v.MajorVersion == 4 && identity->ServicePack == "Service Pack 6" &&
      queries.HotfixQ246009Opens()) {
    identity->ServicePack = "Service Pack 6a";
  }
  if (identity->VersionNumber.empty()) {
    identity->VersionNumber = DottedVersion(v.MajorVersion, v.MinorVersion, v.BuildNumber & 0xFFFF);
  }
}

}  // namespace

bool IdentifyWindows(const PlatformFacts& recorded, PlatformQueries& queries,
                     WindowsIdentity* identity) {
  *identity = WindowsIdentity();
  if (!recorded.ExtendedQueryOk && !recorded.PlainQueryOk) return false;
  PlatformFacts facts = recorded;
  if (!facts.ExtendedQueryOk) {
    // The plain record has no extended fields; they stay as zero-filled.
    facts.Version.SuiteMask = 0;
    facts.Version.ProductType = 0;
  }
  identity->SystemName = "Microsoft Windows ";
  switch (facts.Version.PlatformId) {
    case 1:
      IdentifyWin95Family(facts, identity);
      return true;
    case 2:
      IdentifyNtFamily(facts, queries, identity);
      return true;
    default:
      return false;
  }
}

std::string JoinDisplayName(const WindowsIdentity& identity, bool include_version) {
  const bool has_service_pack = !IsBlank(identity.ServicePack);
  if (include_version && !IsBlank(identity.VersionNumber)) {
    std::string tail = identity.VersionNumber;
    if (has_service_pack) tail += " " + identity.ServicePack;
    return identity.SystemName + " " + tail;
  }
  if (has_service_pack) return identity.SystemName + " " + identity.ServicePack;
  return identity.SystemName;
}

bool DisplayNameIs64Bit(const std::string& display_name) {
  return display_name.find(" 64") != std::string::npos;
}

std::string WindowsDisplayName(const PlatformFacts& facts, PlatformQueries& queries,
                               bool include_version, bool* is_64bit) {
  WindowsIdentity identity;
  if (!IdentifyWindows(facts, queries, &identity)) return "unknown";
  const std::string name = JoinDisplayName(identity, include_version);
  *is_64bit = DisplayNameIs64Bit(name);
  return name;
}

std::string VerOutputOf(const SystemVersion& version) {
  std::string number = std::to_string(version.Major) + "." + std::to_string(version.Minor) + "." +
                       std::to_string(version.Build);
  if (version.HasRevision) number += "." + std::to_string(version.Revision);
  // Real Windows' interpreter prints an empty line before the version line.
  return "\r\nMicrosoft Windows [Version " + number + "]\r\n";
}

long PositionOf(const std::string& text, const std::string& what) {
  const size_t found = text.find(what);
  return found == std::string::npos ? 0 : static_cast<long>(found) + 1;
}

std::string SubstringFrom(const std::string& text, long start, long count) {
  if (start < 1) start = 1;
  if (count <= 0 || static_cast<unsigned long>(start) > text.size()) return "";
  return text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count));
}

}  // namespace kestrane
