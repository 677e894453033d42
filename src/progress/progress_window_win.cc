#include "progress/progress_window_win.h"

#include <cstdint>

#include "progress/progress_geometry.h"
#include "startup/system_library_win.h"

// How the caller's thread and the window thread share the module state.
//
// Every field of ProgressState is read and written only under its lock, and no thread holds
// the lock across a call that can wait for the other thread (a message sent to a window of
// another thread). CreateThread, called under the lock, never waits for the new thread, and
// loading comctl32.dll under it waits at most for the loader lock, whose holders never take
// this lock. So the two threads cannot deadlock on it.
//
// 1. Before the window exists the caller only records: the latest caption, status line and
//    wanted visibility, and in ProgressThread that a window thread has been started. A second
//    show before the window exists finds that mark and starts no second thread.
// 2. The window thread stores the position it computed, then reads the caption for
//    CreateWindowExA and (in WM_CREATE) the status line, each under the lock. In one locked step it
//    then publishes the handles with ProgressWindowExists and copies the texts and visibility
//    latest at that moment; it applies the copy outside the lock, then enters its loop.
// 3. From then on the handles, the position and ProgressWindowExists never change, so a caller
//    that has seen ProgressWindowExists under the lock may use its copies of them outside it.
//    The caller changes the window only through SetWindowTextA and SetWindowPos, which reach
//    the window thread as sent messages. That thread handles sent messages only while it
//    waits: in its message loop, after it has applied its copy, or at the earliest while
//    ShowWindow activates the window, after the texts and the visible state are set. A call
//    made after the handover therefore always lands after the copy: the last call wins.
// 4. A test's stage hook runs on the window thread outside the lock, before step 2's creation
//    and between the creation and the handover; calls made while it holds the thread are
//    recorded as in step 1.
// 5. The window thread touches the state once more as it ends, to clear ProgressThread so
//    that no pointer to its freed object stays behind; a later show starts a new thread only
//    if the window was never made (ProgressWindowExists false).

