// Any version numbers as the system records them: the built "ver" line must carry exactly
// those numbers in the shape real Windows prints, and the identification must read from it the
// family and version that the numbers name, for every system that asks "ver".
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "startup/windows_version.h"

namespace {

using namespace kestrane;

class BuiltVer : public PlatformQueries {
 public:
  explicit BuiltVer(std::string line) : line_(std::move(line)) {}
  std::string VerOutput() override {
    ++asks;
    return line_;
  }
  ProductNameAnswer ReadProductName() override { return {}; }
  ProductTypeAnswer ReadProductType() override { return {}; }
  bool HotfixQ246009Opens() override { return false; }
  int asks = 0;

 private:
  std::string line_;
};

PlatformFacts Reported(uint32_t major, uint32_t minor, uint8_t product_type) {
  PlatformFacts facts;
  facts.ExtendedQueryOk = true;
  facts.Version.PlatformId = 2;
  facts.Version.MajorVersion = major;
  facts.Version.MinorVersion = minor;
  facts.Version.BuildNumber = 9200;
  facts.Version.ProductType = product_type;
  facts.Architecture = 6;  // Itanium: no bitness word, the family part stays visible
  return facts;
}

// Reads the numbers back out of the dotted text, independently of how it was built; false when
// the text is not three or four unsigned decimals joined by dots.
bool ParseDotted(const std::string& text, uint32_t* numbers, int* count) {
  *count = 0;
  uint64_t value = 0;
  bool digits = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (!digits || *count == 4) return false;
      numbers[(*count)++] = static_cast<uint32_t>(value);
      value = 0;
      digits = false;
    } else if (text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<uint64_t>(text[i] - '0');
      if (value > UINT32_MAX) return false;
      digits = true;
    } else {
      return false;
    }
  }
  return *count >= 3;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  SystemVersion version;
  // Small numbers reach the markers of the tables; any number must still come out whole.
  version.Major = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, 12)
                                      : input.ConsumeIntegral<uint32_t>();
  version.Minor = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, 30)
                                      : input.ConsumeIntegral<uint32_t>();
  version.Build = input.ConsumeIntegral<uint32_t>();
  version.HasRevision = input.ConsumeBool();
  version.Revision = input.ConsumeIntegral<uint32_t>();

  const std::string line = VerOutputOf(version);
  const std::string head = "\r\nMicrosoft Windows [Version ";
  const std::string tail = "]\r\n";
  if (!StartsWith(line, head) || line.size() < head.size() + tail.size() ||
      line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
    std::abort();
  }
  const std::string dotted = line.substr(head.size(), line.size() - head.size() - tail.size());
  uint32_t numbers[4] = {};
  int count = 0;
  if (!ParseDotted(dotted, numbers, &count)) std::abort();
  if (numbers[0] != version.Major || numbers[1] != version.Minor || numbers[2] != version.Build ||
      count != (version.HasRevision ? 4 : 3) ||
      (version.HasRevision && numbers[3] != version.Revision)) {
    std::abort();
  }

  // Reported 6.2 looks for the markers at the major version; the other systems that ask "ver"
  // read it generically: the family is the major version, the version the dotted text.
  const std::string major = std::to_string(version.Major);
  for (uint8_t type : {uint8_t{1}, uint8_t{3}}) {
    const bool workstation = type == 1;
    const std::string server = workstation ? "" : "Server ";
    const std::string generic = server + major + " ";
    std::string family = generic;
    bool has_marker = true;
    if (StartsWith(dotted, "6.2")) {
      family = workstation ? "8 " : "Server 2012 ";
    } else if (StartsWith(dotted, "6.3")) {
      family = workstation ? "8.1 " : "Server 2012 R2 ";
    } else if (StartsWith(dotted, "10")) {
      family = workstation ? "10 " : "Server 10 ";
    } else {
      has_marker = false;
    }
    const PlatformFacts reported62 = Reported(6, 2, type);
    const PlatformFacts unknown_major = Reported(7, 0, type);
    for (const PlatformFacts* facts : {&reported62, &unknown_major}) {
      BuiltVer ver(line);
      WindowsIdentity identity;
      if (!IdentifyWindows(*facts, ver, &identity) || ver.asks != 1) std::abort();
      const bool marker_found = facts->Version.MajorVersion == 6 && has_marker;
      const std::string expected_family = marker_found ? family : generic;
      // A marker's version keeps the blank before the number.
      const std::string expected_number = marker_found ? " " + dotted : dotted;
      if (!StartsWith(identity.SystemName, "Microsoft Windows " + expected_family)) std::abort();
      if (identity.VersionNumber != expected_number) std::abort();
    }
  }
  return 0;
}
