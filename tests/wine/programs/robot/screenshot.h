// Pictures of single boxes, taken before they are answered.
#pragma once

#include <windows.h>

#include <string>

namespace robot {

// Saves the screen rectangle of the window as a 24-bit BMP. Returns false on any failure.
bool SaveWindowShot(HWND window, const std::wstring& path);

}  // namespace robot
