#include <windows.h>
#include <shellapi.h>

#include "startup/scoped_handle_win.h"
#include "startup/system_texts_win.h"
#include "update/desktop_shell_win.h"
#include "update/host_control.h"
#include "update/host_start.h"
#include "update/host_wait.h"

namespace kestrane {

const char kHostMemFileName[] = "kestrane_memfile";
const char kHostWindowClass[] = "TKSMainForm";

namespace {

HWND FindHostWindow() { return FindWindowA(kHostWindowClass, nullptr); }

TokenKind ProcessTokenKind() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return TokenKindOf(false, 0);
  }
  ScopedHandle closer(token);
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  // Systems before Vista know no elevation type and refuse the query.
  const bool queried =
      GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) != FALSE &&
      size == sizeof type;
  return TokenKindOf(queried, static_cast<uint32_t>(type));
}

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

void StartHost(const std::u16string& install_dir, const std::u16string& executable_name) {
  const std::wstring folder = WideFromUtf16(install_dir);
  const std::wstring executable = folder + WideFromUtf16(executable_name);
  // The host may look for its files relative to its current folder: a direct start hands it
  // this process's, the shell is told the folder. The full path starts it even when the folder
  // cannot be made current.
  SetCurrentDirectoryW(folder.c_str());
  // UAC elevated this process: its rights, and the environment the user's programs set, must
  // not pass to the host. The user's own shell starts it, or nothing does.
  StartHostFor(
      ProcessTokenKind(), [&] { return OpenThroughDesktopShell(executable, folder); },
      [&] { ShellExecuteW(nullptr, L"open", executable.c_str(), L"", L"", SW_SHOWNORMAL); });
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
