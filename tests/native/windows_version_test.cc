#include "startup/windows_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "startup/errors.h"
#include "startup/text_lines.h"

namespace kestrane {
namespace {

constexpr uint8_t kWorkstation = 1;
constexpr uint8_t kDomainController = 2;
constexpr uint8_t kServer = 3;
constexpr uint16_t kIntel = 0;
constexpr uint16_t kItanium = 6;
constexpr uint16_t kAmd64 = 9;

// Recorded platform facts, built up the way a reader names a system.
struct Facts {
  PlatformFacts f;

  static Facts Nt(uint32_t major, uint32_t minor, uint32_t build = 1000) {
    return Make(2, major, minor, build);
  }
  static Facts Win9x(uint32_t major, uint32_t minor, uint32_t build_field) {
    return Make(1, major, minor, build_field);
  }
  static Facts Make(uint32_t platform, uint32_t major, uint32_t minor, uint32_t build) {
    Facts x;
    x.f.ExtendedQueryOk = true;
    x.f.Version.PlatformId = platform;
    x.f.Version.MajorVersion = major;
    x.f.Version.MinorVersion = minor;
    x.f.Version.BuildNumber = build;
    return x;
  }
  Facts& Type(uint8_t type) {
    f.Version.ProductType = type;
    return *this;
  }
  Facts& Arch(uint16_t architecture) {
    f.Architecture = architecture;
    return *this;
  }
  Facts& Suite(uint16_t mask) {
    f.Version.SuiteMask = mask;
    return *this;
  }
  Facts& Csd(const std::string& text) {
    f.Version.CSDVersion.fill('\0');
    std::memcpy(f.Version.CSDVersion.data(), text.data(),
                std::min(text.size(), f.Version.CSDVersion.size()));
    return *this;
  }
  Facts& Tablet() {
    f.TabletPC = 1;
    return *this;
  }
  Facts& MediaCenter() {
    f.MediaCenter = 1;
    return *this;
  }
  Facts& Starter() {
    f.Starter = 1;
    return *this;
  }
  Facts& ServerR2() {
    f.ServerR2 = 1;
    return *this;
  }
  // Only the plain query answered: no extended data.
  Facts& PlainOnly() {
    f.ExtendedQueryOk = false;
    f.PlainQueryOk = true;
    return *this;
  }
};

// Answers the costly questions from a script and counts them.
class FakePlatform : public PlatformQueries {
 public:
  std::string ver_output;
  ProductNameAnswer product_name;  // by default the key does not open
  bool product_name_has_wrong_type = false;
  ProductTypeAnswer product_type;  // by default the key does not open
  bool hotfix_key = false;

  int ver_asks = 0;
  int product_name_reads = 0;
  int product_type_reads = 0;
  int hotfix_checks = 0;

