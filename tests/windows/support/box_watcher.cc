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

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096] = L"";
  int length = GetWindowTextW(window, buffer, 4096);
  return std::wstring(buffer, length > 0 ? length : 0);
}

}  // namespace

bool BoxesCanBeRead() {
  char display[256];
  DWORD length = GetEnvironmentVariableA("DISPLAY", display, sizeof display);
  return length > 0 && length < sizeof display;
}

std::wstring FromAnsi(const std::string& text) {
  wchar_t wide[4096] = L"";
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide, 4096);
  return std::wstring(wide, length > 0 ? length : 0);
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
  wchar_t text[4096] = L"";
  UINT length = GetDlgItemTextW(box, 0xFFFF, text, 4096);
  seen.text.assign(text, length);
  EnterCriticalSection(&lock_);
  boxes_.push_back(seen);
  LeaveCriticalSection(&lock_);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  for (int poll = 0; poll < kCloseWaitPolls && IsWindow(box); ++poll) Sleep(kPollMilliseconds);
}

}  // namespace kestrane
