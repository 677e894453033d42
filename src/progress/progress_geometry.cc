#include "progress/progress_geometry.h"

namespace kestrane {

int32_t CentredOrigin(int32_t screen_extent, int32_t window_extent) {
  // The difference of two 32-bit extents needs 33 bits; half of it fits 32 again.
  const int64_t difference = static_cast<int64_t>(screen_extent) - window_extent;
  // Integer division truncates toward zero; an odd negative difference must go one lower.
  int64_t half = difference / 2;
  if (difference % 2 != 0 && difference < 0) --half;
  return static_cast<int32_t>(half);
}

}  // namespace kestrane
