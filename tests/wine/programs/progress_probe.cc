// Drives the progress window through a script given on the command line and reports, from the
// main thread (never the window thread), what a user or another program could see of it.
//
//   progress_probe <step>...
//
// Steps (each a word followed by its arguments; texts may be empty ""):
//   show CAPTION TEXT   ShowProgressWindow; prints show<n>.micros, the time the call took
//   hide                HideProgressWindow
//   caption TEXT        SetProgressCaption
//   text TEXT           SetProgressText
//   burst N             N calls of ShowProgressWindow("Caption i", "Status i"), i = 1..N
//   windows NAME        prints NAME.windows: progress windows of this process right now
//   settle              waits (at most 10 s) until the window exists and its thread has
//                       finished creating it; prints settle=1, or settle=0 on time-out
//   look NAME           prints NAME.* lines describing the window, its children, the screen
//   threads NAME        prints NAME.threads: threads of this process
//   ready PATH          creates the file PATH, to tell a waiting test that it got this far
//   await PATH          waits (at most 30 s) until the file PATH exists; prints await=1, or
//                       await=0 on time-out
//   hold STAGE          from now on the window thread stops at STAGE until "release" (at most
//                       30 s): "create" is before it creates the window, "handover" after it
//                       has created it and before it hands it over to the callers
//   wait_hold           waits (at most 10 s) until the window thread has stopped there;
//                       prints held=1, or held=0 on time-out. Until "release" the script
//                       must not look at the window: its thread cannot answer.
//   release             lets the window thread go on
//   threads_back NAME   waits (at most 10 s) until the process has as many threads as the
//                       step "threads NAME" counted; prints NAME.back=1, or 0 on time-out
//   take_class          registers a class named "PlainWindow" first, so that the progress
//                       window's own registration fails
//
// Exit code 0 after the whole script, 2 for a script it cannot read.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "progress/progress_window_win.h"

namespace {

using kestrane::HideProgressWindow;
using kestrane::SetProgressCaption;
using kestrane::SetProgressText;
using kestrane::ShowProgressWindow;

constexpr DWORD kSettleMillis = 10000;
constexpr int kMaxBurst = 10000;
constexpr DWORD kMaxThreadsCounted = 100000;
constexpr DWORD kHoldMillis = 30000;

kestrane::ProgressStage g_held_stage = kestrane::ProgressStage::kBeforeCreate;
HANDLE g_hold_reached = nullptr;
HANDLE g_hold_released = nullptr;

// Runs on the window thread at each stage; stops it at the one asked for.
void HoldAtStage(kestrane::ProgressStage stage) {
  if (stage != g_held_stage) return;
  SetEvent(g_hold_reached);
  WaitForSingleObject(g_hold_released, kHoldMillis);
}

struct FoundWindows {
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectProgressWindow(HWND window, LPARAM parameter) {
  char class_name[64] = {};
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id == GetCurrentProcessId() &&
      GetClassNameA(window, class_name, sizeof(class_name)) > 0 &&
      std::string(class_name) == "PlainWindow") {
    reinterpret_cast<FoundWindows*>(parameter)->windows.push_back(window);
  }
  return TRUE;
}

// The progress windows of this process: FindWindowA would also find other processes' ones.
std::vector<HWND> ProgressWindows() {
  FoundWindows found;
  EnumWindows(CollectProgressWindow, reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

int CountOwnThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  DWORD seen = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more && seen < kMaxThreadsCounted;
       more = Thread32Next(snapshot, &entry), ++seen) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

// Window texts as printable single-byte text: control characters would break the line format.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
  return out;
}

std::string TextOf(HWND window) {
  char buffer[512] = {};
  int length = GetWindowTextA(window, buffer, sizeof(buffer));
  return Printable(std::string(buffer, length > 0 ? length : 0));
}

void PrintRect(const std::string& key, const RECT& rect) {
  std::printf("%s=%ld,%ld,%ld,%ld\n", key.c_str(), rect.left, rect.top, rect.right - rect.left,
              rect.bottom - rect.top);
}

void LookAtChild(const std::string& prefix, HWND parent, const char* class_name) {
  HWND child = FindWindowExA(parent, nullptr, class_name, nullptr);
  std::printf("%s.found=%d\n", prefix.c_str(), child != nullptr ? 1 : 0);
  if (child == nullptr) return;
  RECT rect;
  if (GetWindowRect(child, &rect)) {
    // Relative to the parent's client area, as the window was laid out.
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    PrintRect(prefix + ".rect", rect);
  }
  std::printf("%s.style=0x%08lx\n", prefix.c_str(),
              static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)));
  std::printf("%s.exstyle=0x%08lx\n", prefix.c_str(),
              static_cast<unsigned long>(GetWindowLongA(child, GWL_EXSTYLE)));
  std::printf("%s.id=%ld\n", prefix.c_str(), static_cast<long>(GetWindowLongPtrA(child, GWLP_ID)));
  std::printf("%s.text=%s\n", prefix.c_str(), TextOf(child).c_str());
  if (std::string(class_name) == PROGRESS_CLASSA) {
    std::printf("%s.pos=%ld\n", prefix.c_str(),
                static_cast<long>(SendMessageA(child, PBM_GETPOS, 0, 0)));
    PBRANGE range = {};
    SendMessageA(child, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    std::printf("%s.range=%d,%d\n", prefix.c_str(), range.iLow, range.iHigh);
  }
}

