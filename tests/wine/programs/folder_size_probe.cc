// Measures a folder tree with FolderSizeKiB, as the installer does after writing, for the
// benchmarks: folder_size_probe FOLDER prints "kib=<n> ms=<time of the call>".
#include <windows.h>

#include <cstdio>

#include "environment/folder_size_win.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: folder_size_probe FOLDER\n");
    return 2;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const int32_t kib = kestrane::FolderSizeKiB(argv[1]);
  QueryPerformanceCounter(&end);
  std::printf("kib=%ld ms=%.2f\n", static_cast<long>(kib),
              1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                  static_cast<double>(frequency.QuadPart));
  return kib < 0 ? 1 : 0;
}
