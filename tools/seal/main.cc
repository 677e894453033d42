// The package build's sealing step and the publisher's check of a package:
//   kestrane-seal seal FILE       stores the seal in FILE (replaced in one step)
//   kestrane-seal --verify FILE   exit 0 when FILE's seal matches its content
// Exit codes: 0 done / verified, 1 the file is no sealable PE or its seal does not match,
// 2 usage or file-system errors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "update/seal.h"
#include "update/seal_stdio.h"

namespace {

using kestrane::SealOutcome;
using kestrane::SealStatus;

constexpr int kExitOk = 0;
constexpr int kExitBadFile = 1;
constexpr int kExitFailure = 2;

int Usage() {
  std::fprintf(stderr,
               "usage: kestrane-seal seal FILE       store the seal in FILE\n"
               "       kestrane-seal --verify FILE   check FILE's seal\n");
  return kExitFailure;
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes, mode_t* mode) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (ok) {
    *mode = info.st_mode & 07777;
    bytes->resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (ok && done < bytes->size()) {
      ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        ok = false;
      else
        done += static_cast<size_t>(n);
    }
  }
  int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

const char* Describe(const SealOutcome& outcome) {
  switch (outcome.status) {
    case SealStatus::kVerified:
      return "sealed, verified";
    case SealStatus::kReadFailed:
      return "cannot be read";
    case SealStatus::kMalformed:
    case SealStatus::kMismatch:
      return "distorted";
  }
  return "distorted";
}

int Verify(const char* path) {
  kestrane::StdioFileSource source(path);
  if (!source.is_open()) {
    std::fprintf(stderr, "%s: cannot open: %s\n", path, std::strerror(errno));
    return kExitFailure;
  }
  SealOutcome outcome = kestrane::VerifySeal(source);
  if (!outcome.ok()) {
    std::fprintf(stderr, "%s: %s: %s\n", path, Describe(outcome), outcome.problem);
    return outcome.status == SealStatus::kReadFailed ? kExitFailure : kExitBadFile;
  }
  kestrane::PeLayout layout;
  kestrane::ReadPeLayout(source, &layout);
  std::printf("%s: sealed, verified (%s, %llu bytes covered", path,
              layout.pe32_plus ? "PE32+" : "PE32",
              static_cast<unsigned long long>(layout.covered_length));
  if (layout.certificate_size != 0) {
    std::printf(", certificate table of %llu bytes",
                static_cast<unsigned long long>(layout.certificate_size));
  }
  std::printf(")\n");
  return kExitOk;
}

// Seals `path` through a temporary file in the same folder renamed over it, so that an
// interrupted run leaves either the old file or the sealed one, never a half-written one.
int Seal(const char* path) {
  std::vector<uint8_t> image;
  mode_t mode = 0644;
  if (!ReadWholeFile(path, &image, &mode)) {
    std::fprintf(stderr, "%s: cannot read: %s\n", path, std::strerror(errno));
    return kExitFailure;
  }
  const size_t original_size = image.size();
  SealOutcome outcome = kestrane::SealImage(image);
  if (!outcome.ok()) {
    std::fprintf(stderr, "%s: cannot seal: %s\n", path, outcome.problem);
    return kExitBadFile;
  }

  std::string temp = std::string(path) + ".sealing-XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    std::fprintf(stderr, "%s: cannot create a temporary file: %s\n", path, std::strerror(errno));
    return kExitFailure;
  }
  bool written = WriteAll(fd, image) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  int saved = errno;
  written = (close(fd) == 0) && written;
  if (!written) {
    std::fprintf(stderr, "%s: cannot write %s: %s\n", path, temp.c_str(), std::strerror(saved));
    unlink(temp.c_str());
    return kExitFailure;
  }
  // Read the written bytes back: what is renamed into place must verify.
  {
    kestrane::StdioFileSource source(temp.c_str());
    SealOutcome check = source.is_open() ? kestrane::VerifySeal(source)
                                         : SealOutcome{SealStatus::kReadFailed, "cannot open"};
    if (!check.ok()) {
      std::fprintf(stderr, "%s: the sealed copy does not verify: %s\n", path, check.problem);
      unlink(temp.c_str());
      return kExitFailure;
    }
  }
  if (rename(temp.c_str(), path) != 0) {
    std::fprintf(stderr, "%s: cannot replace: %s\n", path, std::strerror(errno));
    unlink(temp.c_str());
    return kExitFailure;
  }
  std::printf("%s: sealed (%zu bytes", path, image.size());
  if (image.size() != original_size) {
    std::printf(", %zu zero bytes added for 8-byte alignment", image.size() - original_size);
  }
  std::printf(")\n");
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  if (std::strcmp(argv[1], "seal") == 0) return Seal(argv[2]);
  if (std::strcmp(argv[1], "--verify") == 0) return Verify(argv[2]);
  return Usage();
}
