// The user's move against an elevated update that waits to replace a held file: this program
// holds kvx.cok in the install folder (no sharing), starts the update, and when "~kvx.cok"
// appears there lets go of kvx.cok and at once renames the install folder away and moves a
// folder of its own into its place. An update that keeps the folder open without delete
// sharing makes the first rename fail; one that opens its paths anew by name writes into the
// folder put in its place.
//   folder_swap <install folder> <own folder> <exe> [args...]
// The install folder is renamed to "<install folder>-moved-away". Prints one "key=value" line
// a step:
//   held=1                      kvx.cok was opened without sharing
//   temporary_seen=1|0          whether "~kvx.cok" appeared before the update ended
//   moved_away=ok|error N       the rename of the install folder (N: GetLastError)
//   put_in_place=ok|error N     the move of the own folder (only after the first succeeded)
//   exit=N                      the update's exit code
// Exits with 0 when every step ran (whatever it found), 250 usage, 251 kvx.cok could not be
// held, 252 the update could not be started, 253 it did not end within a minute.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kUsage = 250;
constexpr int kHoldFailed = 251;
constexpr int kStartFailed = 252;
constexpr int kNotEnded = 253;
constexpr DWORD kUpdateTimeoutMs = 60000;

// The argument as one word of a command line.
std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
    return argument;
  }
  // The arguments the tests pass hold no quotes or trailing backslashes.
  return L"\"" + argument + L"\"";
}

// Prints one step at once, so that a killed run still shows how far it got.
void Say(const char* key, const std::string& value) {
  std::printf("%s=%s\n", key, value.c_str());
  std::fflush(stdout);
}

// "ok", or "error N" with the calling thread's last error.
std::string Outcome(BOOL ok) { return ok ? "ok" : "error " + std::to_string(GetLastError()); }

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 4) {
    std::fprintf(stderr, "usage: folder_swap <install folder> <own folder> <exe> [args...]\n");
    return kUsage;
  }
  const std::wstring folder = argv[1], own = argv[2];
  const std::wstring target = folder + L"\\kvx.cok", temporary = folder + L"\\~kvx.cok";

  HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "folder_swap: cannot hold kvx.cok (%lu)\n", GetLastError());
    return kHoldFailed;
  }
  Say("held", "1");

  std::wstring command = Quote(argv[3]);
  for (int i = 4; i < argc; ++i) command += L" " + Quote(argv[i]);
  std::vector<wchar_t> line(command.begin(), command.end());
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION update = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &update)) {
    std::fprintf(stderr, "folder_swap: cannot start the update (%lu)\n", GetLastError());
    CloseHandle(held);
    return kStartFailed;
  }
  CloseHandle(update.hThread);

  // Polls without sleeping: the moment between the temporary file's appearance and the
  // update's next replace attempt is what the swap has to hit.
  bool seen = false;
  while (WaitForSingleObject(update.hProcess, 0) == WAIT_TIMEOUT) {
    if (GetFileAttributesW(temporary.c_str()) != INVALID_FILE_ATTRIBUTES) {
      seen = true;
      break;
    }
    SwitchToThread();
  }
  CloseHandle(held);
  Say("temporary_seen", seen ? "1" : "0");
  if (seen) {
    const BOOL away = MoveFileExW(folder.c_str(), (folder + L"-moved-away").c_str(), 0);
    Say("moved_away", Outcome(away));
    if (away) Say("put_in_place", Outcome(MoveFileExW(own.c_str(), folder.c_str(), 0)));
  }

  int result = 0;
  DWORD code = 0;
  if (WaitForSingleObject(update.hProcess, kUpdateTimeoutMs) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(update.hProcess, &code)) {
    TerminateProcess(update.hProcess, kNotEnded);
    result = kNotEnded;
  } else {
    Say("exit", std::to_string(code));
  }
  CloseHandle(update.hProcess);
  return result;
}
