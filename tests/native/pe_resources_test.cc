#include "seal/pe_resources.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "synthetic_pe.h"

namespace kestrane {
namespace {

namespace pe = synthetic_pe;
using Bytes = std::vector<uint8_t>;

const Bytes kPayload = {'k', 'v', 'x', 0, 0x22, 0x6F, 0x01, 0xCB, 0x42, 0x00, 0xFF};

ResourceOutcome Find(const Bytes& file, const std::string& type, const std::string& name,
                     ResourceLocation* location) {
  MemorySource source(file);
  PeLayout layout;
  EXPECT_TRUE(ReadPeLayout(source, &layout).ok());
  return FindPeResource(source, layout, type, name, location);
}

TEST(PeResources, FindsTheResourceBytesWhateverTheQuerysCase) {
  for (bool plus : {false, true}) {
    const Bytes file = pe::BuildWithResource(plus, kPayload);
    for (const char* type : {"COK", "cok", "Cok"}) {
      ResourceLocation location;
      ResourceOutcome outcome = Find(file, type, "kvx", &location);
      ASSERT_EQ(outcome.status, ResourceStatus::kFound) << outcome.problem;
      EXPECT_EQ(location.file_offset, pe::kResourceSection + pe::kResourceData);
      EXPECT_EQ(location.size, kPayload.size());
      EXPECT_EQ(location.languages, 1u);
      EXPECT_EQ(location.language_id, 0x409u);
      EXPECT_EQ(Bytes(file.begin() + location.file_offset,
                      file.begin() + location.file_offset + location.size),
                kPayload);
    }
  }
}

TEST(PeResources, OtherNamesAndFilesWithoutResourcesAreNotFound) {
  const Bytes file = pe::BuildWithResource(false, kPayload);
  const struct {
    const Bytes* file;
    const char* type;
    const char* name;
  } rows[] = {
      {&file, "COK", "KV"},  {&file, "COK", "KVXX"}, {&file, "DAT", "KVX"},
      {&file, "KVX", "COK"}, {&file, "COK", ""},     {&file, "COK", "KV\xD0"},
  };
  for (const auto& row : rows) {
    ResourceLocation location;
    EXPECT_EQ(Find(*row.file, row.type, row.name, &location).status, ResourceStatus::kNotFound)
        << row.type << "/" << row.name;
  }
  ResourceLocation location;
  EXPECT_EQ(Find(pe::Build(false), "COK", "KVX", &location).status, ResourceStatus::kNotFound);
}

// Hostile directories: every pointer the walk follows, bent out of place, gives a verdict
// and no read outside the file (the tests run under AddressSanitizer over exact copies).
TEST(PeResources, BentPointersAreMalformed) {
  using Change = std::function<void(Bytes&)>;
  const uint32_t base = pe::kResourceSection;
  constexpr uint32_t kHigh = 0x80000000u;
  const struct {
    const char* name;
    Change change;
  } rows[] = {
      {"directory address in no section",
       [](Bytes& b) { pe::Put32(b, pe::ResourceEntryOffset(false), 0x9000); }},
      {"directory larger than its section",
       [](Bytes& b) { pe::Put32(b, pe::ResourceEntryOffset(false) + 4, 0x201); }},
      {"more root entries than room", [&](Bytes& b) { pe::Put16(b, base + 12, 0xFFFF); }},
      {"type name outside the directory",
       [&](Bytes& b) { pe::Put32(b, base + pe::kRootEntry, kHigh | 0x7FFFFFF0); }},
      {"named entry without a name", [&](Bytes& b) { pe::Put32(b, base + pe::kRootEntry, 7); }},
      {"type without a directory",
       [&](Bytes& b) { pe::Put32(b, base + pe::kRootEntry + 4, 0x18); }},
      {"name directory outside",
       [&](Bytes& b) { pe::Put32(b, base + pe::kTypeEntry + 4, kHigh | 0xFFFF); }},
      {"no language entry", [&](Bytes& b) { pe::Put16(b, base + pe::kNameDirectory + 14, 0); }},
      {"language entry is a directory",
       [&](Bytes& b) { pe::Put32(b, base + pe::kLanguageEntry + 4, kHigh | pe::kTypeDirectory); }},
      {"data entry outside", [&](Bytes& b) { pe::Put32(b, base + pe::kLanguageEntry + 4, 0x7F0); }},
      {"data past its section", [&](Bytes& b) { pe::Put32(b, base + pe::kDataEntry + 4, 0x181); }},
      {"data past its section, inside the file",
       [&](Bytes& b) {
         pe::Put32(b, pe::SectionTableOffset(false) + 2 * 40 + 16, 0x100);  // SizeOfRawData
         pe::Put32(b, base + pe::kDataEntry + 4, 0x81);
       }},
      {"data of 4 GiB", [&](Bytes& b) { pe::Put32(b, base + pe::kDataEntry + 4, 0xFFFFFFFF); }},
      {"data address in no section", [&](Bytes& b) { pe::Put32(b, base + pe::kDataEntry, 0x10); }},
  };
  for (const auto& row : rows) {
    Bytes file = pe::BuildWithResource(false, kPayload);
    row.change(file);
    ResourceLocation location;
    ResourceOutcome outcome = Find(file, "COK", "KVX", &location);
    EXPECT_EQ(outcome.status, ResourceStatus::kMalformed) << row.name << ": " << outcome.problem;
  }
}

}  // namespace
}  // namespace kestrane
