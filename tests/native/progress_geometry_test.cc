#include "progress/progress_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace kestrane {
namespace {

struct CentreCase {
  const char* name;
  int32_t screen;
  int32_t window;
  int32_t origin;
};

TEST(ProgressGeometry, CentresTheWindowAndRoundsHalvesDown) {
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  const CentreCase cases[] = {
      {"1024 wide screen puts the left edge at 308", 1024, ProgressWidth, 308},
      {"768 high screen puts the top edge at 346", 768, ProgressHeight, 346},
      {"1920 x 1080: left 756", 1920, ProgressWidth, 756},
      {"1920 x 1080: top 502", 1080, ProgressHeight, 502},
      {"odd difference drops the half pixel", 1025, ProgressWidth, 308},
      {"odd difference drops the half pixel vertically", 769, ProgressHeight, 346},
      {"window as wide as the screen starts at its edge", 408, ProgressWidth, 0},
      {"window one pixel wider than the screen starts one pixel off", 407, ProgressWidth, -1},
      {"window three pixels wider starts two pixels off", 405, ProgressWidth, -2},
      {"no screen at all (failed metrics) puts the window half off", 0, ProgressWidth, -204},
      {"extremes do not overflow upward", kMax, kMin, kMax},
      {"extremes do not overflow downward", kMin, kMax, kMin},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CentredOrigin(c.screen, c.window), c.origin) << c.name;
  }
}

}  // namespace
}  // namespace kestrane
