// Measures a folder tree with FolderSizeKiB, as the installer does after writing, for the
// benchmarks: folder_size_probe FOLDER prints "kib=<n> ms=<time of the call>".
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "environment/folder_size_win.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: folder_size_probe FOLDER\n");
    return 2;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  // The folder as the wide command line gives it, so that a name in any script is measured.
  int count = 0;
  LPWSTR* wide_args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide_args == nullptr || count != 2) return 2;
  const std::u16string folder(wide_args[1], wide_args[1] + lstrlenW(wide_args[1]));
  LocalFree(wide_args);
  const int32_t kib = kestrane::FolderSizeKiB(folder);
  QueryPerformanceCounter(&end);
  std::printf("kib=%ld ms=%.2f\n", static_cast<long>(kib),
              1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                  static_cast<double>(frequency.QuadPart));
  return kib < 0 ? 1 : 0;
}