  std::string VerOutput() override {
    ++ver_asks;
    return ver_output;
  }
  ProductNameAnswer ReadProductName() override {
    ++product_name_reads;
    if (product_name_has_wrong_type) throw RegistryError("Invalid data type for 'ProductName'");
    return product_name;
  }
  ProductTypeAnswer ReadProductType() override {
    ++product_type_reads;
    return product_type;
  }
  bool HotfixQ246009Opens() override {
    ++hotfix_checks;
    return hotfix_key;
  }
};

const ProductNameAnswer kNameKeyMissing{};
const ProductTypeAnswer kOptionsKeyMissing{};

ProductNameAnswer NamedInRegistry(const std::string& name) { return {true, true, name}; }
ProductTypeAnswer ProductTypeText(const std::string& text) { return {true, true, true, text}; }

WindowsIdentity Identify(const Facts& facts, FakePlatform& platform) {
  WindowsIdentity identity;
  EXPECT_TRUE(IdentifyWindows(facts.f, platform, &identity));
  return identity;
}

WindowsIdentity Identify(const Facts& facts) {
  FakePlatform platform;
  return Identify(facts, platform);
}

// ---------------------------------------------------------------------------------------------

TEST(TextRules, PositionsAreOneBasedAndZeroWhenAbsent) {
  const struct {
    std::string text, what;
    long position;
  } cases[] = {
      {"Version 6.3]", "ion", 5},
      {"abc", "a", 1},
      {"abc", "c", 3},
      {"abc", "x", 0},
      {"", "x", 0},
      {"aXa", "a", 1},
      {"[Version 6.3]", "]", 13},
      {"Ion ion", "ion", 5},  // case-sensitive
  };
  for (const auto& c : cases) EXPECT_EQ(PositionOf(c.text, c.what), c.position) << c.text;
}

TEST(TextRules, SubstringIsEmptyForNoCountOrAStartBeyondTheEnd) {
  const struct {
    std::string text;
    long start, count;
    std::string expected;
  } cases[] = {
      {"abcdef", 2, 3, "bcd"},   {"abcdef", 1, 6, "abcdef"},
      {"abcdef", 4, 100, "def"}, {"abcdef", 6, 1, "f"},
      {"abcdef", 7, 1, ""},      {"abcdef", 3, 0, ""},
      {"abcdef", 3, -4, ""},     {"", 1, 1, ""},
      {"abcdef", 0, 2, "ab"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SubstringFrom(c.text, c.start, c.count), c.expected)
        << c.text << " from " << c.start << " count " << c.count;
  }
}

TEST(TextRules, BlankMeansOnlyCodesUpTo32) {
  const struct {
    std::string text;
    bool blank;
  } cases[] = {
      {"", true},      {" ", true},  {"\t\r\n", true}, {std::string("\0\x01 ", 3), true},
      {" A ", false},  {"!", false}, {"\xA0", false},  // code 160, above 32
      {"\x7F", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsBlank(c.text), c.blank) << c.text;
}

// ---------------------------------------------------------------------------------------------

TEST(Win95Family, EveryReleaseRowNamesItsRelease) {
  const struct {
    const char* label;
    uint32_t minor, build_field;
    std::string csd;
    const char* name;
  } cases[] = {
      {"build 1111", 0, 1111, "", "95 OSR 2.0"},
      {"minor 3 counts as 95", 3, 1111, "", "95 OSR 2.0"},
      {"only the low word is the build", 0, 0x04000457, "", "95 OSR 2.0"},
      {"build 1212", 0, 1212, "", "95 OSR 2.1"},
      {"build 1213", 0, 1213, "", "95 OSR 2.1"},
      {"build 1214 letter C", 0, 1214, " C", "95 OSR 2.5"},
      {"build 1214 letter c is not C", 0, 1214, " c", "95 OSR 2.1"},
      {"build 1214 other letter", 0, 1214, " B", "95 OSR 2.1"},
      {"build 1081", 0, 1081, "", "95 OSR 2.x"},
      {"build 1500 letter C", 3, 1500, " C", "95 OSR 2.x"},
      {"build 1080 letter A", 0, 1080, " A", "95 OSR 1"},
      {"build 950 letter W", 0, 950, " W", "95 OSR 1"},
      {"build 950 letter B", 0, 950, " B", "95"},
      {"build 950 no letter", 0, 950, "", "95"},
      {"98", 10, 0x040A07CE, " ", "98"},
      {"98 whole field 2222", 10, 2222, "", "98 SE"},
      {"98 low word 2222 alone is not SE", 10, 0x040A08AE, "", "98"},
      {"98 letter A", 10, 0x040A08AE, " A ", "98 SE"},
      {"98 letter B", 10, 1998, " B", "98 SE"},
      {"98 letter C", 10, 1998, " C", "98"},
      {"Millennium", 90, 3000, "", "Millennium"},
      {"minor 1", 1, 1111, "", "Unknown 9x"},
      {"minor 91", 91, 3000, "", "Unknown 9x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Identify(Facts::Win9x(4, c.minor, c.build_field).Csd(c.csd)).SystemName,
              std::string("Microsoft Windows ") + c.name)
        << c.label;
  }
  EXPECT_EQ(Identify(Facts::Win9x(5, 0, 1111)).SystemName, "Microsoft Windows Unknown 9x");
  EXPECT_EQ(Identify(Facts::Win9x(3, 10, 2222)).SystemName, "Microsoft Windows Unknown 9x");
}

TEST(Win95Family, VersionFromTheNumbersAndServicePackAsRecorded) {
  FakePlatform platform;
  // The minor version keeps only its low 8 bits, the build only its low 16.
  WindowsIdentity id = Identify(Facts::Win9x(4, 0x10A, 0x040A08AE).Csd(" A "), platform);
  EXPECT_EQ(id.SystemName, "Microsoft Windows Unknown 9x");
  EXPECT_EQ(id.VersionNumber, "4.10.2222");
  EXPECT_EQ(id.ServicePack, " A ");
  // Nothing costly is asked on this platform.
  EXPECT_EQ(platform.ver_asks, 0);
  EXPECT_EQ(platform.product_name_reads + platform.product_type_reads + platform.hotfix_checks, 0);
}

// ---------------------------------------------------------------------------------------------

// Every row of the family table; "ver" prints a 6.3 line for the rows that run it.
TEST(NtFamily, EveryRowAppendsItsFamilyAndRunsVerOnlyWhereItMust) {
  const struct {
    const char* label;
    Facts facts;
    const char* system_name;
    int ver_runs;
  } cases[] = {
      {"3.51", Facts::Nt(3, 51).Type(kWorkstation), "NT Unknown Workstation", 0},
      {"4.0", Facts::Nt(4, 0).Type(kWorkstation), "NT Workstation", 0},
      {"5.0", Facts::Nt(5, 0).Type(kWorkstation), "2000 Professional", 0},
      {"5.1", Facts::Nt(5, 1).Type(kWorkstation), "XP Professional", 0},
      {"5.2 R2 before storage", Facts::Nt(5, 2).Type(kServer).Suite(0x2000).ServerR2(),
       "Server 2003 R2 Standard", 0},
      {"5.2 storage", Facts::Nt(5, 2).Type(kServer).Suite(0x2000), "Storage Server 2003Standard",
       0},
      {"5.2 storage needs the whole mask", Facts::Nt(5, 2).Type(kServer).Suite(0x2010),
       "Server 2003 Standard", 0},
      {"5.2 workstation on amd64", Facts::Nt(5, 2).Type(kWorkstation).Arch(kAmd64),
       "XP Professional x64", 0},
      {"5.2 workstation on intel", Facts::Nt(5, 2).Type(kWorkstation).Arch(kIntel),
       "Server 2003 Professional", 0},
      {"5.2 server on amd64", Facts::Nt(5, 2).Type(kServer).Arch(kAmd64),
       "Server 2003 Standard x64", 0},
      {"5.3", Facts::Nt(5, 3).Type(kWorkstation), "Unknown version Professional", 0},
      {"5.9", Facts::Nt(5, 9).Type(kServer), "Unknown version Unknown Server", 0},
      {"6.0 workstation", Facts::Nt(6, 0).Type(kWorkstation).Arch(kItanium), "Vista ", 0},
      {"6.0 server", Facts::Nt(6, 0).Type(kServer).Arch(kItanium), "Server 2008 ", 0},
      {"6.1 workstation", Facts::Nt(6, 1).Type(kWorkstation).Arch(kItanium), "7 ", 0},
      {"6.1 domain controller", Facts::Nt(6, 1).Type(kDomainController).Arch(kItanium),
       "Server 2008 R2 ", 0},
      {"6.2 asks ver", Facts::Nt(6, 2).Type(kWorkstation).Arch(kItanium), "8.1 ", 1},
      {"6.3 workstation", Facts::Nt(6, 3).Type(kWorkstation).Arch(kItanium), "8.1 ", 0},
      {"6.3 server", Facts::Nt(6, 3).Type(kServer).Arch(kItanium), "Server 2012 R2 ", 0},
      {"6.4", Facts::Nt(6, 4).Type(kWorkstation).Arch(kItanium), "", 0},
      {"6.10", Facts::Nt(6, 10).Type(kServer).Arch(kItanium), "", 0},
      {"10.0 workstation", Facts::Nt(10, 0).Type(kWorkstation), "10 Unknown Workstation", 0},
      {"10.0 server", Facts::Nt(10, 0).Type(kServer), "Server 2016 Unknown Server", 0},
      {"10.1", Facts::Nt(10, 1).Type(kWorkstation), "Unknown Workstation", 0},
      {"0.0", Facts::Nt(0, 0).Type(kWorkstation), "6 Unknown Workstation", 1},
      {"2.1", Facts::Nt(2, 1).Type(kServer), "Server 6 Unknown Server", 1},
      {"7.0", Facts::Nt(7, 0).Type(kWorkstation), "6 Unknown Workstation", 1},
      {"9.9", Facts::Nt(9, 9).Type(kDomainController), "Server 6 Unknown Domain controller", 1},
      {"11.0", Facts::Nt(11, 0).Type(kWorkstation), "6 Unknown Workstation", 1},
      {"largest major", Facts::Nt(0xFFFFFFFF, 0).Type(kWorkstation), "6 Unknown Workstation", 1},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.ver_output = "\r\nMicrosoft Windows [Version 6.3.9600]\r\n";
    EXPECT_EQ(Identify(c.facts, platform).SystemName,
              std::string("Microsoft Windows ") + c.system_name)
        << c.label;
    EXPECT_EQ(platform.ver_asks, c.ver_runs) << c.label;
  }
}

// A reported 6.2 is told apart by the line of "ver"; Itanium adds no bitness word, so the
// family part stands alone.
TEST(NtFamily, Reported62IsResolvedByTheFirstMarkerPresent) {
  const struct {
    const char* label;
    std::string ver;
    uint8_t type;
    const char* family;
    const char* version;
  } cases[] = {
      {"8", "\r\nMicrosoft Windows [Version 6.2.9200]\r\n", kWorkstation, "8 ", " 6.2.9200"},
      {"Server 2012", "Microsoft Windows [Version 6.2.9200]", kServer, "Server 2012 ", " 6.2.9200"},
      {"8.1", "Microsoft Windows [Version 6.3.9600]", kWorkstation, "8.1 ", " 6.3.9600"},
      {"Server 2012 R2", "Microsoft Windows [Version 6.3.9600]", kDomainController,
       "Server 2012 R2 ", " 6.3.9600"},
      {"10", "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n", kWorkstation, "10 ",
       " 10.0.19045.3803"},
      {"Server 10", "Microsoft Windows [Version 10.0.14393]", kServer, "Server 10 ", " 10.0.14393"},
      {"Wine prints no brackets", "\r\nMicrosoft Windows 6.2.9200\r\n", kWorkstation, "8 ",
       "6.2.9200"},
      {"marker order beats position: the later 6.2 wins, its ] lies before it",
       "[Version 6.3.9600] 6.2", kWorkstation, "8 ", "6.2.9200"},
      {"no marker: generic reading", "Microsoft Windows [Version 12.0.100]", kWorkstation, "12 ",
       "12.0.100"},
      {"no marker, server", "Microsoft Windows [Version 12.0.100]", kServer, "Server 12 ",
       "12.0.100"},
      {"nothing printed", "", kWorkstation, " ", "6.2.9200"},
      {"interpreter not started", "\r\n", kServer, "Server  ", "6.2.9200"},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.ver_output = c.ver;
    WindowsIdentity id = Identify(Facts::Nt(6, 2, 9200).Type(c.type).Arch(kItanium), platform);
    EXPECT_EQ(id.SystemName, std::string("Microsoft Windows ") + c.family) << c.label;
    EXPECT_EQ(id.VersionNumber, c.version) << c.label;
    EXPECT_EQ(platform.ver_asks, 1) << c.label;
  }
}

TEST(NtFamily, GenericReadingTakesTheFirstDotAndBracketAfterVersion) {
  const struct {
    const char* label;
    std::string ver;
    uint8_t type;
    const char* system_name;
    const char* version;
  } cases[] = {
      {"bracketed line", "\r\nMicrosoft Windows [Version 12.0.100]\r\n", kWorkstation,
       "12 Unknown Workstation", "12.0.100"},
      {"server", "Microsoft Windows [Version 12.0.100]", kServer, "Server 12 Unknown Server",
       "12.0.100"},
      // Without "ion" the reading starts at position 4.
      {"no ion", "Microsoft Windows 7.0.1", kWorkstation, "rosoft Windows 7 Unknown Workstation",
       "7.0.1"},
      {"dot before ion", "1.0 Version 9.9]", kWorkstation, " Unknown Workstation", "9.9"},
      {"empty", "", kDomainController, "Server  Unknown Domain controller", "7.0.1"},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.ver_output = c.ver;
    WindowsIdentity id = Identify(Facts::Nt(7, 0, 1).Type(c.type), platform);
    EXPECT_EQ(id.SystemName, std::string("Microsoft Windows ") + c.system_name) << c.label;
    EXPECT_EQ(id.VersionNumber, c.version) << c.label;
  }
}

// ---------------------------------------------------------------------------------------------

TEST(NtEdition, Nt6TakesTheProductNameAndAddsTheBitness) {
  const struct {
    const char* label;
    ProductNameAnswer answer;
    uint16_t architecture;
    const char* system_name;
  } cases[] = {
      {"amd64", NamedInRegistry("Windows 7 Professional"), kAmd64, "Windows 7 Professional 64-bit"},
      {"intel", NamedInRegistry("Windows 7 Professional"), kIntel, "Windows 7 Professional 32-bit"},
      {"itanium", NamedInRegistry("Windows 7 Professional"), kItanium, "Windows 7 Professional"},
      {"architecture 12", NamedInRegistry("Windows 7 Professional"), 12, "Windows 7 Professional"},
      {"empty name still replaces", NamedInRegistry(""), kAmd64, " 64-bit"},
      {"key does not open", {false, true, "ignored"}, kAmd64, "Microsoft Windows 7  64-bit"},
      {"no such value", {true, false, ""}, kIntel, "Microsoft Windows 7  32-bit"},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.product_name = c.answer;
    EXPECT_EQ(
        Identify(Facts::Nt(6, 1).Type(kWorkstation).Arch(c.architecture), platform).SystemName,
        c.system_name)
        << c.label;
    EXPECT_EQ(platform.product_name_reads, 1) << c.label;
    EXPECT_EQ(platform.product_type_reads, 0) << c.label;
  }
}

TEST(NtEdition, WorkstationRowsInOrder) {
  const struct {
    const char* label;
    Facts facts;
    const char* system_name;
  } cases[] = {
      {"NT 4", Facts::Nt(4, 0).Arch(kAmd64).Starter(), "NT Workstation"},
      {"5.2 on amd64 before the metrics", Facts::Nt(5, 2).Arch(kAmd64).Starter(),
       "XP Professional x64"},
      {"5.1 on amd64 is not x64", Facts::Nt(5, 1).Arch(kAmd64), "XP Professional"},
      {"starter before media center", Facts::Nt(5, 1).Starter().MediaCenter(), "XP Starter"},
      {"media center before tablet", Facts::Nt(5, 1).MediaCenter().Tablet(), "XP Media Center"},
      {"tablet before home", Facts::Nt(5, 1).Tablet().Suite(0x0200), "XP Tablet PC"},
      {"home before embedded", Facts::Nt(5, 1).Suite(0x0240), "XP Home"},
      {"embedded", Facts::Nt(5, 1).Suite(0x0040), "XP Embedded"},
      {"professional otherwise", Facts::Nt(5, 1).Suite(0x0100), "XP Professional"},
      {"2000", Facts::Nt(5, 0), "2000 Professional"},
      {"5.2 on itanium", Facts::Nt(5, 2).Arch(kItanium), "Server 2003 Professional"},
      {"major 3", Facts::Nt(3, 51), "NT Unknown Workstation"},
      {"major 10", Facts::Nt(10, 0), "10 Unknown Workstation"},
  };
  for (const auto& c : cases) {
    Facts facts = c.facts;
    EXPECT_EQ(Identify(facts.Type(kWorkstation)).SystemName,
              std::string("Microsoft Windows ") + c.system_name)
        << c.label;
  }
}

TEST(NtEdition, ServerRowsInOrder) {
  const struct {
    const char* label;
    Facts facts;
    const char* system_name;
  } cases[] = {
      {"NT 4 enterprise", Facts::Nt(4, 0).Type(kServer).Suite(0x0002), "NT Server 4.0 Enterprise"},
      {"NT 4", Facts::Nt(4, 0).Type(kDomainController).Suite(0x0080), "NT Server 4.0"},
      {"2000 datacenter first", Facts::Nt(5, 0).Type(kServer).Suite(0x0082),
       "2000 Datacenter Server"},
      {"2000 advanced", Facts::Nt(5, 0).Type(kServer).Suite(0x0002), "2000 Advanced Server"},
      {"2000 server", Facts::Nt(5, 0).Type(kDomainController).Suite(0x0400), "2000 Server"},
      {"cluster first", Facts::Nt(5, 2).Type(kServer).Suite(0x4082),
       "Server 2003 Computer Cluster"},
      {"datacenter", Facts::Nt(5, 2).Type(kServer).Suite(0x0082), "Server 2003 Datacenter"},
      {"enterprise", Facts::Nt(5, 2).Type(kServer).Suite(0x0002), "Server 2003 Enterprise"},
      {"0x0402 is enterprise, not web", Facts::Nt(5, 2).Type(kServer).Suite(0x0402),
       "Server 2003 Enterprise"},
      {"web", Facts::Nt(5, 2).Type(kServer).Suite(0x0400), "Server 2003 Web"},
      {"web needs the whole mask", Facts::Nt(5, 2).Type(kServer).Suite(0x0410),
       "Server 2003 Standard"},
      {"standard", Facts::Nt(5, 2).Type(kDomainController), "Server 2003 Standard"},
      {"itanium datacenter", Facts::Nt(5, 2).Type(kServer).Arch(kItanium).Suite(0x0082),
       "Server 2003 Datacenter for Itanium-based Systems"},
      {"itanium enterprise", Facts::Nt(5, 2).Type(kServer).Arch(kItanium).Suite(0x0002),
       "Server 2003 Enterprise for Itanium-based Systems"},
      {"itanium cluster bit is ignored", Facts::Nt(5, 2).Type(kServer).Arch(kItanium).Suite(0x4000),
       "Server 2003 Standard Itanium-based"},
      {"itanium web mask is ignored", Facts::Nt(5, 2).Type(kServer).Arch(kItanium).Suite(0x0400),
       "Server 2003 Standard Itanium-based"},
      {"amd64 datacenter", Facts::Nt(5, 2).Type(kServer).Arch(kAmd64).Suite(0x0082),
       "Server 2003 Datacenter x64"},
      {"amd64 enterprise", Facts::Nt(5, 2).Type(kServer).Arch(kAmd64).Suite(0x0002),
       "Server 2003 Enterprise x64"},
      {"amd64 standard", Facts::Nt(5, 2).Type(kServer).Arch(kAmd64).Suite(0x4000),
       "Server 2003 Standard x64"},
      {"architecture 12", Facts::Nt(5, 2).Type(kServer).Arch(12).Suite(0x0002),
       "Server 2003 Unknown on Architecture 0xC"},
      {"architecture 0xABC0", Facts::Nt(5, 2).Type(kDomainController).Arch(0xABC0),
       "Server 2003 Unknown on Architecture 0xABC0"},
      {"architecture 5", Facts::Nt(5, 2).Type(kServer).Arch(5),
       "Server 2003 Unknown on "
       "Architecture 0x5"},
      {"5.1 server", Facts::Nt(5, 1).Type(kServer), "XP Unknown Server"},
      {"5.1 domain controller", Facts::Nt(5, 1).Type(kDomainController),
       "XP Unknown Domain controller"},
      {"5.3 server", Facts::Nt(5, 3).Type(kServer), "Unknown version Unknown Server"},
      {"major 3 domain controller", Facts::Nt(3, 51).Type(kDomainController),
       "NT Unknown Domain controller"},
      {"major 10 server", Facts::Nt(10, 0).Type(kServer), "Server 2016 Unknown Server"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Identify(c.facts).SystemName, std::string("Microsoft Windows ") + c.system_name)
        << c.label;
  }
}

TEST(NtEdition, OtherProductTypesAreUnknown) {
  const uint8_t types[] = {0, 4, 255};
  for (uint8_t type : types) {
    EXPECT_EQ(Identify(Facts::Nt(5, 1).Type(type)).SystemName, "Microsoft Windows XP Unknown")
        << int(type);
    EXPECT_EQ(Identify(Facts::Nt(4, 0).Type(type).Suite(0x0002)).SystemName,
              "Microsoft Windows NT Unknown")
        << int(type);
  }
}

TEST(NtEdition, WithoutExtendedDataTheProductOptionsNameIt) {
  const struct {
    const char* label;
    ProductTypeAnswer answer;
    const char* edition;
  } cases[] = {
      {"WinNT after upper-casing", ProductTypeText("WinNT"), "Workstation"},
      {"WINNT", ProductTypeText("WINNT"), "Workstation"},
      {"LanmanNT", ProductTypeText("LanmanNT"), "Server"},
      {"ServerNT", ProductTypeText("ServerNT"), "Advanced Server"},
      {"exact comparison", ProductTypeText("WinNT "), "Unknown"},
      {"longer text", ProductTypeText("WINNTX"), "Unknown"},
      {"empty text", ProductTypeText(""), "Unknown"},
      {"not REG_SZ", {true, true, false, "WinNT"}, ""},
      {"read fails", {true, false, true, "WinNT"}, ""},
      {"key does not open", {false, true, true, "WinNT"}, ""},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.product_type = c.answer;
    // Extended fields in the record are not trusted without extended data.
    Facts facts = Facts::Nt(4, 0).Type(kServer).Suite(0x0002).PlainOnly();
    EXPECT_EQ(Identify(facts, platform).SystemName,
              std::string("Microsoft Windows NT ") + c.edition)
        << c.label;
    EXPECT_EQ(platform.product_type_reads, 1) << c.label;
    EXPECT_EQ(platform.product_name_reads, 0) << c.label;
  }
}

TEST(NtEdition, WithoutExtendedDataTheProductTypeCountsAsNotWorkstation) {
  FakePlatform platform;
  platform.product_type = ProductTypeText("WinNT");
  platform.product_name = NamedInRegistry("Windows 7 Professional");
  WindowsIdentity id =
      Identify(Facts::Nt(6, 1).Type(kWorkstation).Arch(kAmd64).PlainOnly(), platform);
  EXPECT_EQ(id.SystemName, "Microsoft Windows Server 2008 R2 Workstation");
  EXPECT_EQ(platform.product_name_reads, 0);
}

// ---------------------------------------------------------------------------------------------

TEST(ServicePack, Nt4ServicePack6aIsKnownByItsHotfixKey) {
  const struct {
    const char* label;
    Facts facts;
    bool hotfix_key;
    const char* service_pack;
    int hotfix_checks;
  } cases[] = {
      {"6 with key", Facts::Nt(4, 0).Type(kWorkstation).Csd("Service Pack 6"), true,
       "Service Pack 6a", 1},
      {"6 without key", Facts::Nt(4, 0).Type(kWorkstation).Csd("Service Pack 6"), false,
       "Service Pack 6", 1},
      {"6 without extended data", Facts::Nt(4, 0).Csd("Service Pack 6").PlainOnly(), true,
       "Service Pack 6a", 1},
      {"text ends at NUL", Facts::Nt(4, 0).Type(kServer).Csd(std::string("Service Pack 6\0x", 16)),
       true, "Service Pack 6a", 1},
      {"5 is not asked about", Facts::Nt(4, 0).Type(kWorkstation).Csd("Service Pack 5"), true,
       "Service Pack 5", 0},
      {"exact text only", Facts::Nt(4, 0).Type(kWorkstation).Csd("Service Pack 6 "), true,
       "Service Pack 6 ", 0},
      {"NT 4 only", Facts::Nt(5, 0).Type(kWorkstation).Csd("Service Pack 6"), true,
       "Service Pack 6", 0},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.hotfix_key = c.hotfix_key;
    EXPECT_EQ(Identify(c.facts, platform).ServicePack, c.service_pack) << c.label;
    EXPECT_EQ(platform.hotfix_checks, c.hotfix_checks) << c.label;
  }
}

TEST(ServicePack, AFullRecordWithoutNulGivesAll128Characters) {
  const std::string full(128, 'S');
  EXPECT_EQ(Identify(Facts::Nt(5, 1).Type(kWorkstation).Csd(full + "overflow")).ServicePack, full);
  EXPECT_EQ(Identify(Facts::Win9x(4, 10, 1998).Csd(full)).ServicePack, full);
}

TEST(VersionNumber, FromTheNumbersWhenVerGaveNone) {
  // The build is the low 16 bits; NT keeps the whole minor version.
  EXPECT_EQ(Identify(Facts::Nt(5, 1, 0x0A280A28).Type(kWorkstation)).VersionNumber, "5.1.2600");
  EXPECT_EQ(Identify(Facts::Nt(5, 300, 1).Type(kWorkstation)).VersionNumber, "5.300.1");
  EXPECT_EQ(Identify(Facts::Nt(6, 1, 7601).Type(kWorkstation)).VersionNumber, "6.1.7601");
}

// ---------------------------------------------------------------------------------------------

TEST(Identification, FailsWhenNoQueryAnsweredOrThePlatformIsUnknown) {
  FakePlatform platform;
  WindowsIdentity id{"stale", "stale", "stale"};
  Facts silent = Facts::Nt(6, 1).Type(kWorkstation);
  silent.f.ExtendedQueryOk = false;
  silent.f.PlainQueryOk = false;
  EXPECT_FALSE(IdentifyWindows(silent.f, platform, &id));
  EXPECT_EQ(id.SystemName, "");
  EXPECT_EQ(id.VersionNumber, "");
  EXPECT_EQ(id.ServicePack, "");

  for (uint32_t platform_id : {0u, 3u, 0xFFFFFFFFu}) {
    id = {"stale", "stale", "stale"};
    Facts other = Facts::Make(platform_id, 6, 2, 9200).Type(kWorkstation).Csd("Service Pack 1");
    EXPECT_FALSE(IdentifyWindows(other.f, platform, &id)) << platform_id;
    EXPECT_EQ(id.SystemName, "Microsoft Windows ") << platform_id;
    EXPECT_EQ(id.VersionNumber, "") << platform_id;
    EXPECT_EQ(id.ServicePack, "") << platform_id;
  }
  EXPECT_EQ(platform.ver_asks, 0);
  EXPECT_EQ(platform.product_name_reads + platform.product_type_reads + platform.hotfix_checks, 0);
}

TEST(Identification, OutputsAreEmptiedAtEveryCall) {
  FakePlatform platform;
  WindowsIdentity id{"stale", "stale", "stale"};
  ASSERT_TRUE(IdentifyWindows(Facts::Nt(5, 1, 2600).Type(kWorkstation).f, platform, &id));
  EXPECT_EQ(id.SystemName, "Microsoft Windows XP Professional");
  EXPECT_EQ(id.ServicePack, "");
}

TEST(Identification, AProductNameOfTheWrongTypeIsARegistryErrorThatEscapes) {
  FakePlatform platform;
  platform.product_name_has_wrong_type = true;
  const Facts facts = Facts::Nt(6, 1, 7601).Type(kWorkstation).Arch(kAmd64);
  WindowsIdentity id;
  EXPECT_THROW(IdentifyWindows(facts.f, platform, &id), RegistryError);
  bool is_64bit = false;
  try {
    WindowsDisplayName(facts.f, platform, false, &is_64bit);
    ADD_FAILURE() << "no error";
  } catch (const RegistryError& error) {
    EXPECT_STREQ(error.what(), "Invalid data type for 'ProductName'");
    EXPECT_STREQ(error.Kind(), "RegistryError");
  }
  EXPECT_FALSE(is_64bit);
}

// ---------------------------------------------------------------------------------------------

TEST(DisplayName, JoinsOnlyWhatIsNotBlankAndTrimsNothing) {
  const struct {
    const char* label;
    WindowsIdentity id;
    bool include_version;
    const char* expected;
  } cases[] = {
      {"short", {"A", "1.2.3", "SP 3"}, false, "A SP 3"},
      {"long", {"A", "1.2.3", "SP 3"}, true, "A 1.2.3 SP 3"},
      {"long, blank pack", {"A", "1.2.3", " \t"}, true, "A 1.2.3"},
      {"short, blank pack", {"A", "1.2.3", ""}, false, "A"},
      {"long, blank version", {"A", "  ", "SP"}, true, "A SP"},
      {"long, all blank", {"A", "", ""}, true, "A"},
      {"untrimmed pack", {"A", "1", " A "}, false, "A  A "},
      {"untrimmed version", {"A", " 6.3.9600", "SP"}, true, "A  6.3.9600 SP"},
      {"high code is not blank", {"A", "1", "\xA0"}, false, "A \xA0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinDisplayName(c.id, c.include_version), c.expected) << c.label;
  }
}

TEST(DisplayName, SixtyFourBitOnlyWithABlankBefore64) {
  const struct {
    const char* name;
    bool is_64bit;
  } cases[] = {
      {"Windows 7 Professional 64-bit Service Pack 1", true},
      {" 64-bit", true},
      {"Microsoft Windows 7  32-bit", false},
      {"Microsoft Windows XP Professional x64", false},
      {"Microsoft Windows Server 2003 Datacenter x64 Service Pack 2", false},
      {"Microsoft Windows 10 Unknown Workstation", false},
      {"64-bit", false},
      {"Windows 10 Pro", false},
      {"Windows 10 Pro build 6400", true},  // a substring test, not a word test
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayNameIs64Bit(c.name), c.is_64bit) << c.name;
}

TEST(DisplayName, UnknownWhenIdentificationFailsAndIs64BitIsLeftAlone) {
  for (bool before : {false, true}) {
    FakePlatform platform;
    bool is_64bit = before;
    EXPECT_EQ(
        WindowsDisplayName(Facts::Make(0, 6, 1, 7601).Arch(kAmd64).f, platform, true, &is_64bit),
        "unknown");
    EXPECT_EQ(is_64bit, before);
  }
  // A successful identification overwrites it either way.
  FakePlatform platform;
  bool is_64bit = true;
  WindowsDisplayName(Facts::Nt(5, 1).Type(kWorkstation).f, platform, false, &is_64bit);
  EXPECT_FALSE(is_64bit);
}

// ---------------------------------------------------------------------------------------------

// Whole systems as users know them.
TEST(KnownSystems, NamesVersionsAndBitness) {
  const struct {
    const char* label;
    Facts facts;
    std::string ver_output;
    ProductNameAnswer product_name;
    ProductTypeAnswer product_type;
    const char* system_name;
    const char* version;
    const char* short_form;
    const char* long_form;
    bool is_64bit;
  } cases[] = {
      {"XP Professional SP3",
       Facts::Nt(5, 1, 2600).Type(kWorkstation).Suite(0x0100).Csd("Service Pack 3"), "",
       kNameKeyMissing, kOptionsKeyMissing, "Microsoft Windows XP Professional", "5.1.2600",
       "Microsoft Windows XP Professional Service Pack 3",
       "Microsoft Windows XP Professional 5.1.2600 Service Pack 3", false},
      {"XP Professional x64",
       Facts::Nt(5, 2, 3790).Type(kWorkstation).Arch(kAmd64).Suite(0x0100).Csd("Service Pack 2"),
       "", kNameKeyMissing, kOptionsKeyMissing, "Microsoft Windows XP Professional x64", "5.2.3790",
       "Microsoft Windows XP Professional x64 Service Pack 2",
       "Microsoft Windows XP Professional x64 5.2.3790 Service Pack 2", false},
      {"7 SP1 64-bit", Facts::Nt(6, 1, 7601).Type(kWorkstation).Arch(kAmd64).Csd("Service Pack 1"),
       "", NamedInRegistry("Windows 7 Professional"), kOptionsKeyMissing,
       "Windows 7 Professional 64-bit", "6.1.7601", "Windows 7 Professional 64-bit Service Pack 1",
       "Windows 7 Professional 64-bit 6.1.7601 Service Pack 1", true},
      {"7 SP1 64-bit without the key",
       Facts::Nt(6, 1, 7601).Type(kWorkstation).Arch(kAmd64).Csd("Service Pack 1"), "",
       kNameKeyMissing, kOptionsKeyMissing, "Microsoft Windows 7  64-bit", "6.1.7601",
       "Microsoft Windows 7  64-bit Service Pack 1",
       "Microsoft Windows 7  64-bit 6.1.7601 Service Pack 1", true},
      {"6.2 that is 10", Facts::Nt(6, 2, 9200).Type(kWorkstation).Arch(kAmd64),
       "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n", NamedInRegistry("Windows 10 Pro"),
       kOptionsKeyMissing, "Windows 10 Pro 64-bit", " 10.0.19045.3803", "Windows 10 Pro 64-bit",
       "Windows 10 Pro 64-bit  10.0.19045.3803", true},
      {"empty product name", Facts::Nt(6, 1, 7601).Type(kWorkstation).Arch(kAmd64), "",
       NamedInRegistry(""), kOptionsKeyMissing, " 64-bit", "6.1.7601", " 64-bit",
       " 64-bit 6.1.7601", true},
      {"98 SE", Facts::Win9x(4, 10, 0x040A08AE).Csd(" A "), "", kNameKeyMissing, kOptionsKeyMissing,
       "Microsoft Windows 98 SE", "4.10.2222", "Microsoft Windows 98 SE  A ",
       "Microsoft Windows 98 SE 4.10.2222  A ", false},
      {"95 OSR 2.0", Facts::Win9x(4, 0, 0x04000457), "", kNameKeyMissing, kOptionsKeyMissing,
       "Microsoft Windows 95 OSR 2.0", "4.0.1111", "Microsoft Windows 95 OSR 2.0",
       "Microsoft Windows 95 OSR 2.0 4.0.1111", false},
      {"Storage Server 2003", Facts::Nt(5, 2, 3790).Type(kServer).Suite(0x2000), "",
       kNameKeyMissing, kOptionsKeyMissing, "Microsoft Windows Storage Server 2003Standard",
       "5.2.3790", "Microsoft Windows Storage Server 2003Standard",
       "Microsoft Windows Storage Server 2003Standard 5.2.3790", false},
      {"Server 2003 0x0402", Facts::Nt(5, 2, 3790).Type(kServer).Suite(0x0402), "", kNameKeyMissing,
       kOptionsKeyMissing, "Microsoft Windows Server 2003 Enterprise", "5.2.3790",
       "Microsoft Windows Server 2003 Enterprise",
       "Microsoft Windows Server 2003 Enterprise 5.2.3790", false},
      {"Server 2003 on architecture 12", Facts::Nt(5, 2, 3790).Type(kServer).Arch(12), "",
       kNameKeyMissing, kOptionsKeyMissing,
       "Microsoft Windows Server 2003 Unknown on Architecture 0xC", "5.2.3790",
       "Microsoft Windows Server 2003 Unknown on Architecture 0xC",
       "Microsoft Windows Server 2003 Unknown on Architecture 0xC 5.2.3790", false},
      {"10.0 workstation", Facts::Nt(10, 0, 19045).Type(kWorkstation).Arch(kAmd64), "",
       NamedInRegistry("Windows 10 Pro"), kOptionsKeyMissing,
       "Microsoft Windows 10 Unknown Workstation", "10.0.19045",
       "Microsoft Windows 10 Unknown Workstation",
       "Microsoft Windows 10 Unknown Workstation 10.0.19045", false},
      {"NT 4 without extended data", Facts::Nt(4, 0, 1381).Csd("Service Pack 5").PlainOnly(), "",
       kNameKeyMissing, ProductTypeText("WinNT"), "Microsoft Windows NT Workstation", "4.0.1381",
       "Microsoft Windows NT Workstation Service Pack 5",
       "Microsoft Windows NT Workstation 4.0.1381 Service Pack 5", false},
  };
  for (const auto& c : cases) {
    for (bool include_version : {false, true}) {
      FakePlatform platform;
      platform.ver_output = c.ver_output;
      platform.product_name = c.product_name;
      platform.product_type = c.product_type;
      WindowsIdentity id = Identify(c.facts, platform);
      EXPECT_EQ(id.SystemName, c.system_name) << c.label;
      EXPECT_EQ(id.VersionNumber, c.version) << c.label;
      bool is_64bit = !c.is_64bit;
      EXPECT_EQ(WindowsDisplayName(c.facts.f, platform, include_version, &is_64bit),
                include_version ? c.long_form : c.short_form)
          << c.label;
      EXPECT_EQ(is_64bit, c.is_64bit) << c.label;
    }
  }
}

// ---------------------------------------------------------------------------------------------

// The line of "ver" is built from the system's own version record. Fed with the versions of
// the systems a reported 6.2 stands for, the builder must give the very lines their "ver"
// printed, and the tables must then name each system as those lines did.
TEST(VerOutput, TheBuiltLineIsTheOneRealWindowsPrintsAndNamesTheSystemAlike) {
  const struct {
    const char* label;
    SystemVersion version;
    const char* printed;  // what "ver" printed there, each line followed by CR LF
    uint8_t type;
    const char* family;  // with the product name unreadable, the family part stays visible
    const char* version_number;
  } cases[] = {
      {"8",
       {6, 2, 9200},
       "\r\nMicrosoft Windows [Version 6.2.9200]\r\n",
       kWorkstation,
       "Microsoft Windows 8  64-bit",
       " 6.2.9200"},
      {"Server 2012",
       {6, 2, 9200},
       "\r\nMicrosoft Windows [Version 6.2.9200]\r\n",
       kServer,
       "Microsoft Windows Server 2012  64-bit",
       " 6.2.9200"},
      {"8.1",
       {6, 3, 9600},
       "\r\nMicrosoft Windows [Version 6.3.9600]\r\n",
       kWorkstation,
       "Microsoft Windows 8.1  64-bit",
       " 6.3.9600"},
      {"Server 2012 R2",
       {6, 3, 9600},
       "\r\nMicrosoft Windows [Version 6.3.9600]\r\n",
       kDomainController,
       "Microsoft Windows Server 2012 R2  64-bit",
       " 6.3.9600"},
      {"10 22H2",
       {10, 0, 19045, true, 3803},
       "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n",
       kWorkstation,
       "Microsoft Windows 10  64-bit",
       " 10.0.19045.3803"},
      {"11 23H2",
       {10, 0, 22631, true, 2861},
       "\r\nMicrosoft Windows [Version 10.0.22631.2861]\r\n",
       kWorkstation,
       "Microsoft Windows 10  64-bit",
       " 10.0.22631.2861"},
      {"Server 2019",
       {10, 0, 17763, true, 5206},
       "\r\nMicrosoft Windows [Version 10.0.17763.5206]\r\n",
       kServer,
       "Microsoft Windows Server 10  64-bit",
       " 10.0.17763.5206"},
      {"Server 2022",
       {10, 0, 20348, true, 2113},
       "\r\nMicrosoft Windows [Version 10.0.20348.2113]\r\n",
       kServer,
       "Microsoft Windows Server 10  64-bit",
       " 10.0.20348.2113"},
  };
  for (const auto& c : cases) {
    const std::string built = VerOutputOf(c.version);
    EXPECT_EQ(built, c.printed) << c.label;
    for (const std::string& ver : {built, std::string(c.printed)}) {
      FakePlatform platform;
      platform.ver_output = ver;
      const Facts reported = Facts::Nt(6, 2, 9200).Type(c.type).Arch(kAmd64);
      WindowsIdentity id = Identify(reported, platform);
      EXPECT_EQ(id.SystemName, c.family) << c.label;
      EXPECT_EQ(id.VersionNumber, c.version_number) << c.label;
      EXPECT_EQ(platform.ver_asks, 1) << c.label;
    }
  }
}

// With the product name read, as on every real system: the name is the registry's, the
// bitness word follows the architecture, and only that word makes the system 64-bit.
TEST(VerOutput, ASystemReportedAs62KeepsItsNameAndBitnessWithTheBuiltLine) {
  const struct {
    const char* label;
    SystemVersion version;
    const char* product_name;
    uint16_t architecture;
    const char* short_form;
    bool is_64bit;
  } cases[] = {
      {"8 Pro", {6, 2, 9200}, "Windows 8 Pro", kAmd64, "Windows 8 Pro 64-bit", true},
      {"8.1 on intel", {6, 3, 9600}, "Windows 8.1", kIntel, "Windows 8.1 32-bit", false},
      {"10 Pro",
       {10, 0, 19045, true, 3803},
       "Windows 10 Pro",
       kAmd64,
       "Windows 10 Pro 64-bit",
       true},
      {"11 Pro (its registry says 10)",
       {10, 0, 22631, true, 2861},
       "Windows 10 Pro",
       kAmd64,
       "Windows 10 Pro 64-bit",
       true},
      {"10 on intel",
       {10, 0, 19045, true, 3803},
       "Windows 10 Home",
       kIntel,
       "Windows 10 Home 32-bit",
       false},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    platform.ver_output = VerOutputOf(c.version);
    platform.product_name = NamedInRegistry(c.product_name);
    bool is_64bit = !c.is_64bit;
    EXPECT_EQ(WindowsDisplayName(Facts::Nt(6, 2, 9200).Type(kWorkstation).Arch(c.architecture).f,
                                 platform, false, &is_64bit),
              c.short_form)
        << c.label;
    EXPECT_EQ(is_64bit, c.is_64bit) << c.label;
  }
}

TEST(VerOutput, NumbersAreWholeUnsignedDecimalsAndTheRevisionOnlyWhenRecorded) {
  const struct {
    SystemVersion version;
    const char* line;
  } cases[] = {
      {{6, 1, 7601}, "Microsoft Windows [Version 6.1.7601]"},
      {{10, 0, 10240, true, 0}, "Microsoft Windows [Version 10.0.10240.0]"},
      {{10, 0, 19045, false, 3803}, "Microsoft Windows [Version 10.0.19045]"},
      {{0, 0, 0}, "Microsoft Windows [Version 0.0.0]"},
      {{4294967295u, 4294967295u, 4294967295u, true, 4294967295u},
       "Microsoft Windows [Version 4294967295.4294967295.4294967295.4294967295]"},
      {{12, 0, 100}, "Microsoft Windows [Version 12.0.100]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VerOutputOf(c.version), std::string("\r\n") + c.line + "\r\n") << c.line;
  }
  // An unknown major version reads its family from the built line as from a printed one.
  FakePlatform platform;
  platform.ver_output = VerOutputOf({12, 0, 100});
  WindowsIdentity id = Identify(Facts::Nt(12, 0, 100).Type(kServer), platform);
  EXPECT_EQ(id.SystemName, "Microsoft Windows Server 12 Unknown Server");
  EXPECT_EQ(id.VersionNumber, "12.0.100");
}

}  // namespace
}  // namespace kestrane
