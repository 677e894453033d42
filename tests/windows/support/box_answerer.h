// Answers the message boxes this process shows from a script, recording what each box said
// and whether a progress window of this process was on the screen while it was up. Needs an
// X display; without one Wine fails every box at once and nothing is recorded.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kestrane {

struct AnsweredBox {
  std::wstring caption;  // as the user reads them: the box's wide texts
  std::wstring text;
  bool yes_no = false;            // it offered the buttons yes and no
  bool progress_visible = false;  // a progress window of this process was visible meanwhile
  int answer = 0;                 // the button id pressed
};

struct Answer {
  int button;                    // IDYES, IDNO, IDOK
  std::function<void()> before;  // runs on the answering thread before the button is pressed
};

class BoxAnswerer {
 public:
  // Starts answering on a thread of its own: each box gets the next scripted answer, and IDOK
  // once the script is used up.
  explicit BoxAnswerer(std::deque<Answer> script = {});
  // Stops answering; boxes still open are left to the program.
  ~BoxAnswerer();
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  // Returns the boxes answered so far, oldest first.
  std::vector<AnsweredBox> Boxes();

 private:
  static DWORD WINAPI Run(void* self);
  void Watch();
  void Answer(HWND box);

  CRITICAL_SECTION lock_;
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
  std::deque<kestrane::Answer> script_;
  std::vector<AnsweredBox> boxes_;
};

// The visible progress windows ("PlainWindow") of this process.
std::vector<HWND> VisibleProgressWindows();

// Waits up to timeout_ms for a visible progress window of this process; returns it or null.
HWND WaitForVisibleProgressWindow(DWORD timeout_ms);

// Returns the window's text, or its first child's (the status line) with child true.
std::string WindowTextOf(HWND window, bool child = false);

// Returns true when boxes can be shown and read here (an X display is set).
bool BoxesCanBeRead();

// Returns text in the ANSI code page (a path as Windows gives it) as UTF-16, the way a box
// shows it.
std::wstring FromAnsi(const std::string& text);

}  // namespace kestrane
