// The progress window: a small always-on-top window with a caption, one status line and a
// progress bar, run by a thread of its own so that the caller needs no message loop. The
// window is created on the first show and afterwards only hidden and shown again; it is
// driven only through the module-level operations below, which may be called at any time,
// before or after the window exists. None of them reports a failure: a window that cannot be
// made simply does not appear.
#pragma once

#include <windows.h>

#include <string>

#include "progress/thread_win.h"

namespace kestrane {

// The thread that runs the window. Its body asks to be freed when it ends, then runs
// RunProgressWindow; it keeps no state of its own.
class TSetupForm final : public TThread {
 public:
  // Makes the object and starts the window thread at once, without waiting for the window.
  // Returns nullptr when no thread could be started. The object deletes itself when the
  // thread ends, so the pointer only marks that a thread was started.
  static TSetupForm* Create();

 protected:
  void Execute() override;

 private:
  TSetupForm() = default;
  ~TSetupForm() override = default;
};

// Shows the window with the given caption and status line, topmost at its fixed place.
// The first call starts the window thread and returns without waiting for the window; calls
// made before that thread has created the window only replace the texts it will show.
void ShowProgressWindow(const std::string& caption, const std::string& text);

// Hides the window. Before any show it does nothing (and starts no thread); while the window
// is still being created, the window is created hidden.
void HideProgressWindow();

// Sets the window caption; before the window exists, the caption it will be created with.
void SetProgressCaption(const std::string& text);

// Sets the status line; before the window exists, the line it will be created with.
void SetProgressText(const std::string& text);

// The body of the window thread: centres, registers and creates the window, shows it unless
// it was hidden meanwhile, and runs its message loop. Returns when the loop ends (the window
// was destroyed), at once when the window class or the window cannot be made.
void RunProgressWindow();

// For tests: the two points at which the window thread calls a test's hook, so that a test
// can stop it there and make calls that land in that stage: before it creates the window (it
// then reads the recorded texts for the window), and after it has created the window but
// before it hands it over to the callers. Set the hook before the first show; nullptr (the
// default) calls nothing.
enum class ProgressStage { kBeforeCreate, kBeforeHandover };
using ProgressStageHook = void (*)(ProgressStage stage);
void SetProgressStageHook(ProgressStageHook hook);

// The window procedure of the "PlainWindow" class: creates the status line and the bar with
// the window and ends the window thread's loop when the window is destroyed.
LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace kestrane
