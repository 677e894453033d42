#include "box_watcher.h"

namespace kestrane {
namespace {

constexpr DWORD kPollMilliseconds = 20;
constexpr int kCloseWaitPolls = 250;  // 5 s for a pressed box to go away

struct FindContext {
  DWORD process;
  HWND box;
};

BOOL CALLBACK FindOwnBox(HWND window, LPARAM context) {
  auto* find = reinterpret_cast<FindContext*>(context);
  char class_name[16] = "";
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != find->process || !IsWindowVisible(window)) return TRUE;
  if (GetClassNameA(window, class_name, sizeof class_name) == 0) return TRUE;
  if (lstrcmpA(class_name, "#32770") != 0) return TRUE;
  find->box = window;
  return FALSE;
}

std::string WindowText(HWND window) {
  char buffer[4096] = "";
  int length = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? length : 0);
}

}  // namespace

bool BoxesCanBeRead() {
  char display[256];
  DWORD length = GetEnvironmentVariableA("DISPLAY", display, sizeof display);
  return length > 0 && length < sizeof display;
}

BoxWatcher::BoxWatcher() {
  InitializeCriticalSection(&lock_);
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (stop_ != nullptr) thread_ = CreateThread(nullptr, 0, &BoxWatcher::Run, this, 0, nullptr);
}

BoxWatcher::~BoxWatcher() {
  if (thread_ != nullptr) {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  if (stop_ != nullptr) CloseHandle(stop_);
  DeleteCriticalSection(&lock_);
}

std::vector<SeenBox> BoxWatcher::Boxes() {
  EnterCriticalSection(&lock_);
  std::vector<SeenBox> copy = boxes_;
  LeaveCriticalSection(&lock_);
  return copy;
}

DWORD WINAPI BoxWatcher::Run(void* self) {
  static_cast<BoxWatcher*>(self)->Watch();
  return 0;
}

void BoxWatcher::Watch() {
  while (WaitForSingleObject(stop_, kPollMilliseconds) == WAIT_TIMEOUT) {
    FindContext find = {GetCurrentProcessId(), nullptr};
    EnumWindows(FindOwnBox, reinterpret_cast<LPARAM>(&find));
    if (find.box != nullptr) Record(find.box);
  }
}

void BoxWatcher::Record(HWND box) {
  SeenBox seen;
  seen.caption = WindowText(box);
  char text[4096] = "";
  UINT length = GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  seen.text.assign(text, length);
  EnterCriticalSection(&lock_);
  boxes_.push_back(seen);
  LeaveCriticalSection(&lock_);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  for (int poll = 0; poll < kCloseWaitPolls && IsWindow(box); ++poll) Sleep(kPollMilliseconds);
}

}  // namespace kestrane
