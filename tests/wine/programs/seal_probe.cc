// Times the installer's check of a file's seal in this process, for the benchmarks: the same
// call the package makes on itself before it writes anything, in the kind of process (32-bit
// or 64-bit) this probe was built for.
//   seal_probe FILE [RUNS]
// prints one line per run, "ms=<milliseconds> status=<0 verified, else the failure>", then
// "engine=sha-extensions|portable". Exit code 0 when every run verified, 1 otherwise, 2 on a
// usage error.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "seal/seal_file_win.h"
#include "seal/sha256.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: seal_probe FILE [RUNS]\n");
    return 2;
  }
  const int runs = argc == 3 ? std::atoi(argv[2]) : 1;
  if (runs < 1 || runs > 1000) {
    std::fprintf(stderr, "seal_probe: RUNS must be 1 to 1000\n");
    return 2;
  }
  // The path as the system gave it, whatever the code page can hold.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr || count < 2) {
    std::fprintf(stderr, "seal_probe: cannot read the command line\n");
    return 2;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  bool all_verified = true;
  for (int run = 0; run < runs; ++run) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const kestrane::SealReport outcome = kestrane::CheckFileSeal(wide[1]);
    QueryPerformanceCounter(&end);
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                      static_cast<double>(frequency.QuadPart);
    std::printf("ms=%.3f status=%d\n", ms, static_cast<int>(outcome.status));
    all_verified = all_verified && outcome.ok();
  }
  LocalFree(wide);
  std::printf("engine=%s\n", kestrane::Sha256HasShaNi() ? "sha-extensions" : "portable");
  return all_verified ? 0 : 1;
}
