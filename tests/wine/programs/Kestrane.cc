// A stand-in for the host application, for end-to-end tests of the installer. Like the real
// host it owns the shared-memory object "kestrane_memfile" while it runs, has a top-level
// window of class "TKSMainForm" and ends its message loop on WM_QUIT. The installer starts it
// without parameters, so its behaviour comes from "standin.cfg" beside it, and it appends
// what happened to "standin.log" beside it:
//   <ms since process start> TAB <ms since 1970> TAB <local time> TAB <event> TAB <detail>
// The first event, "started", names its working folder and the program that started it:
//   pid=<id> show_command=<n> cwd=<folder> parent=<file name of the parent's executable,
//   or "?" when it has ended> command=<command line>
//
// standin.cfg, one "key=value" a line ('#' starts a comment):
//   memfile=1             create the shared-memory object (0: never)
//   memfile_delay_ms=0    ... this long after the process started
//   window=1              create the main window (0: never)
//   window_delay_ms=0     ... this long after the process started
//   show=hidden           how the window first appears: hidden, minimized, normal, noactivate
//   hold_file=            a file to keep open for reading without write sharing (relative
//                         paths are taken from the stand-in's folder)
//   hold_ms=0             release it this long after start (0: keep it until the exit)
//   hold_folder=0         1: keep the stand-in's own folder open without any sharing until
//                         the exit
//   quit=exit             on WM_QUIT: exit, or ignore it
//   quit_delay_ms=0       after WM_QUIT, keep running (and holding) this long before the exit
//   lifetime_ms=300000    exit by itself after this long, so that no stand-in outlives a run
//   exit_code=0
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr char kMemFileName[] = "kestrane_memfile";
constexpr char kWindowClass[] = "TKSMainForm";
constexpr DWORD kForegroundPollMs = 25;

struct Config {
  bool memfile = true;
  uint64_t memfile_delay_ms = 0;
  bool window = true;
  uint64_t window_delay_ms = 0;
  std::string show = "hidden";
  std::string hold_file;
  uint64_t hold_ms = 0;
  bool hold_folder = false;
  bool ignore_quit = false;
  uint64_t quit_delay_ms = 0;
  uint64_t lifetime_ms = 300000;
  int exit_code = 0;
};

// The stand-in's own folder, with a trailing backslash; wide, so that a folder whose name the
// ANSI code page cannot hold (as a Unicode installer may make) still finds its files.
std::wstring g_folder;
FILETIME g_created;

uint64_t FileTimeValue(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Milliseconds since the process was created (not since WinMain ran), so that delays and
// the log line up with the moment the installer started it.
uint64_t Elapsed() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t a = FileTimeValue(now), b = FileTimeValue(g_created);
  return a > b ? (a - b) / 10000 : 0;
}

void Log(const std::string& event, const std::string& detail = std::string()) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t kEpochOffset = 116444736000000000ULL;  // 1601 to 1970 in 100 ns units
  uint64_t epoch_ms = (FileTimeValue(now) - kEpochOffset) / 10000;
  SYSTEMTIME local;
  GetLocalTime(&local);
  char head[160];
  std::snprintf(head, sizeof head, "%llu\t%llu\t%04u-%02u-%02u %02u:%02u:%02u.%03u\t",
                static_cast<unsigned long long>(Elapsed()),
                static_cast<unsigned long long>(epoch_ms), local.wYear, local.wMonth, local.wDay,
                local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
  std::string line = head + event + "\t" + detail + "\r\n";
  const std::wstring path = g_folder + L"standin.log";
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

// The executable file name of the process that started this one, from a snapshot of the
// processes; "?" when that process has already ended.
std::string ParentName() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return "?";
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  std::string name = "?";
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); parent != 0 && more;
       more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == parent) {
      name = entry.szExeFile;
      break;
    }
  }
  CloseHandle(snapshot);
  return name;
}

uint64_t Number(const std::string& text, uint64_t fallback) {
  if (text.empty() || text.size() > 12) return fallback;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return fallback;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

// The whole of a small file; false when it cannot be opened or read.
bool ReadSmallFile(const std::wstring& path, std::string* text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[65536];
  DWORD read = 0;
  const bool ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr) != FALSE;
  CloseHandle(file);
  text->assign(buffer, ok ? read : 0);
  return ok;
}

