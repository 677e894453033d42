// Starts a program with its environment changed, waits for it and ends with its exit code,
// for tests of hostile environment variables ("ComSpec" and "Temp" unset or too long). Wine
// builds a new process's environment from its registry, so a test cannot set these from
// outside; a parent that changes its own environment hands it down.
//   with_environment [set NAME VALUE | unset NAME | pad NAME LENGTH]... -- PROGRAM [ARG]...
//     pad  appends blanks to the variable's value until it is LENGTH characters long
// Exit code: the program's, or 125 when the words are wrong or it cannot be started.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kCannotRun = 125;
constexpr size_t kLongestValue = 32767;

int Usage() {
  std::fprintf(stderr,
               "usage: with_environment [set NAME VALUE | unset NAME | pad NAME LENGTH]... -- "
               "PROGRAM [ARG]...\n");
  return kCannotRun;
}

std::string Variable(const char* name) {
  std::vector<char> value(kLongestValue + 1, '\0');
  const DWORD length = GetEnvironmentVariableA(name, value.data(), kLongestValue + 1);
  return length <= kLongestValue ? std::string(value.data(), length) : std::string();
}

// Quotes a word for the command line when it holds a blank or is empty (no test word holds a
// quote or ends in a backslash).
std::string Quoted(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t") == std::string::npos) return word;
  return "\"" + word + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string step = argv[i];
    if (step == "set" && i + 2 < argc) {
      if (!SetEnvironmentVariableA(argv[i + 1], argv[i + 2])) return Usage();
      i += 2;
    } else if (step == "unset" && i + 1 < argc) {
      SetEnvironmentVariableA(argv[i + 1], nullptr);
      i += 1;
    } else if (step == "pad" && i + 2 < argc) {
      const size_t length = std::strtoul(argv[i + 2], nullptr, 10);
      std::string value = Variable(argv[i + 1]);
      if (length > kLongestValue) return Usage();
      if (value.size() < length) value.append(length - value.size(), ' ');
      if (!SetEnvironmentVariableA(argv[i + 1], value.c_str())) return Usage();
      i += 2;
    } else {
      return Usage();
    }
  }
  if (i + 1 >= argc) return Usage();
  std::string command_line;
  for (int k = i + 1; k < argc; ++k) command_line += (k > i + 1 ? " " : "") + Quoted(argv[k]);
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "with_environment: cannot start %s (error %lu)\n", argv[i + 1],
                 GetLastError());
    return kCannotRun;
  }
  CloseHandle(process.hThread);
  DWORD exit_code = kCannotRun;
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &exit_code)) {
    exit_code = kCannotRun;
  }
  CloseHandle(process.hProcess);
  return static_cast<int>(exit_code);
}