void Look(const std::string& name) {
  std::vector<HWND> windows = ProgressWindows();
  std::printf("%s.windows=%zu\n", name.c_str(), windows.size());
  std::printf("%s.screen=%d,%d\n", name.c_str(), GetSystemMetrics(SM_CXSCREEN),
              GetSystemMetrics(SM_CYSCREEN));
  std::printf("%s.threads=%d\n", name.c_str(), CountOwnThreads());
  if (windows.empty()) return;
  HWND window = windows.front();
  RECT rect;
  if (GetWindowRect(window, &rect)) PrintRect(name + ".rect", rect);
  RECT client;
  if (GetClientRect(window, &client)) PrintRect(name + ".client", client);
  std::printf("%s.style=0x%08lx\n", name.c_str(),
              static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)));
  std::printf("%s.exstyle=0x%08lx\n", name.c_str(),
              static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
  std::printf("%s.visible=%d\n", name.c_str(), IsWindowVisible(window) ? 1 : 0);
  std::printf("%s.caption=%s\n", name.c_str(), TextOf(window).c_str());
  std::printf("%s.other_thread=%d\n", name.c_str(),
              GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId() ? 1 : 0);
  char class_name[64] = {};
  GetClassNameA(window, class_name, sizeof(class_name));
  WNDCLASSEXA info = {};
  info.cbSize = sizeof(info);
  if (GetClassInfoExA(GetModuleHandleA(nullptr), class_name, &info)) {
    std::printf("%s.class_style=0x%08x\n", name.c_str(), info.style);
    std::printf("%s.class_extra=%d,%d\n", name.c_str(), info.cbClsExtra, info.cbWndExtra);
    std::printf("%s.class_arrow=%d\n", name.c_str(),
                info.hCursor == LoadCursorA(nullptr, IDC_ARROW) ? 1 : 0);
    std::printf("%s.class_gray=%d\n", name.c_str(),
                info.hbrBackground == GetStockObject(GRAY_BRUSH) ? 1 : 0);
  }
  LookAtChild(name + ".status", window, "STATIC");
  LookAtChild(name + ".bar", window, PROGRESS_CLASSA);
}

// Waits until the window exists, then until its thread handles a sent message: it does that
// only from its message loop, after it has finished creating and showing the window.
bool Settle() {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < kSettleMillis) {
    std::vector<HWND> windows = ProgressWindows();
    if (!windows.empty()) {
      DWORD_PTR result = 0;
      return SendMessageTimeoutA(windows.front(), WM_NULL, 0, 0, SMTO_NORMAL, kSettleMillis,
                                 &result) != 0;
    }
    Sleep(5);
  }
  return false;
}

