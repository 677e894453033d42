// Starts a program suspended, changes one thing about it before its first instruction runs,
// lets it run and exits with its exit code. Used to meet faults that only the world outside
// the installer can cause:
//   start_suspended token-unqueryable <exe> [args...]
//       the process's token denies every access, so that it cannot read its own groups
//       (IsUserAnAdmin is false without any change to the program);
//   start_suspended image-moved <exe> [args...]
//       the program's file is renamed to <exe>.moved once loaded, so that it cannot open its
//       own file any more; the name is restored when it ends.
// Exit codes of its own: 250 usage, 251 start failed, 252 change failed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kUsage = 250;
constexpr int kStartFailed = 251;
constexpr int kChangeFailed = 252;
constexpr DWORD kChildTimeoutMs = 120000;

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      quoted.append(backslashes * 2 + 1, '\\');
    else
      quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

bool LockToken(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, WRITE_DAC, &token)) return false;
  SECURITY_DESCRIPTOR descriptor;
  ACL empty;
  bool ok = InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            InitializeAcl(&empty, sizeof empty, ACL_REVISION) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE) &&
            SetKernelObjectSecurity(token, DACL_SECURITY_INFORMATION, &descriptor);
  CloseHandle(token);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (std::strcmp(argv[1], "token-unqueryable") != 0 &&
                   std::strcmp(argv[1], "image-moved") != 0)) {
    std::fprintf(stderr, "usage: start_suspended token-unqueryable|image-moved <exe> [args]\n");
    return kUsage;
  }
  const bool move_image = std::strcmp(argv[1], "image-moved") == 0;
  const std::string exe = argv[2];
  std::string command_line = QuoteArgument(exe);
  for (int i = 3; i < argc; ++i) command_line += " " + QuoteArgument(argv[i]);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(exe.c_str(), &command_line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "start_suspended: cannot start %s (error %lu)\n", exe.c_str(),
                 GetLastError());
    return kStartFailed;
  }
  const std::string moved = exe + ".moved";
  bool changed =
      move_image ? MoveFileA(exe.c_str(), moved.c_str()) != 0 : LockToken(process.hProcess);
  if (!changed) {
    std::fprintf(stderr, "start_suspended: %s failed (error %lu)\n", argv[1], GetLastError());
    TerminateProcess(process.hProcess, kChangeFailed);
  } else {
    ResumeThread(process.hThread);
  }
  DWORD exit_code = kChangeFailed;
  if (WaitForSingleObject(process.hProcess, kChildTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, kChangeFailed);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  if (changed) GetExitCodeProcess(process.hProcess, &exit_code);
  if (move_image && changed && !MoveFileA(moved.c_str(), exe.c_str())) {
    std::fprintf(stderr, "start_suspended: cannot restore %s\n", exe.c_str());
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(exit_code);
}
