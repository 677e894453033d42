// Any bytes as the file "ver" printed into: the line reader must give back exactly its lines,
// each followed by "\r\n", and the identification must read the version from that text for
// every system that asks "ver", staying within the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "startup/text_lines.h"
#include "startup/windows_version.h"
#include "startup/console_output.h"

namespace {

using namespace kestrane;

// The lines of the output as the runtime's text reader sees them, written independently of
// ReadTextLine: a line ends at a line feed, carriage returns are no part of any line, and one
// line is read before the end of the bytes is first tested (so a lone carriage return after
// the last line feed still makes an empty line).
std::string ExpectedJoin(std::string_view bytes) {
  std::string_view rest = bytes;
  if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
  std::string joined;
  for (;;) {
    const size_t end = rest.find('\n');
    for (char c : rest.substr(0, end)) {
      if (c != '\r') joined += c;
    }
    joined += "\r\n";
    if (end == std::string_view::npos) return joined;
    rest.remove_prefix(end + 1);
  }
}

class VerOutput : public PlatformQueries {
 public:
  explicit VerOutput(std::string printed) : printed_(std::move(printed)) {}
  std::string ConsoleOutput(const std::string& command) override {
    if (command != "ver") std::abort();
    ++runs;
    return printed_;
  }
  ProductNameAnswer ReadProductName() override { return {}; }
  ProductTypeAnswer ReadProductType() override { return {}; }
  bool HotfixQ246009Opens() override { return false; }
  int runs = 0;

 private:
  std::string printed_;
};

PlatformFacts Reported(uint32_t major, uint32_t minor, uint8_t product_type) {
  PlatformFacts facts;
  facts.ExtendedQueryOk = true;
  facts.Version.PlatformId = 2;
  facts.Version.MajorVersion = major;
  facts.Version.MinorVersion = minor;
  facts.Version.BuildNumber = 9200;
  facts.Version.ProductType = product_type;
  facts.Architecture = 9;
  return facts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  MemoryBytes source(bytes);
  const std::string joined = JoinOutputLines(source);
  if (joined != ExpectedJoin(bytes)) std::abort();

  // Reported 6.2 (Windows 8 and later) and a major version the tables do not name.
  const PlatformFacts systems[] = {Reported(6, 2, 1), Reported(6, 2, 3), Reported(7, 0, 1),
                                   Reported(2, 5, 3)};
  for (const PlatformFacts& facts : systems) {
    VerOutput ver(joined);
    WindowsIdentity identity;
    if (!IdentifyWindows(facts, ver, &identity) || ver.runs != 1) std::abort();
    // The version is a piece of the printed text, or the numbers when it names none.
    const std::string& number = identity.VersionNumber;
    if (joined.find(number) == std::string::npos &&
        number != std::to_string(facts.Version.MajorVersion) + "." +
                      std::to_string(facts.Version.MinorVersion) + ".9200") {
      std::abort();
    }
    const std::string prefix = "Microsoft Windows ";
    if (identity.SystemName.compare(0, prefix.size(), prefix) != 0) std::abort();
    // The family part is a piece of the text or a fixed word, and the edition a fixed word.
    if (identity.SystemName.size() > prefix.size() + joined.size() + 64) std::abort();
  }
  return 0;
}
