// Where the progress window sits: a fixed outer size, centred on the primary screen.
#pragma once

#include <cstdint>

namespace kestrane {

// Outer size of the progress window in pixels. The status line and the bar are laid out for
// it, so it never changes with the screen.
constexpr int32_t ProgressWidth = 408;
constexpr int32_t ProgressHeight = 76;

// Returns the origin, along one axis, that centres a window of window_extent pixels on a
// screen of screen_extent pixels: half the difference rounded down, so a window larger than
// the screen starts left of (or above) its edge by the larger half. Never overflows.
int32_t CentredOrigin(int32_t screen_extent, int32_t window_extent);

}  // namespace kestrane
