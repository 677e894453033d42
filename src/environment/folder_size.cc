#include "environment/folder_size.h"

namespace kestrane {
namespace {

// Entry attributes that a find mask must name for such entries to be returned.
constexpr uint32_t kSelectiveAttributes = 0x02 | 0x04 | 0x08 | 0x10;  // hidden, system, volume, dir

}  // namespace

int32_t SizeTotal::KiB() const {
  const uint64_t kib = bytes_ >> 10;
  return kib > static_cast<uint64_t>(kMaxFolderSizeKiB) ? kMaxFolderSizeKiB
                                                        : static_cast<int32_t>(kib);
}

bool MatchesAttributeMask(uint32_t attributes, uint32_t mask) {
  return (attributes & kSelectiveAttributes & ~mask) == 0;
}

}  // namespace kestrane
