// Any platform facts, any "ver" text and any registry texts: the identification must stay
// within its texts and name every system without crashing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "startup/windows_version.h"

namespace {

using namespace kestrane;

class ScriptedPlatform : public PlatformQueries {
 public:
  std::string ver;
  ProductNameAnswer name;
  ProductTypeAnswer type;
  bool hotfix = false;
  std::string VerOutput() override { return ver; }
  ProductNameAnswer ReadProductName() override { return name; }
  ProductTypeAnswer ReadProductType() override { return type; }
  bool HotfixQ246009Opens() override { return hotfix; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  PlatformFacts facts;
  facts.ExtendedQueryOk = input.ConsumeBool();
  facts.PlainQueryOk = input.ConsumeBool();
  VersionRecord& v = facts.Version;
  // Small numbers reach the table rows; any number must still be safe.
  v.MajorVersion = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, 12)
                                       : input.ConsumeIntegral<uint32_t>();
  v.MinorVersion = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, 100)
                                       : input.ConsumeIntegral<uint32_t>();
  v.BuildNumber = input.ConsumeIntegral<uint32_t>();
  v.PlatformId = input.ConsumeIntegralInRange<uint32_t>(0, 3);
  const std::string csd = input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(0, 140));
  for (size_t i = 0; i < csd.size() && i < v.CSDVersion.size(); ++i) v.CSDVersion[i] = csd[i];
  v.SuiteMask = input.ConsumeIntegral<uint16_t>();
  v.ProductType = input.ConsumeIntegralInRange<uint8_t>(0, 4);
  facts.Architecture = input.ConsumeIntegralInRange<uint16_t>(0, 13);
  facts.TabletPC = input.ConsumeBool();
  facts.MediaCenter = input.ConsumeBool();
  facts.Starter = input.ConsumeBool();
  facts.ServerR2 = input.ConsumeBool();

  ScriptedPlatform platform;
  platform.name = {input.ConsumeBool(), input.ConsumeBool(), input.ConsumeRandomLengthString(64)};
  platform.type = {input.ConsumeBool(), input.ConsumeBool(), input.ConsumeBool(),
                   input.ConsumeRandomLengthString(16)};
  platform.hotfix = input.ConsumeBool();
  platform.ver = input.ConsumeRemainingBytesAsString();

  WindowsIdentity identity;
  const bool known = IdentifyWindows(facts, platform, &identity);
  bool is_64bit = false;
  const std::string name = WindowsDisplayName(facts, platform, true, &is_64bit);
  if (!known && name != "unknown") std::abort();
  if (known && name.compare(0, identity.SystemName.size(), identity.SystemName) != 0) std::abort();
  if (known && is_64bit != DisplayNameIs64Bit(name)) std::abort();
  return 0;
}
