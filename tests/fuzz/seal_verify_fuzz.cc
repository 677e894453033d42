// Arbitrary bytes as the installer's own file: the seal verification must return a verdict
// without reading outside the input, both engines must agree, and whatever the sealing step
// accepts must verify afterwards and carry its own CheckSum. The certificate-table check and
// the CheckSum (in odd chunks and whole) give verdicts on whatever layout reads.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "seal/seal.h"

using kestrane::MemorySource;
using kestrane::SealImage;
using kestrane::SealReport;
using kestrane::SealStatus;
using kestrane::Sha256Engine;
using kestrane::VerifySeal;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past the end.
  std::vector<uint8_t> file(data, data + size);
  MemorySource source(file.data(), file.size());
  // A small chunk makes the streaming cross chunk boundaries inside small inputs.
  SealReport automatic = VerifySeal(source, Sha256Engine::kAuto, 64);
  SealReport portable = VerifySeal(source, Sha256Engine::kPortable);
  if (automatic.status != portable.status) __builtin_trap();
  if (automatic.status == SealStatus::kReadFailed) __builtin_trap();  // memory never fails

  kestrane::PeLayout layout;
  if (kestrane::ReadPeLayout(source, &layout).ok()) {
    uint32_t entries = 0, whole = 0, chunked = 0;
    if (kestrane::CheckCertificateTable(source, layout, &entries).status ==
        SealStatus::kReadFailed) {
      __builtin_trap();
    }
    if (!kestrane::ComputePeChecksum(source, layout, &whole).ok()) __builtin_trap();
    if (!kestrane::ComputePeChecksum(source, layout, &chunked, 3).ok()) __builtin_trap();
    if (whole != chunked) __builtin_trap();
  }

  std::vector<uint8_t> sealed = file;
  if (SealImage(sealed).ok()) {
    MemorySource sealed_source(sealed.data(), sealed.size());
    if (!VerifySeal(sealed_source).ok()) __builtin_trap();
    if (sealed.size() % 8 != 0) __builtin_trap();
    kestrane::PeLayout sealed_layout;
    uint32_t checksum = 0;
    if (!kestrane::ReadPeLayout(sealed_source, &sealed_layout).ok() ||
        !kestrane::ComputePeChecksum(sealed_source, sealed_layout, &checksum).ok() ||
        checksum != sealed_layout.stored_checksum) {
      __builtin_trap();
    }
  } else if (sealed != file) {
    __builtin_trap();  // a refused file is left as it was
  }
  return 0;
}
