// Throughput of the installer's seal verification, next to `openssl dgst -sha256` on the
// same file in the same run.
//   seal_bench [FILE] [RUNS]
// FILE defaults to the default package (build/win32/KestraneUpdate.exe, else the x86_64
// one); a file that is no PE is hashed whole through the same streaming path. The file is
// read from the page cache: one warm-up pass precedes the timed runs.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <vector>

#include "seal/seal.h"
#include "seal/seal_stdio.h"
#include "seal/sha256.h"

namespace {

using Clock = std::chrono::steady_clock;
using kestrane::Sha256Engine;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Spread {
  double median, low, high;
};

Spread SpreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back()};
}

std::string BuildFolder(const char* argv0) {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
  std::string native = path.substr(0, path.rfind('/'));
  return native.substr(0, native.rfind('/'));  // build/native -> build
}

bool Exists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// One pass as the installer makes it: layout, then the covered bytes through one buffer.
// A file that is no PE is hashed whole through the same buffer instead.
bool VerifyOnce(const std::string& path, Sha256Engine engine, bool as_pe) {
  kestrane::StdioFileSource source(path.c_str());
  if (!source.is_open()) return false;
  if (as_pe) {
    kestrane::SealReport outcome = kestrane::VerifySeal(source, engine);
    return outcome.status == kestrane::SealStatus::kVerified ||
           outcome.status == kestrane::SealStatus::kMismatch;
  }
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kestrane::kSealChunkSize]);
  kestrane::Sha256 hash(engine);
  for (uint64_t offset = 0; offset < source.Size();) {
    size_t n =
        static_cast<size_t>(std::min<uint64_t>(kestrane::kSealChunkSize, source.Size() - offset));
    if (!source.ReadAt(offset, buffer.get(), n)) return false;
    hash.Update(buffer.get(), n);
    offset += n;
  }
  hash.Finish();
  return true;
}

// Runs `openssl dgst -sha256` over `copies` repetitions of the file, output discarded.
bool RunOpenssl(const std::string& path, int copies, double* seconds) {
  std::vector<std::string> args = {"openssl", "dgst", "-sha256"};
  for (int i = 0; i < copies; ++i) args.push_back(path);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  Clock::time_point start = Clock::now();
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execvp("openssl", argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  *seconds = SecondsSince(start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void PrintRow(const char* name, double megabytes, const Spread& seconds) {
  std::printf("  %-34s %8.1f MB/s   (spread %.1f .. %.1f MB/s; median %.2f ms)\n", name,
              megabytes / seconds.median, megabytes / seconds.high, megabytes / seconds.low,
              seconds.median * 1000);
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  if (argc > 1) {
    path = argv[1];
  } else {
    std::string build = BuildFolder(argv[0]);
    for (const char* candidate : {"/win32/KestraneUpdate.exe", "/win64/KestraneUpdate.exe"}) {
      if (Exists(build + candidate)) {
        path = build + candidate;
        break;
      }
    }
    if (path.empty()) {
      std::fprintf(stderr,
                   "seal_bench: no default package in %s/win32 or win64; give a file: "
                   "seal_bench FILE [RUNS]\n",
                   build.c_str());
      return 2;
    }
  }
  const int runs = argc > 2 ? std::max(3, std::atoi(argv[2])) : 9;

  kestrane::StdioFileSource probe(path.c_str());
  if (!probe.is_open()) {
    std::perror(path.c_str());
    return 2;
  }
  const double megabytes = static_cast<double>(probe.Size()) / 1e6;
  kestrane::PeLayout layout;
  const bool as_pe = kestrane::ReadPeLayout(probe, &layout).ok();
  std::printf("seal_bench: %s, %.1f MB, %s; median of %d runs, file in the page cache\n",
              path.c_str(), megabytes,
              as_pe ? "seal verification" : "no PE: streamed SHA-256 of the whole file", runs);
  VerifyOnce(path, Sha256Engine::kPortable, as_pe);  // warm the page cache

  std::vector<std::pair<const char*, Sha256Engine>> engines = {
      {"verify, portable SHA-256", Sha256Engine::kPortable}};
  if (kestrane::Sha256HasShaNi()) {
    engines.push_back({"verify, SHA extensions", Sha256Engine::kShaNi});
  } else {
    std::printf("  (no SHA extensions on this processor: that row is left out)\n");
  }
  double best_ours = 0;
  for (const auto& engine : engines) {
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
      Clock::time_point start = Clock::now();
      if (!VerifyOnce(path, engine.second, as_pe)) {
        std::fprintf(stderr, "seal_bench: %s cannot be read\n", path.c_str());
        return 2;
      }
      seconds.push_back(SecondsSince(start));
    }
    Spread spread = SpreadOf(seconds);
    PrintRow(engine.first, megabytes, spread);
    best_ours = std::max(best_ours, megabytes / spread.median);
  }

  // openssl's start-up (loading libcrypto, about a few ms) would dominate a 17 MB file, so
  // each run times one process over the file listed once and over it listed 11 times; the
  // difference is ten hashing passes.
  constexpr int kCopies = 11;
  std::vector<double> per_pass, whole_command;
  for (int run = 0; run < runs; ++run) {
    double once = 0, many = 0;
    if (!RunOpenssl(path, 1, &once) || !RunOpenssl(path, kCopies, &many)) {
      std::printf("  openssl dgst -sha256: could not be run\n");
      return 0;
    }
    whole_command.push_back(once);
    per_pass.push_back(std::max(many - once, 1e-9) / (kCopies - 1));
  }
  Spread openssl = SpreadOf(per_pass);
  PrintRow("openssl dgst -sha256 (hashing)", megabytes, openssl);
  PrintRow("openssl dgst -sha256 (whole command)", megabytes, SpreadOf(whole_command));
  std::printf("  best verification / openssl hashing: %.2f\n",
              best_ours / (megabytes / openssl.median));
  return 0;
}
