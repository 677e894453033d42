// The package's integrity seal: a SHA-256 digest over the installer's own file that the
// package build stores in the file and the installer recomputes before it writes anything.
//
// Where it lives: the 32 bytes at 0x1C..0x3B of the DOS header (e_res, e_oemid, e_oeminfo
// and e_res2). Nothing reads them: the loader looks only at e_magic and e_lfanew, and the
// DOS stub program does not use them. The DOS stub would also do, but its size depends on
// the linker; the reserved words are always there.
//
// What it covers: every byte of the file from offset 0 up to the certificate table (the
// whole file when unsigned), in file order, except
//   - the seal's own 32 bytes,
//   - the optional header's CheckSum (4 bytes),
//   - the certificate-table entry of the data directory (index 4, 8 bytes),
// followed by that covered length as 8 bytes little-endian. These are exactly the parts that
// Authenticode signing changes, so a sealed package can be signed afterwards and keep its
// seal; any other change breaks it.
//
// What a file must satisfy to be checked at all, because the exclusions are otherwise room
// to hide bytes: the certificate table, when the entry names one, ends exactly at the end of
// the file, starts on an 8-byte boundary (as Authenticode places it) and at or after the end
// of the headers and of every section's raw data;
// the PE header lies after the seal; every header, the section table and every section lie
// inside the covered length. A file failing any of this is treated as distorted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "seal/sha256.h"

namespace kestrane {

constexpr uint64_t kSealOffset = 0x1C;
constexpr size_t kSealSize = 32;
// The verifier streams the file through a buffer of this size, never the whole file.
constexpr size_t kSealChunkSize = size_t{1} << 20;

// A file seen through bounded reads at given offsets.
class RandomAccessBytes {
 public:
  virtual ~RandomAccessBytes() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly `size` bytes at `offset` into `out`. Returns false when the bytes cannot
  // be read (a read error, or a range past the end of the source).
  virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t size) = 0;
};

// A RandomAccessBytes over bytes already in memory (the sealing tool, the tests).
class MemorySource : public RandomAccessBytes {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit MemorySource(const std::vector<uint8_t>& bytes)
      : data_(bytes.data()), size_(bytes.size()) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t size) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// Where the seal's exclusions lie in one file, and how much of the file it covers.
struct PeLayout {
  uint64_t file_size = 0;
  bool pe32_plus = false;
  uint64_t checksum_offset = 0;
  uint64_t certificate_entry_offset = 0;
  uint64_t certificate_offset = 0;  // 0 when the file carries no certificate table
  uint64_t certificate_size = 0;
  uint64_t covered_length = 0;  // file_size less the certificate table
  uint64_t data_end = 0;        // end of the headers, the section table and section data
  uint32_t stored_checksum = 0;
  uint16_t subsystem = 0;  // 2 GUI, 3 console
  uint64_t section_table = 0;
  uint32_t section_count = 0;
  uint32_t resource_rva = 0;  // the resource directory's entry of the data directory
  uint32_t resource_size = 0;
};

enum class SealStatus {
  kVerified,    // the stored seal matches the file
  kReadFailed,  // the source could not be read
  kMalformed,   // not a PE file whose layout the seal can vouch for
  kMismatch,    // a well-formed PE file whose stored seal differs from its content
};

// What one step of checking or making a seal found: its status and why.
struct SealReport {
  SealStatus status;
  const char* problem;  // why, in a few words; empty on success
  // Set with kMalformed when what is wrong is the certificate (signature) table.
  bool in_certificate_table = false;
  bool ok() const { return status == SealStatus::kVerified; }
};

// Reads and checks the PE headers of `source`. On kVerified, `layout` describes the file;
// otherwise the report says what is wrong (kMalformed) or that a read failed.
SealReport ReadPeLayout(RandomAccessBytes& source, PeLayout* layout);

// Computes the seal of a file whose layout ReadPeLayout returned, streaming the covered
// bytes through one buffer of at most `chunk_size` bytes. Returns kReadFailed when a read
// fails. May throw std::bad_alloc for the buffer.
SealReport ComputeSeal(RandomAccessBytes& source, const PeLayout& layout, Sha256Digest* seal,
                       Sha256Engine engine = Sha256Engine::kAuto,
                       size_t chunk_size = kSealChunkSize);

// Checks the seal stored in `source` against its content: kVerified, kReadFailed,
// kMalformed or kMismatch. May throw std::bad_alloc.
SealReport VerifySeal(RandomAccessBytes& source, Sha256Engine engine = Sha256Engine::kAuto,
                      size_t chunk_size = kSealChunkSize);

// Computes the PE CheckSum of the whole file as imagehlp's CheckSumMappedFile does: the
// 16-bit little-endian words of the file (a last odd byte padded with zero) added with
// end-around carry, the 4 bytes of the CheckSum field counted as zero, then the file's
// length added. Returns kReadFailed when a read fails. May throw std::bad_alloc.
SealReport ComputePeChecksum(RandomAccessBytes& source, const PeLayout& layout, uint32_t* checksum,
                             size_t chunk_size = kSealChunkSize);

// Checks the WIN_CERTIFICATE entries of the certificate table of `layout`: each at least its
// 8-byte header long, revision 1.0 or 2.0, type PKCS #7 signed data, the next starting at the
// following 8-byte boundary, and together filling the table. Sets `entries` to their count
// (0 and kVerified for a file without a table); kMalformed with in_certificate_table set
// when the table is malformed, kReadFailed when a read fails.
SealReport CheckCertificateTable(RandomAccessBytes& source, const PeLayout& layout,
                                 uint32_t* entries);

// Seals a PE image in memory: pads it with zero bytes to a multiple of 8 (so that a later
// Authenticode signature adds no padding that the seal would have to cover), stores the
// seal, then the image's PE CheckSum. Refuses (kMalformed, image unchanged) a file that is no
// suitable PE or that already carries a certificate table: a signature must be made after sealing.
SealReport SealImage(std::vector<uint8_t>& image);

}  // namespace kestrane
