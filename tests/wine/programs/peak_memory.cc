// Starts a program, waits for it and prints its peak memory, for the benchmarks:
//   peak_memory PROGRAM [ARG]...
// prints "exit=<code> peak_working_set_kib=<n> peak_private_kib=<n> samples=<n>". The
// counters are read while the program runs (every millisecond) and once more after it ended
// through the handle kept open: Windows keeps a finished process's peaks, Wine only answers
// for a running one and reports private bytes as they are now, so the largest value seen
// counts. Exit code: 0, or 125 when the program cannot be started or measured.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kCannotRun = 125;

struct Peaks {
  SIZE_T working_set = 0;
  SIZE_T private_bytes = 0;
  int samples = 0;
};

void Sample(HANDLE process, Peaks* peaks) {
  PROCESS_MEMORY_COUNTERS counters;
  std::memset(&counters, 0, sizeof counters);
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(process, &counters, sizeof counters)) return;
  if (counters.PeakWorkingSetSize > peaks->working_set) {
    peaks->working_set = counters.PeakWorkingSetSize;
  }
  const SIZE_T private_bytes = counters.PeakPagefileUsage > counters.PagefileUsage
                                   ? counters.PeakPagefileUsage
                                   : counters.PagefileUsage;
  if (private_bytes > peaks->private_bytes) peaks->private_bytes = private_bytes;
  ++peaks->samples;
}

std::string Quoted(const char* word) {
  const std::string text = word;
  if (!text.empty() && text.find_first_of(" \t") == std::string::npos) return text;
  return "\"" + text + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: peak_memory PROGRAM [ARG]...\n");
    return kCannotRun;
  }
  std::string command_line;
  for (int i = 1; i < argc; ++i) command_line += (i > 1 ? " " : "") + Quoted(argv[i]);
  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "peak_memory: cannot start %s (error %lu)\n", argv[1], GetLastError());
    return kCannotRun;
  }
  CloseHandle(process.hThread);
  Peaks peaks;
  while (WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) Sample(process.hProcess, &peaks);
  Sample(process.hProcess, &peaks);
  DWORD exit_code = 0;
  const bool ended = GetExitCodeProcess(process.hProcess, &exit_code) != FALSE;
  CloseHandle(process.hProcess);
  if (!ended || peaks.samples == 0) {
    std::fprintf(stderr, "peak_memory: no measurement of %s\n", argv[1]);
    return kCannotRun;
  }
  std::printf("exit=%lu peak_working_set_kib=%llu peak_private_kib=%llu samples=%d\n", exit_code,
              static_cast<unsigned long long>(peaks.working_set / 1024),
              static_cast<unsigned long long>(peaks.private_bytes / 1024), peaks.samples);
  return 0;
}
