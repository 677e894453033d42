// Arithmetic of the installed size: file sizes summed in 64 bits, reported in KiB as a
// 32-bit registry value.
#pragma once

#include <cstdint>

namespace kestrane {

// The largest size FolderSizeKiB reports; a larger tree is reported as this, never as a
// negative number that would read as "no folder".
constexpr int32_t kMaxFolderSizeKiB = 0x7FFFFFFF;

// Running byte total of a folder walk. Additions saturate at the largest 64-bit value, so no
// tree of any size wraps around to a small total.
class SizeTotal {
 public:
  void Add(uint64_t bytes) { bytes_ = bytes > UINT64_MAX - bytes_ ? UINT64_MAX : bytes_ + bytes; }
  uint64_t Bytes() const { return bytes_; }
  // Returns the total in KiB, rounded down, at most kMaxFolderSizeKiB.
  int32_t KiB() const;

 private:
  uint64_t bytes_ = 0;
};

// Returns the file size that a directory enumeration reports in two 32-bit halves.
constexpr uint64_t FileSizeFromHalves(uint32_t high, uint32_t low) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

// The attribute mask of the walk: read-only, hidden, system, volume label, directory and
// archive entries are all included.
constexpr uint32_t kFolderWalkAttributeMask = 63;

// Returns true when an entry with these attributes is enumerated under the mask: hidden,
// system, volume-label and directory entries are only included when the mask names them;
// every other entry always is.
bool MatchesAttributeMask(uint32_t attributes, uint32_t mask);

}  // namespace kestrane