Config ReadConfig() {
  Config config;
  std::string text;
  if (!ReadSmallFile(g_folder + L"standin.cfg", &text)) {
    Log("config", "none");
    return config;
  }
  std::string line, summary;
  size_t start = 0;
  for (int n = 0; n < 1000 && start < text.size(); ++n) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "memfile")
      config.memfile = value != "0";
    else if (key == "memfile_delay_ms")
      config.memfile_delay_ms = Number(value, 0);
    else if (key == "window")
      config.window = value != "0";
    else if (key == "window_delay_ms")
      config.window_delay_ms = Number(value, 0);
    else if (key == "show")
      config.show = value;
    else if (key == "hold_file")
      config.hold_file = value;
    else if (key == "hold_ms")
      config.hold_ms = Number(value, 0);
    else if (key == "hold_folder")
      config.hold_folder = value == "1";
    else if (key == "quit")
      config.ignore_quit = value == "ignore";
    else if (key == "quit_delay_ms")
      config.quit_delay_ms = Number(value, 0);
    else if (key == "lifetime_ms")
      config.lifetime_ms = Number(value, config.lifetime_ms);
    else if (key == "exit_code")
      config.exit_code = static_cast<int>(Number(value, 0));
    else {
      Log("config_unknown", key);
      continue;
    }
    summary += (summary.empty() ? "" : " ") + key + "=" + value;
  }
  Log("config", summary);
  return config;
}