long long Micros(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return (to.QuadPart - from.QuadPart) * 1000000 / frequency.QuadPart;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "progress_probe: %s\n", problem);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  int shows = 0;
  std::map<std::string, int> counted;  // thread counts by the name of their "threads" step
  for (int i = 1; i < argc; ++i) {
    const std::string step = argv[i];
    auto argument = [&](int offset) -> const char* {
      return i + offset < argc ? argv[i + offset] : nullptr;
    };
    if (step == "show") {
      if (argument(1) == nullptr || argument(2) == nullptr) return Usage("show needs two texts");
      LARGE_INTEGER before, after;
      QueryPerformanceCounter(&before);
      ShowProgressWindow(argument(1), argument(2));
      QueryPerformanceCounter(&after);
      std::printf("show%d.micros=%lld\n", ++shows, Micros(before, after));
      i += 2;
    } else if (step == "hide") {
      HideProgressWindow();
    } else if (step == "caption" || step == "text") {
      if (argument(1) == nullptr) return Usage("caption and text need a text");
      if (step == "caption") {
        SetProgressCaption(argument(1));
      } else {
        SetProgressText(argument(1));
      }
      i += 1;
    } else if (step == "burst") {
      const int count = argument(1) != nullptr ? std::atoi(argument(1)) : 0;
      if (count < 1 || count > kMaxBurst) return Usage("burst needs a count of 1 to 10000");
      for (int n = 1; n <= count; ++n) {
        ShowProgressWindow("Caption " + std::to_string(n), "Status " + std::to_string(n));
      }
      i += 1;
    } else if (step == "windows" || step == "look" || step == "threads") {
      if (argument(1) == nullptr) return Usage("windows, look and threads need a name");
      const std::string name = argument(1);
      if (step == "windows")
        std::printf("%s.windows=%zu\n", name.c_str(), ProgressWindows().size());
      if (step == "look") Look(name);
      if (step == "threads") {
        counted[name] = CountOwnThreads();
        std::printf("%s.threads=%d\n", name.c_str(), counted[name]);
      }
      i += 1;
    } else if (step == "settle") {
      std::printf("settle=%d\n", Settle() ? 1 : 0);
    } else if (step == "hold") {
      const std::string stage = argument(1) != nullptr ? argument(1) : "";
      if (stage != "create" && stage != "handover") return Usage("hold needs create or handover");
      g_held_stage = stage == "create" ? kestrane::ProgressStage::kBeforeCreate
                                       : kestrane::ProgressStage::kBeforeHandover;
      g_hold_reached = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      g_hold_released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      if (g_hold_reached == nullptr || g_hold_released == nullptr) {
        return Usage("cannot create the hold events");
      }
      kestrane::SetProgressStageHook(HoldAtStage);
      i += 1;
    } else if (step == "wait_hold") {
      if (g_hold_reached == nullptr) return Usage("wait_hold needs hold first");
      std::printf("held=%d\n",
                  WaitForSingleObject(g_hold_reached, kSettleMillis) == WAIT_OBJECT_0 ? 1 : 0);
    } else if (step == "release") {
      if (g_hold_released == nullptr) return Usage("release needs hold first");
      SetEvent(g_hold_released);
    } else if (step == "threads_back") {
      if (argument(1) == nullptr || counted.count(argument(1)) == 0) {
        return Usage("threads_back needs the name of an earlier threads step");
      }
      const int wanted = counted[argument(1)];
      DWORD start = GetTickCount();
      while (CountOwnThreads() != wanted && GetTickCount() - start < kSettleMillis) Sleep(5);
      std::printf("%s.back=%d\n", argument(1), CountOwnThreads() == wanted ? 1 : 0);
      i += 1;
    } else if (step == "take_class") {
      WNDCLASSEXA taken = {};
      taken.cbSize = sizeof(taken);
      taken.lpfnWndProc = DefWindowProcA;
      taken.hInstance = GetModuleHandleA(nullptr);
      taken.lpszClassName = "PlainWindow";
      if (RegisterClassExA(&taken) == 0) return Usage("cannot register PlainWindow first");
    } else if (step == "ready") {
      if (argument(1) == nullptr) return Usage("ready needs a path");
      HANDLE file = CreateFileA(argument(1), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) return Usage("cannot create the ready file");
      CloseHandle(file);
      i += 1;
    } else if (step == "await") {
      if (argument(1) == nullptr) return Usage("await needs a path");
      DWORD start = GetTickCount();
      while (GetFileAttributesA(argument(1)) == INVALID_FILE_ATTRIBUTES &&
             GetTickCount() - start < kHoldMillis) {
        Sleep(10);
      }
      std::printf("await=%d\n", GetFileAttributesA(argument(1)) != INVALID_FILE_ATTRIBUTES ? 1 : 0);
      i += 1;
    } else {
      return Usage(("unknown step " + step).c_str());
    }
  }
  return 0;
}
