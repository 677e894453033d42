#include "box_answerer.h"

#include <utility>

namespace kestrane {
namespace {

constexpr DWORD kPollMilliseconds = 20;
constexpr int kCloseWaitPolls = 250;  // 5 s for a pressed box to go away

bool HasClass(HWND window, const char* wanted) {
  char class_name[64] = "";
  return GetClassNameA(window, class_name, sizeof class_name) > 0 &&
         lstrcmpA(class_name, wanted) == 0;
}

bool OwnVisible(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId() && IsWindowVisible(window);
}

BOOL CALLBACK FindOwnBox(HWND window, LPARAM found) {
  if (!OwnVisible(window) || !HasClass(window, "#32770")) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

BOOL CALLBACK CollectProgressWindow(HWND window, LPARAM found) {
  if (OwnVisible(window) && HasClass(window, "PlainWindow")) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
  }
  return TRUE;
}

}  // namespace

std::vector<HWND> VisibleProgressWindows() {
  std::vector<HWND> found;
  EnumWindows(CollectProgressWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND WaitForVisibleProgressWindow(DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const std::vector<HWND> windows = VisibleProgressWindows();
    if (!windows.empty()) return windows.front();
    if (GetTickCount() - start >= timeout_ms) return nullptr;
    Sleep(kPollMilliseconds);
  }
}

std::string WindowTextOf(HWND window, bool child) {
  if (child) window = GetWindow(window, GW_CHILD);
  if (window == nullptr) return "<none>";
  char buffer[4096] = "";
  const int length = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? length : 0);
}

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

BoxAnswerer::BoxAnswerer(std::deque<kestrane::Answer> script) : script_(std::move(script)) {
  InitializeCriticalSection(&lock_);
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (stop_ != nullptr) thread_ = CreateThread(nullptr, 0, &BoxAnswerer::Run, this, 0, nullptr);
}

BoxAnswerer::~BoxAnswerer() {
  if (thread_ != nullptr) {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
  if (stop_ != nullptr) CloseHandle(stop_);
  DeleteCriticalSection(&lock_);
}

std::vector<AnsweredBox> BoxAnswerer::Boxes() {
  EnterCriticalSection(&lock_);
  std::vector<AnsweredBox> copy = boxes_;
  LeaveCriticalSection(&lock_);
  return copy;
}

DWORD WINAPI BoxAnswerer::Run(void* self) {
  static_cast<BoxAnswerer*>(self)->Watch();
  return 0;
}

void BoxAnswerer::Watch() {
  while (WaitForSingleObject(stop_, kPollMilliseconds) == WAIT_TIMEOUT) {
    HWND box = nullptr;
    EnumWindows(FindOwnBox, reinterpret_cast<LPARAM>(&box));
    if (box != nullptr) Answer(box);
  }
}

void BoxAnswerer::Answer(HWND box) {
  AnsweredBox seen;
  wchar_t caption[4096] = L"";
  const int caption_length = GetWindowTextW(box, caption, 4096);
  seen.caption.assign(caption, caption_length > 0 ? caption_length : 0);
  wchar_t text[4096] = L"";
  const UINT length = GetDlgItemTextW(box, 0xFFFF, text, 4096);
  seen.text.assign(text, length);
  seen.yes_no = GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr;
  seen.progress_visible = !VisibleProgressWindows().empty();
  kestrane::Answer answer{IDOK, nullptr};
  if (!script_.empty()) {
    answer = script_.front();
    script_.pop_front();
  }
  if (answer.before) answer.before();
  seen.answer = answer.button;
  EnterCriticalSection(&lock_);
  boxes_.push_back(seen);
  LeaveCriticalSection(&lock_);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer.button, BN_CLICKED), 0);
  for (int poll = 0; poll < kCloseWaitPolls && IsWindow(box); ++poll) Sleep(kPollMilliseconds);
}

}  // namespace kestrane
