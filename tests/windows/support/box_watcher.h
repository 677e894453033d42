// Reads and dismisses the message boxes this process shows, so that tests under Wine can
// check what the user would have read. Needs an X display; without one Wine fails every box
// at once and nothing is recorded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrane {

struct SeenBox {
  std::wstring caption;  // as the user reads them: the box's wide texts
  std::wstring text;
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

// Returns text in the ANSI code page (a path as Windows gives it) as UTF-16, the way a box
// shows it.
std::wstring FromAnsi(const std::string& text);

}  // namespace kestrane
