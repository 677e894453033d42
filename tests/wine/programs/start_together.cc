// Starts several copies of a program at the same moment, as a double click or a deployment
// tool that retries does: every copy is created suspended and then all are let go together.
//   start_together COUNT <exe> [args...]
// Waits for every copy (up to two minutes), prints "exit=<code>" for each in the order they
// were started and exits with 0; 250 usage, 251 start failed, 252 a copy did not end.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kUsage = 250;
constexpr int kStartFailed = 251;
constexpr int kNotEnded = 252;
constexpr int kMaxCopies = 8;
constexpr DWORD kCopiesTimeoutMs = 120000;

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return kUsage;
  const int count = argc >= 3 ? std::wcstol(argv[1], nullptr, 10) : 0;
  if (count < 1 || count > kMaxCopies) {
    std::fprintf(stderr, "usage: start_together COUNT(1-%d) <exe> [args...]\n", kMaxCopies);
    return kUsage;
  }
  std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
  for (int i = 3; i < argc; ++i) command += L" " + QuoteArgument(argv[i]);

  std::vector<PROCESS_INFORMATION> copies;
  for (int i = 0; i < count; ++i) {
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info)) {
      std::fprintf(stderr, "start_together: cannot start copy %d (%lu)\n", i + 1, GetLastError());
      for (PROCESS_INFORMATION& started : copies) TerminateProcess(started.hProcess, kStartFailed);
      return kStartFailed;
    }
    copies.push_back(info);
  }
  for (PROCESS_INFORMATION& copy : copies) ResumeThread(copy.hThread);

  std::vector<HANDLE> processes;
  for (PROCESS_INFORMATION& copy : copies) processes.push_back(copy.hProcess);
  const DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(processes.size()),
                                              processes.data(), TRUE, kCopiesTimeoutMs);
  int result = 0;
  for (PROCESS_INFORMATION& copy : copies) {
    DWORD code = 0;
    if (!GetExitCodeProcess(copy.hProcess, &code) || code == STILL_ACTIVE) {
      TerminateProcess(copy.hProcess, kNotEnded);
      result = kNotEnded;
    }
    std::printf("exit=%lu\n", code);
    CloseHandle(copy.hThread);
    CloseHandle(copy.hProcess);
  }
  std::fflush(stdout);
  return waited == WAIT_TIMEOUT ? kNotEnded : result;
}