std::string Describe(HWND window) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "visible=%d iconic=%d foreground=%d",
                IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0,
                GetForegroundWindow() == window ? 1 : 0);
  return buf;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  char buf[96];
  switch (message) {
    case WM_SHOWWINDOW:
      std::snprintf(buf, sizeof buf, "show=%d status=%d", wparam ? 1 : 0, static_cast<int>(lparam));
      Log("WM_SHOWWINDOW", buf);
      break;
    case WM_SIZE: {
      const char* kind = wparam == SIZE_MINIMIZED   ? "minimized"
                         : wparam == SIZE_MAXIMIZED ? "maximized"
                         : wparam == SIZE_RESTORED  ? "restored"
                                                    : "other";
      std::snprintf(buf, sizeof buf, "%s %dx%d", kind, LOWORD(lparam), HIWORD(lparam));
      Log("WM_SIZE", buf);
      break;
    }
    case WM_ACTIVATE: {
      int state = LOWORD(wparam);
      const char* kind = state == WA_INACTIVE      ? "inactive"
                         : state == WA_CLICKACTIVE ? "clickactive"
                                                   : "active";
      std::snprintf(buf, sizeof buf, "%s minimized=%d", kind, HIWORD(wparam) ? 1 : 0);
      Log("WM_ACTIVATE", buf);
      break;
    }
    case WM_CLOSE:
      Log("WM_CLOSE");
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      Log("WM_DESTROY");
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

HWND CreateMainWindow(HINSTANCE instance, const Config& config) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassA(&wc)) {
    Log("window_failed", "RegisterClass " + std::to_string(GetLastError()));
    return nullptr;
  }
  HWND window = CreateWindowExA(0, kWindowClass, "Kestrane", WS_OVERLAPPEDWINDOW, 120, 90, 480, 320,
                                nullptr, nullptr, instance, nullptr);
  if (!window) {
    Log("window_failed", "CreateWindow " + std::to_string(GetLastError()));
    return nullptr;
  }
  char buf[48];
  std::snprintf(buf, sizeof buf, "hwnd=0x%llx show=",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
  Log("window_created", buf + config.show);
  if (config.show == "minimized")
    ShowWindow(window, SW_SHOWMINNOACTIVE);
  else if (config.show == "normal")
    ShowWindow(window, SW_SHOWNORMAL);
  else if (config.show == "noactivate")
    ShowWindow(window, SW_SHOWNOACTIVATE);
  Log("window_ready", Describe(window));
  return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  FILETIME exit_time, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &g_created, &exit_time, &kernel, &user)) {
    GetSystemTimeAsFileTime(&g_created);
  }
  wchar_t module[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 3;
  g_folder.assign(module, n);
  g_folder.erase(g_folder.find_last_of(L'\\') + 1);
  char cwd[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, cwd);
  Log("started", "pid=" + std::to_string(GetCurrentProcessId()) +
                     " show_command=" + std::to_string(show_command) + " cwd=" + cwd +
                     " parent=" + ParentName() + " command=" + GetCommandLineA());
  Config config = ReadConfig();

  HANDLE held = INVALID_HANDLE_VALUE;
  if (!config.hold_file.empty()) {
    const std::string& path = config.hold_file;
    bool absolute = path.size() > 1 && (path[1] == ':' || (path[0] == '\\' && path[1] == '\\'));
    std::wstring wide(path.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, path.data(),
                                                        static_cast<int>(path.size()), &wide[0],
                                                        static_cast<int>(wide.size()))));
    if (!absolute) wide = g_folder + wide;
    held = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
      Log("hold_failed", path + " " + std::to_string(GetLastError()));
    else
      Log("file_held", path);
  }

  HANDLE held_folder = INVALID_HANDLE_VALUE;
  if (config.hold_folder) {
    held_folder = CreateFileW(g_folder.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (held_folder == INVALID_HANDLE_VALUE)
      Log("hold_folder_failed", std::to_string(GetLastError()));
    else
      Log("folder_held");
  }

  HANDLE memfile = nullptr;
  bool memfile_done = !config.memfile;
  HWND window = nullptr;
  bool window_done = !config.window;
  bool foreground = false;
  bool quitting = false;
  uint64_t exit_at = config.lifetime_ms;
  int exit_code = config.exit_code;

  for (;;) {
    uint64_t now = Elapsed();
    if (!memfile_done && now >= config.memfile_delay_ms) {
      memfile_done = true;
      memfile =
          CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, kMemFileName);
      DWORD error = GetLastError();
      if (!memfile)
        Log("memfile_failed", std::to_string(error));
      else
        Log("memfile_created", error == ERROR_ALREADY_EXISTS ? "existed=1" : "existed=0");
    }
    if (!window_done && now >= config.window_delay_ms) {
      window_done = true;
      window = CreateMainWindow(instance, config);
    }
    if (held != INVALID_HANDLE_VALUE && config.hold_ms && now >= config.hold_ms) {
      CloseHandle(held);
      held = INVALID_HANDLE_VALUE;
      Log("file_released");
    }
    if (window) {
      bool front = IsWindow(window) && GetForegroundWindow() == window;
      if (front != foreground) {
        foreground = front;
        Log(front ? "foreground" : "background", Describe(window));
      }
    }
    if (now >= exit_at) {
      if (!quitting) Log("lifetime_over");
      break;
    }

    uint64_t next = exit_at;
    if (!memfile_done) next = std::min(next, config.memfile_delay_ms);
    if (!window_done) next = std::min(next, config.window_delay_ms);
    if (held != INVALID_HANDLE_VALUE && config.hold_ms) next = std::min(next, config.hold_ms);
    uint64_t wait = next > now ? next - now : 0;
    if (window) wait = std::min<uint64_t>(wait, kForegroundPollMs);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(wait), QS_ALLINPUT);

    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
      if (msg.message == WM_QUIT) {
        char buf[80];
        std::snprintf(buf, sizeof buf, "hwnd=0x%llx wparam=%llu",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(msg.hwnd)),
                      static_cast<unsigned long long>(msg.wParam));
        Log("WM_QUIT", buf);
        if (config.ignore_quit) {
          Log("quit_ignored");
        } else if (!quitting) {
          quitting = true;
          exit_at = Elapsed() + config.quit_delay_ms;
        }
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  if (window && IsWindow(window)) DestroyWindow(window);
  if (held != INVALID_HANDLE_VALUE) {
    CloseHandle(held);
    Log("file_released");
  }
  if (held_folder != INVALID_HANDLE_VALUE) CloseHandle(held_folder);
  if (memfile) CloseHandle(memfile);
  Log("exit", "code=" + std::to_string(exit_code));
  return exit_code;
}
