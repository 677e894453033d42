// Reads and dismisses the message boxes this process shows, so that tests under Wine can
// check what the user would have read. Needs an X display; without one Wine fails every box
// at once and nothing is recorded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrane {

struct SeenBox {
  std::string caption;
  std::string text;  // in the ANSI code page, as the program passed it
};

class BoxWatcher {
 public:
  // Starts watching on a thread of its own; every box is recorded and answered with OK.
  BoxWatcher();
  // Stops watching; boxes still open are left to the program.
  ~BoxWatcher();
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  // Returns the boxes seen so far, oldest first.
  std::vector<SeenBox> Boxes();

 private:
  static DWORD WINAPI Run(void* self);
  void Watch();
  void Record(HWND box);

  CRITICAL_SECTION lock_;
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
  std::vector<SeenBox> boxes_;
};

// Returns true when boxes can be shown and read here (an X display is set).
bool BoxesCanBeRead();

}  // namespace kestrane
