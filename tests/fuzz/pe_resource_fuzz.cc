// Arbitrary bytes as a package whose payload the build looks up: the resource walk must give
// a verdict without reading outside the input, and a resource it finds must lie inside the
// file. The first byte picks the query, so that both a name the seeds hold and others are
// looked up.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "seal/pe_resources.h"

using kestrane::FindPeResource;
using kestrane::MemorySource;
using kestrane::PeLayout;
using kestrane::ReadPeLayout;
using kestrane::ResourceLocation;
using kestrane::ResourceOutcome;
using kestrane::ResourceStatus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const char* const kQueries[][2] = {
      {"COK", "KVX"}, {"cok", "kvx"}, {"COK", "KV"}, {"DAT", "TINY"}};
  const auto& query = kQueries[data[0] % 4];
  // A copy of exactly the rest, so that AddressSanitizer sees any read past the end.
  std::vector<uint8_t> file(data + 1, data + size);
  MemorySource source(file.data(), file.size());
  PeLayout layout;
  if (!ReadPeLayout(source, &layout).ok()) return 0;
  ResourceLocation location;
  ResourceOutcome outcome = FindPeResource(source, layout, query[0], query[1], &location);
  if (outcome.status == ResourceStatus::kReadFailed) __builtin_trap();  // memory never fails
  if (outcome.status == ResourceStatus::kFound) {
    if (location.file_offset > file.size() || location.size > file.size() - location.file_offset) {
      __builtin_trap();
    }
    if (location.languages == 0) __builtin_trap();
  } else if (outcome.problem == nullptr || outcome.problem[0] == '\0') {
    __builtin_trap();  // every refusal says why
  }
  return 0;
}
