#include "startup/pseudo_random.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrane {
namespace {

TEST(PseudoRandom, EqualSeedsRepeatTheSequenceAndNearbySeedsDoNot) {
  PseudoRandom first(42);
  PseudoRandom again(42);
  std::set<uint32_t> drawn;
  for (int i = 0; i < 1000; ++i) {
    const uint32_t value = first.Next32();
    EXPECT_EQ(again.Next32(), value);
    drawn.insert(value);
  }
  EXPECT_EQ(drawn.size(), 1000u);
  // Two clock readings a moment apart make nearby seeds; their sequences must differ.
  PseudoRandom a(1000), b(1001);
  EXPECT_NE(a.Next32(), b.Next32());
  PseudoRandom reseeded(1000);
  reseeded.Next32();
  reseeded.Seed(42);
  PseudoRandom fresh(42);
  EXPECT_EQ(reseeded.Next32(), fresh.Next32());
}

TEST(PseudoRandom, BelowDrawsEveryNumberEvenly) {
  PseudoRandom random(7);
  int counts[26] = {};
  for (int i = 0; i < 26 * 4000; ++i) {
    const uint32_t n = random.Below(26);
    ASSERT_LT(n, 26u);
    ++counts[n];
  }
  // 4000 expected per number; a uniform draw stays within 10% (about 6 standard deviations).
  for (int i = 0; i < 26; ++i) {
    EXPECT_GT(counts[i], 3600) << i;
    EXPECT_LT(counts[i], 4400) << i;
  }
  EXPECT_EQ(random.Below(0), 0u);
  EXPECT_EQ(random.Below(1), 0u);
}

}  // namespace
}  // namespace kestrane
