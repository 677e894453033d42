// Which system icon a message box shows.
#pragma once

#include <windows.h>

namespace robot {

// "error", "question", "warning", "information", "none" (no icon control) or "unknown" (no
// system icon matched within 5 s).
const char* IconName(HWND box);

}  // namespace robot
