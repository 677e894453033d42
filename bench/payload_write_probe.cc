// Writes the payload resource it carries ("kvx", type "cok") to the target given on its
// command line through ExtractPayload, as the installer does, and prints how long the write
// took and the process's peak memory. Built with the payload as its resource by the Windows
// build (CMakeLists.txt); bench/wine_write.sh runs it.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "installfolder/folder_handle_win.h"
#include "payload/extract_payload.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: payload_write_probe <target file>\n");
    return 2;
  }
  // What the process holds before the write: the loaded image with its resource section, the
  // runtime and Wine's own libraries.
  PROCESS_MEMORY_COUNTERS before = {};
  before.cb = sizeof before;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before)) {
    std::fprintf(stderr, "GetProcessMemoryInfo failed: %lu\n", GetLastError());
    return 1;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  // The target's folder is held for the write, as the update run holds the install folder.
  const std::string target = argv[1];
  const size_t slash = target.find_last_of('\\');
  const std::wstring folder_path(target.begin(),
                                 target.begin() + (slash == std::string::npos ? 0 : slash + 1));
  const std::wstring name(target.begin() + (slash == std::string::npos ? 0 : slash + 1),
                          target.end());
  const kestrane::HeldFolder folder(std::u16string(folder_path.begin(), folder_path.end()));
  const bool written = kestrane::ExtractPayload("kvx", "cok", folder,
                                                std::u16string(name.begin(), name.end()), false);
  QueryPerformanceCounter(&end);

  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) {
    std::fprintf(stderr, "GetProcessMemoryInfo failed: %lu\n", GetLastError());
    return 1;
  }
  std::printf(
      "written=%d write_ms=%.2f before_working_set_kib=%llu before_pagefile_kib=%llu "
      "peak_working_set_kib=%llu peak_pagefile_kib=%llu\n",
      written ? 1 : 0,
      1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
      static_cast<unsigned long long>(before.WorkingSetSize / 1024),
      static_cast<unsigned long long>(before.PagefileUsage / 1024),
      static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024),
      static_cast<unsigned long long>(memory.PeakPagefileUsage / 1024));
  return written ? 0 : 1;
}
