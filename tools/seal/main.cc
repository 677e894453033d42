// The package build's sealing step and the publisher's checks of a package:
//   kestrane-seal seal FILE       stores the seal, then the PE CheckSum, in FILE (replaced
//                                 in one step)
//   kestrane-seal --verify FILE   exit 0 when FILE's seal matches its content, its CheckSum
//                                 is right and its certificate table (if any) well-formed
//   kestrane-seal resource FILE TYPE NAME [PAYLOAD]
//                                 prints where resource TYPE/NAME lies, its size and SHA-256;
//                                 with PAYLOAD, exit 0 only when its bytes are PAYLOAD's
// Exit codes: 0 done / verified / identical, 1 the file is no sealable PE, fails a check or
// lacks or differs in the resource, 2 usage or file-system errors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "seal/pe_resources.h"
#include "seal/seal.h"
#include "seal/seal_stdio.h"

namespace {

using kestrane::SealReport;
using kestrane::SealStatus;

constexpr int kExitOk = 0;
constexpr int kExitBadFile = 1;
constexpr int kExitFailure = 2;

int Usage() {
  std::fprintf(stderr,
               "usage: kestrane-seal seal FILE       store the seal and the CheckSum in FILE\n"
               "       kestrane-seal --verify FILE   check FILE's seal, CheckSum and certificate "
               "table\n"
               "       kestrane-seal resource FILE TYPE NAME [PAYLOAD]\n"
               "                                     show resource TYPE/NAME of FILE, or compare "
               "it with PAYLOAD\n");
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

const char* PeKind(const kestrane::PeLayout& layout) {
  const bool gui = layout.subsystem == 2;
  const bool console = layout.subsystem == 3;
  if (layout.pe32_plus) return gui ? "PE32+ GUI" : console ? "PE32+ console" : "PE32+";
  return gui ? "PE32 GUI" : console ? "PE32 console" : "PE32";
}

// One line on stderr for a file that fails: "distorted", then which check and why.
int Distorted(const char* path, const char* check, const char* problem) {
  std::fprintf(stderr, "%s: distorted: %s: %s\n", path, check, problem);
  return kExitBadFile;
}

int Unreadable(const char* path) {
  std::fprintf(stderr, "%s: cannot be read: %s\n", path, std::strerror(errno));
  return kExitFailure;
}

// The checks in the order that names the first fault: the layout, the seal, the certificate
// table's entries, then the CheckSum (written last by sealing and by signing tools).
int Verify(const char* path) {
  kestrane::StdioFileSource source(path);
  if (!source.is_open()) return Unreadable(path);
  kestrane::PeLayout layout;
  SealReport outcome = kestrane::ReadPeLayout(source, &layout);
  if (outcome.status == SealStatus::kReadFailed) return Unreadable(path);
  if (!outcome.ok()) {
    return Distorted(path,
                     outcome.in_certificate_table ? "signature table malformed"
                                                  : "no PE file a seal can vouch for",
                     outcome.problem);
  }
  outcome = kestrane::VerifySeal(source);
  if (outcome.status == SealStatus::kReadFailed) return Unreadable(path);
  if (!outcome.ok()) {
    kestrane::Sha256Digest stored{};
    bool blank = source.ReadAt(kestrane::kSealOffset, stored.data(), stored.size()) &&
                 stored == kestrane::Sha256Digest{};
    return Distorted(path, blank ? "no seal" : "seal mismatch", outcome.problem);
  }
  uint32_t entries = 0;
  outcome = kestrane::CheckCertificateTable(source, layout, &entries);
  if (outcome.status == SealStatus::kReadFailed) return Unreadable(path);
  if (!outcome.ok()) return Distorted(path, "signature table malformed", outcome.problem);
  uint32_t checksum = 0;
  outcome = kestrane::ComputePeChecksum(source, layout, &checksum);
  if (outcome.status == SealStatus::kReadFailed) return Unreadable(path);
  if (checksum != layout.stored_checksum) {
    char problem[96];
    std::snprintf(problem, sizeof problem, "the header says 0x%08X, the file's bytes give 0x%08X",
                  layout.stored_checksum, checksum);
    return Distorted(path, "wrong CheckSum", problem);
  }
  std::printf("%s: sealed, verified: %s, seal over %llu bytes matches, CheckSum 0x%08X right", path,
              PeKind(layout), static_cast<unsigned long long>(layout.covered_length), checksum);
  if (layout.certificate_size != 0) {
    std::printf(
        ", certificate table of %llu bytes in %u well-formed entr%s (the signature "
        "itself is not checked here)",
        static_cast<unsigned long long>(layout.certificate_size), entries,
        entries == 1 ? "y" : "ies");
  } else {
    std::printf(", unsigned");
  }
  std::printf("\n");
  return kExitOk;
}

std::string Hex(const kestrane::Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

// Compares the resource at `location` with the whole file `payload_path` and prints the
// verdict. Returns kExitOk when identical, kExitBadFile when they differ.
int ComparePayload(const char* path, const char* what, kestrane::RandomAccessBytes& source,
                   const kestrane::ResourceLocation& location, const char* payload_path) {
  kestrane::StdioFileSource payload(payload_path);
  if (!payload.is_open()) return Unreadable(payload_path);
  if (payload.Size() != location.size) {
    std::fprintf(stderr, "%s: resource %s differs from %s: it holds %u bytes, the file %llu\n",
                 path, what, payload_path, location.size,
                 static_cast<unsigned long long>(payload.Size()));
    return kExitBadFile;
  }
  std::vector<uint8_t> stored(kestrane::kSealChunkSize), given(kestrane::kSealChunkSize);
  for (uint64_t done = 0; done < location.size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(stored.size(), location.size - done));
    if (!source.ReadAt(location.file_offset + done, stored.data(), n)) return Unreadable(path);
    if (!payload.ReadAt(done, given.data(), n)) return Unreadable(payload_path);
    auto first = std::mismatch(stored.begin(), stored.begin() + n, given.begin());
    if (first.first != stored.begin() + n) {
      std::fprintf(stderr, "%s: resource %s differs from %s, first at byte %llu\n", path, what,
                   payload_path,
                   static_cast<unsigned long long>(done + (first.first - stored.begin())));
      return kExitBadFile;
    }
    done += n;
  }
  std::printf("%s: resource %s: %u bytes, identical to %s\n", path, what, location.size,
              payload_path);
  return kExitOk;
}

int Resource(const char* path, const char* type, const char* name, const char* payload) {
  kestrane::StdioFileSource source(path);
  if (!source.is_open()) return Unreadable(path);
  kestrane::PeLayout layout;
  SealReport read = kestrane::ReadPeLayout(source, &layout);
  if (read.status == SealStatus::kReadFailed) return Unreadable(path);
  if (!read.ok()) {
    std::fprintf(stderr, "%s: no PE file whose resources can be read: %s\n", path, read.problem);
    return kExitBadFile;
  }
  const std::string what = std::string(type) + "/" + name;
  kestrane::ResourceLocation location;
  kestrane::ResourceOutcome found = kestrane::FindPeResource(source, layout, type, name, &location);
  switch (found.status) {
    case kestrane::ResourceStatus::kFound:
      break;
    case kestrane::ResourceStatus::kReadFailed:
      return Unreadable(path);
    case kestrane::ResourceStatus::kNotFound:
      std::fprintf(stderr, "%s: no resource %s: %s\n", path, what.c_str(), found.problem);
      return kExitBadFile;
    case kestrane::ResourceStatus::kMalformed:
      std::fprintf(stderr, "%s: resource directory malformed: %s\n", path, found.problem);
      return kExitBadFile;
  }
  if (payload != nullptr) {
    // The installer loads whichever language entry the system picks: there must be one.
    if (location.languages != 1) {
      std::fprintf(stderr, "%s: resource %s has %u language entries, not one\n", path, what.c_str(),
                   location.languages);
      return kExitBadFile;
    }
    return ComparePayload(path, what.c_str(), source, location, payload);
  }
  kestrane::Sha256 hash;
  std::vector<uint8_t> chunk(kestrane::kSealChunkSize);
  for (uint64_t done = 0; done < location.size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), location.size - done));
    if (!source.ReadAt(location.file_offset + done, chunk.data(), n)) return Unreadable(path);
    hash.Update(chunk.data(), n);
    done += n;
  }
  std::printf("%s: resource %s: %u bytes at offset %llu, language 0x%04X (%u entr%s), SHA-256 %s\n",
              path, what.c_str(), location.size,
              static_cast<unsigned long long>(location.file_offset), location.language_id,
              location.languages, location.languages == 1 ? "y" : "ies",
              Hex(hash.Finish()).c_str());
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
  SealReport outcome = kestrane::SealImage(image);
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
    SealReport check = source.is_open() ? kestrane::VerifySeal(source)
                                        : SealReport{SealStatus::kReadFailed, "cannot open"};
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
  if (argc == 3 && std::strcmp(argv[1], "seal") == 0) return Seal(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--verify") == 0) return Verify(argv[2]);
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "resource") == 0) {
    return Resource(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
  }
  return Usage();
}
