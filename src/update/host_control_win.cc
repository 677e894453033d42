#include <windows.h>
#include <shellapi.h>

#include "startup/scoped_handle_win.h"
#include "update/host_control.h"
#include "update/host_wait.h"

namespace kestrane {

const char kHostMemFileName[] = "kestrane_memfile";
const char kHostWindowClass[] = "TKSMainForm";

namespace {

HWND FindHostWindow() { return FindWindowA(kHostWindowClass, nullptr); }

}  // namespace

bool IsHostRunning() {
  // Creating the object is the probe: it tells whether one of that name was there before.
  // The handle is closed in both cases, so that the probe never keeps a quitting host's
  // object alive and a later probe sees only a host that really runs.
  SetLastError(ERROR_SUCCESS);
  HANDLE mapping =
      CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, kHostMemFileName);
  const DWORD error = GetLastError();
  ScopedHandle closer(mapping);
  if (mapping != nullptr) return error == ERROR_ALREADY_EXISTS;
  // The name is taken but not open to us (a host of another user guarding its object): it
  // exists all the same.
  return error == ERROR_ACCESS_DENIED;
}

void AskHostToQuit() {
  // With no window found, posting to a null window would land WM_QUIT in this thread's own
  // queue and silently close the next question box instead.
  HWND window = FindHostWindow();
  if (window == nullptr) return;
  // Nobody waits for the answer: a host that cannot be reached keeps running, and the
  // payload writer then reports the file it still holds.
  PostMessageA(window, WM_QUIT, 0, 0);
}

void StartHost(const std::u16string& folder, const std::u16string& executable_name) {
  // The host may look for its files relative to the current folder; the full path below
  // starts it even when the folder cannot be made current.
  const std::wstring wide_folder(folder.begin(), folder.end());
  SetCurrentDirectoryW(wide_folder.c_str());
  const std::wstring executable =
      wide_folder + std::wstring(executable_name.begin(), executable_name.end());
  ShellExecuteW(nullptr, L"open", executable.c_str(), L"", L"", SW_SHOWNORMAL);
}

void StartHostAndRaise(const std::u16string& install_dir, const std::u16string& executable_name) {
  StartHost(install_dir, executable_name);
  const auto sleep = [](uint32_t ms) { Sleep(ms); };
  if (PollAfterSleeps(kHostStartPolls, sleep, [] { return IsHostRunning(); }) == 0) return;
  HWND window = nullptr;
  if (PollAfterSleeps(kHostWindowPolls, sleep, [&window] {
        window = FindHostWindow();
        return window != nullptr;
      }) == 0) {
    return;
  }
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
}

}  // namespace kestrane
