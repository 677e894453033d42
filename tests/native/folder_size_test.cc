#include "environment/folder_size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kestrane {
namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

struct SumCase {
  const char* name;
  std::vector<uint64_t> file_sizes;
  int32_t kib;
};

int32_t KiBOf(const std::vector<uint64_t>& sizes) {
  SizeTotal total;
  for (uint64_t size : sizes) total.Add(size);
  return total.KiB();
}

TEST(FolderSizeArithmetic, TheSumIsDividedNotEachFile) {
  const SumCase cases[] = {
      {"no files", {}, 0},
      {"1023 bytes", {1023}, 0},
      {"1024 bytes", {1024}, 1},
      {"600 and 600 bytes", {600, 600}, 1},
      {"1023 files of 1 byte and one more", std::vector<uint64_t>(1025, 1), 1},
      {"2047 bytes rounds down", {2047}, 1},
      {"empty files", {0, 0, 0}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KiBOf(c.file_sizes), c.kib) << c.name;
  }
}

TEST(FolderSizeArithmetic, TreesOf4GiBAndMoreAreNotWrapped) {
  const SumCase cases[] = {
      {"exactly 4 GiB", {4 * kGiB}, 4 * 1024 * 1024},
      {"two 3 GiB files", {3 * kGiB, 3 * kGiB}, 6 * 1024 * 1024},
      {"4 GiB plus 1 KiB in small files", {4 * kGiB - 1024, 1024, 1024}, 4 * 1024 * 1024 + 1},
      {"just under the largest KiB value", {(uint64_t{0x7FFFFFFF} << 10) + 1023}, 0x7FFFFFFF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KiBOf(c.file_sizes), c.kib) << c.name;
  }
}

TEST(FolderSizeArithmetic, HugeTreesAreClampedAndNeverReadAsMissing) {
  const SumCase cases[] = {
      {"2 TiB is one KiB past the largest value", {uint64_t{0x80000000} << 10}, kMaxFolderSizeKiB},
      {"4 TiB would read as -1 in 32 bits", {uint64_t{0xFFFFFFFF} << 10}, kMaxFolderSizeKiB},
      {"sum that overflows 64 bits", {UINT64_MAX, UINT64_MAX, 5}, kMaxFolderSizeKiB},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KiBOf(c.file_sizes), c.kib) << c.name;
  }
}

TEST(FolderSizeArithmetic, FileSizesUseBothHalves) {
  EXPECT_EQ(FileSizeFromHalves(0, 1023), 1023u);
  EXPECT_EQ(FileSizeFromHalves(1, 0), uint64_t{1} << 32);
  EXPECT_EQ(FileSizeFromHalves(0xFFFFFFFF, 0xFFFFFFFF), UINT64_MAX);
  SizeTotal total;
  total.Add(UINT64_MAX);
  total.Add(1);
  EXPECT_EQ(total.Bytes(), UINT64_MAX) << "the total saturates instead of wrapping";
}

struct MaskCase {
  const char* name;
  uint32_t attributes;
  uint32_t mask;
  bool matches;
};

TEST(FolderSizeArithmetic, TheWalkMaskTakesEveryKindOfEntry) {
  const MaskCase cases[] = {
      {"plain file under the walk mask", 0x20, kFolderWalkAttributeMask, true},
      {"hidden system read-only file under the walk mask", 0x07, kFolderWalkAttributeMask, true},
      {"directory under the walk mask", 0x10, kFolderWalkAttributeMask, true},
      {"hidden directory under the walk mask", 0x12, kFolderWalkAttributeMask, true},
      {"compressed, encrypted and offline files", 0x1800 | 0x4000, kFolderWalkAttributeMask, true},
      {"hidden file under a mask without hidden", 0x22, 0x21, false},
      {"directory under a mask without directories", 0x10, 0x2F, false},
      {"archive file under an empty mask", 0x20, 0, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesAttributeMask(c.attributes, c.mask), c.matches) << c.name;
  }
}

}  // namespace
}  // namespace kestrane