namespace kestrane {
namespace {

constexpr char kClassName[] = "PlainWindow";
constexpr DWORD kWindowStyle = WS_DLGFRAME;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_STATICEDGE;
constexpr UINT kClassStyle = CS_VREDRAW | CS_HREDRAW | CS_NOCLOSE;

struct ChildLayout {
  const char* class_name;
  DWORD style;
  int left, top, width, height;
};
constexpr ChildLayout kStatusLine = {"STATIC", WS_CHILD | WS_VISIBLE, 2, 2, 399, 20};
constexpr ChildLayout kProgressBar = {
    "msctls_progress32", WS_CHILD | WS_VISIBLE | WS_THICKFRAME, 2, 24, 400, 20};

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  // Never deleted: the state it guards lives until the process ends.
  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

class Locked {
 public:
  explicit Locked(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~Locked() { section_.Leave(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CriticalSection& section_;
};

struct ProgressState {
  CriticalSection lock;
  int32_t ProgressLeft = 0;
  int32_t ProgressTop = 0;
  std::string ProgressCaption;  // the latest caption asked for
  std::string ProgressText;     // the latest status line asked for
  bool ProgressShown = false;   // whether the latest request was a show rather than a hide
  bool ProgressWindowExists = false;
  HWND ProgressWindow = nullptr;
  HWND ProgressLabel = nullptr;
  HWND ProgressBar = nullptr;              // kept, never used: nothing moves the bar
  TSetupForm* ProgressThread = nullptr;    // set while a window thread runs
  ProgressStageHook stage_hook = nullptr;  // tests only
};

// Made on first use and never destroyed: the window thread may still be running while the
// process's static objects are torn down at exit.
ProgressState& State() {
  static ProgressState* const state = new ProgressState();
  return *state;
}

// What the caller needs to address the window; empty until the window exists.
struct WindowTarget {
  bool exists = false;
  HWND window = nullptr;
  HWND label = nullptr;
  int32_t left = 0;
  int32_t top = 0;
};

WindowTarget TargetOf(const ProgressState& state) {
  WindowTarget target;
  target.exists = state.ProgressWindowExists;
  if (target.exists) {
    target.window = state.ProgressWindow;
    target.label = state.ProgressLabel;
    target.left = state.ProgressLeft;
    target.top = state.ProgressTop;
  }
  return target;
}

void PlaceWindow(const WindowTarget& target, UINT show_or_hide) {
  if (target.window == nullptr) return;
  SetWindowPos(target.window, HWND_TOPMOST, target.left, target.top, ProgressWidth, ProgressHeight,
               show_or_hide);
}

// The progress bar's class comes with comctl32.dll, which is loaded from the system folder
// only, never imported: a comctl32.dll beside the installer must not be picked up.
using InitCommonControlsFn = void(WINAPI*)();
// Loads comctl32.dll from the system folder and returns its InitCommonControls, or nullptr
// when the DLL or the function is missing there.
InitCommonControlsFn LoadCommonControls() {
  return reinterpret_cast<InitCommonControlsFn>(
      reinterpret_cast<void*>(SystemFunction("comctl32.dll", "InitCommonControls")));
}

bool RegisterPlainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.style = kClassStyle;
  window_class.lpfnWndProc = ProgressWindowProc;
  window_class.cbClsExtra = 4;
  window_class.cbWndExtra = 4;
  window_class.hInstance = instance;
  // A null resource name finds no icon, so the class has none; the window has no system menu
  // and would never show one.
  window_class.hIcon = LoadIconA(instance, nullptr);
  window_class.hIconSm = LoadIconA(instance, nullptr);
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  window_class.lpszMenuName = nullptr;
  window_class.lpszClassName = kClassName;
  return RegisterClassExA(&window_class) != 0;
}

HWND CreateChild(HWND parent, const ChildLayout& layout, const std::string& text) {
  return CreateWindowExA(0, layout.class_name, text.c_str(), layout.style, layout.left, layout.top,
                         layout.width, layout.height, parent, nullptr, GetModuleHandleA(nullptr),
                         nullptr);
}

void ForgetWindowThread() {
  ProgressState& state = State();
  Locked locked(state.lock);
  state.ProgressThread = nullptr;
}

}  // namespace

TSetupForm* TSetupForm::Create() {
  TSetupForm* form = new TSetupForm();
  if (!form->Start().valid()) {
    delete form;
    return nullptr;
  }
  return form;
}

void TSetupForm::Execute() {
  FreeOnTerminate();
  RunProgressWindow();
}

void ShowProgressWindow(const std::string& caption, const std::string& text) {
  ProgressState& state = State();
  WindowTarget target;
  {
    Locked locked(state.lock);
    state.ProgressShown = true;
    target = TargetOf(state);
    if (!target.exists) {
      state.ProgressCaption = caption;
      state.ProgressText = text;
      if (state.ProgressThread == nullptr) {
        // comctl32.dll is loaded here, before the window thread exists, not on that thread:
        // its DLL entry point registers window classes while it holds the loader lock, and
        // under Wine that deadlocks with a first window call the caller makes meanwhile (that
        // call's one-time set-up of the window system waits for the loader lock, the class
        // registration waits for that set-up). Loading it under the state's lock is safe:
        // nothing that runs under the loader lock takes that lock.
        // Only the load matters here: the window thread looks the function up again.
        static_cast<void>(LoadCommonControls());
        state.ProgressThread = TSetupForm::Create();
      }
      return;
    }
  }
  SetProgressCaption(caption);
  SetProgressText(text);
  PlaceWindow(target, SWP_SHOWWINDOW);
}

void HideProgressWindow() {
  ProgressState& state = State();
  WindowTarget target;
  {
    Locked locked(state.lock);
    state.ProgressShown = false;
    target = TargetOf(state);
  }
  PlaceWindow(target, SWP_HIDEWINDOW);
}

void SetProgressCaption(const std::string& text) {
  ProgressState& state = State();
  WindowTarget target;
  {
    Locked locked(state.lock);
    state.ProgressCaption = text;
    target = TargetOf(state);
  }
  if (target.window != nullptr) SetWindowTextA(target.window, text.c_str());
}

void SetProgressText(const std::string& text) {
  ProgressState& state = State();
  WindowTarget target;
  {
    Locked locked(state.lock);
    state.ProgressText = text;
    target = TargetOf(state);
  }
  if (target.label != nullptr) SetWindowTextA(target.label, text.c_str());
}

void RunProgressWindow() {
  ProgressState& state = State();
  const int32_t left = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), ProgressWidth);
  const int32_t top = CentredOrigin(GetSystemMetrics(SM_CYSCREEN), ProgressHeight);
  {
    Locked locked(state.lock);
    state.ProgressLeft = left;
    state.ProgressTop = top;
  }
  // Already loaded by the show that started this thread; this only looks the function up.
  if (const InitCommonControlsFn init = LoadCommonControls()) init();
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!RegisterPlainWindowClass(instance)) {
    // The window was never made, so a later show may try again with a new thread.
    ForgetWindowThread();
    return;
  }
  ProgressStageHook stage_hook = nullptr;
  {
    Locked locked(state.lock);
    stage_hook = state.stage_hook;
  }
  if (stage_hook != nullptr) stage_hook(ProgressStage::kBeforeCreate);
  std::string caption;
  {
    Locked locked(state.lock);
    caption = state.ProgressCaption;
  }
  // WM_CREATE makes the status line and the bar during this call.
  const HWND window =
      CreateWindowExA(kWindowExStyle, kClassName, caption.c_str(), kWindowStyle, left, top,
                      ProgressWidth, ProgressHeight, nullptr, nullptr, instance, nullptr);
  if (stage_hook != nullptr) stage_hook(ProgressStage::kBeforeHandover);

  std::string latest_caption;
  std::string latest_text;
  bool shown = false;
  HWND label = nullptr;
  {
    Locked locked(state.lock);
    state.ProgressWindow = window;
    if (window == nullptr) {
      // The children went with the failed window; their handles must not be addressed.
      state.ProgressLabel = nullptr;
      state.ProgressBar = nullptr;
    }
    // Set even when creation failed: later calls then address no window and do nothing,
    // rather than start thread after thread.
    state.ProgressWindowExists = true;
    latest_caption = state.ProgressCaption;
    latest_text = state.ProgressText;
    shown = state.ProgressShown;
    label = state.ProgressLabel;
  }
  if (window == nullptr) {
    ForgetWindowThread();
    return;
  }
  // Calls made while the window was being created changed only the recorded texts.
  SetWindowTextA(window, latest_caption.c_str());
  if (label != nullptr) SetWindowTextA(label, latest_text.c_str());
  if (shown) ShowWindow(window, SW_SHOWNORMAL);

  MSG message;
  // GetMessageA returns 0 for the quit message and -1 when it fails; both end the loop.
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  ForgetWindowThread();
}

void SetProgressStageHook(ProgressStageHook hook) {
  ProgressState& state = State();
  Locked locked(state.lock);
  state.stage_hook = hook;
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: {
      ProgressState& state = State();
      std::string text;
      {
        Locked locked(state.lock);
        text = state.ProgressText;
      }
      const HWND label = CreateChild(window, kStatusLine, text);
      const HWND bar = CreateChild(window, kProgressBar, "");
      Locked locked(state.lock);
      state.ProgressLabel = label;
      state.ProgressBar = bar;
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace kestrane
