#include "seal/seal.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kestrane {
namespace {

// Offsets of the PE fields the seal needs (Microsoft PE/COFF format).
constexpr uint64_t kDosHeaderSize = 0x40;
constexpr uint64_t kLfanewOffset = 0x3C;
constexpr uint64_t kSignatureSize = 4;  // "PE\0\0"
constexpr uint64_t kFileHeaderSize = 20;
constexpr uint64_t kNumberOfSectionsOffset = 2;       // in the file header
constexpr uint64_t kSizeOfOptionalHeaderOffset = 16;  // in the file header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint64_t kSizeOfHeadersOffset = 60;  // in the optional header, both kinds
constexpr uint64_t kCheckSumOffset = 64;
constexpr uint64_t kSubsystemOffset = 68;
constexpr uint64_t kPe32RvaCountOffset = 92;
constexpr uint64_t kPe32DirectoryOffset = 96;
constexpr uint64_t kPe32PlusRvaCountOffset = 108;
constexpr uint64_t kPe32PlusDirectoryOffset = 112;
constexpr uint64_t kDirectoryEntrySize = 8;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kCertificateDirectoryIndex = 4;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSectionRawSizeOffset = 16;
constexpr uint64_t kSectionRawPointerOffset = 20;
// Authenticode places the certificate table on an 8-byte boundary, padding the file first.
constexpr uint64_t kCertificateAlignment = 8;
// WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then the certificate itself.
constexpr uint64_t kWinCertificateHeaderSize = 8;
constexpr uint16_t kWinCertRevision1 = 0x0100;
constexpr uint16_t kWinCertRevision2 = 0x0200;
constexpr uint16_t kWinCertTypePkcsSignedData = 0x0002;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

SealReport Verified() { return {SealStatus::kVerified, ""}; }
SealReport Malformed(const char* problem) { return {SealStatus::kMalformed, problem}; }
SealReport CertificateMalformed(const char* problem) {
  return {SealStatus::kMalformed, problem, true};
}
SealReport ReadFailed() { return {SealStatus::kReadFailed, "the file cannot be read"}; }

// Reads `size` bytes at `offset` when they lie inside the file; a range outside it is the
// file's fault (kMalformed, with `problem`), a failing read the source's (kReadFailed).
SealReport ReadInside(RandomAccessBytes& source, uint64_t offset, uint8_t* out, size_t size,
                      const char* problem) {
  uint64_t file_size = source.Size();
  if (offset > file_size || file_size - offset < size) return Malformed(problem);
  if (!source.ReadAt(offset, out, size)) return ReadFailed();
  return Verified();
}

// Finds the end of the section data: the largest raw pointer + raw size over the section
// table at `table`, read in batches so that a table of any length needs no large buffer.
SealReport SectionDataEnd(RandomAccessBytes& source, uint64_t table, uint32_t count,
                          uint64_t* end) {
  constexpr uint32_t kBatch = 64;
  uint8_t batch[kBatch * kSectionHeaderSize];
  for (uint32_t first = 0; first < count; first += kBatch) {
    uint32_t n = std::min(kBatch, count - first);
    SealReport read = ReadInside(source, table + uint64_t{first} * kSectionHeaderSize, batch,
                                 n * kSectionHeaderSize, "the section table runs past the end");
    if (!read.ok()) return read;
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* header = batch + i * kSectionHeaderSize;
      uint64_t raw_size = Le32(header + kSectionRawSizeOffset);
      uint64_t raw_pointer = Le32(header + kSectionRawPointerOffset);
      if (raw_size != 0) *end = std::max(*end, raw_pointer + raw_size);
    }
  }
  return Verified();
}

struct ExcludedRange {
  uint64_t begin;
  uint64_t end;
};

// Feeds hash with the bytes of `data` (which starts at file offset `offset`) that lie in none
// of the excluded ranges; the ranges are sorted and disjoint.
void HashOutside(Sha256& hash, const uint8_t* data, uint64_t offset, size_t size,
                 const ExcludedRange* excluded, size_t excluded_count) {
  uint64_t position = offset;
  const uint64_t end = offset + size;
  for (size_t i = 0; i < excluded_count && position < end; ++i) {
    if (excluded[i].end <= position) continue;
    if (excluded[i].begin >= end) break;
    if (excluded[i].begin > position) {
      hash.Update(data + (position - offset), static_cast<size_t>(excluded[i].begin - position));
    }
    position = excluded[i].end;
  }
  if (position < end) hash.Update(data + (position - offset), static_cast<size_t>(end - position));
}

}  // namespace

bool MemorySource::ReadAt(uint64_t offset, uint8_t* out, size_t size) {
  if (offset > size_ || size_ - offset < size) return false;
  if (size != 0) std::memcpy(out, data_ + offset, size);
  return true;
}

SealReport ReadPeLayout(RandomAccessBytes& source, PeLayout* layout) {
  PeLayout result;
  result.file_size = source.Size();

  uint8_t dos[kDosHeaderSize];
  SealReport read = ReadInside(source, 0, dos, sizeof dos, "too short for a DOS header");
  if (!read.ok()) return read;
  if (dos[0] != 'M' || dos[1] != 'Z') return Malformed("no MZ signature");
  // Read as unsigned: a "negative" e_lfanew is just a huge offset, outside every real file.
  const uint64_t pe_offset = Le32(dos + kLfanewOffset);
  if (pe_offset < kDosHeaderSize) return Malformed("the PE header overlaps the DOS header");

  uint8_t pe[kSignatureSize + kFileHeaderSize];
  read = ReadInside(source, pe_offset, pe, sizeof pe, "the PE header lies outside the file");
  if (!read.ok()) return read;
  if (std::memcmp(pe, "PE\0\0", kSignatureSize) != 0) return Malformed("no PE signature");
  const uint32_t section_count = Le16(pe + kSignatureSize + kNumberOfSectionsOffset);
  const uint64_t optional_size = Le16(pe + kSignatureSize + kSizeOfOptionalHeaderOffset);
  const uint64_t optional = pe_offset + sizeof pe;

  // The fields up to and including the certificate entry; PE32+ has the longer prefix.
  uint8_t head[kPe32PlusDirectoryOffset + (kCertificateDirectoryIndex + 1) * kDirectoryEntrySize];
  read = ReadInside(source, optional, head, 2, "the optional header lies outside the file");
  if (!read.ok()) return read;
  uint64_t rva_count_offset, directory_offset;
  switch (Le16(head)) {
    case kPe32Magic:
      rva_count_offset = kPe32RvaCountOffset;
      directory_offset = kPe32DirectoryOffset;
      break;
    case kPe32PlusMagic:
      result.pe32_plus = true;
      rva_count_offset = kPe32PlusRvaCountOffset;
      directory_offset = kPe32PlusDirectoryOffset;
      break;
    default:
      return Malformed("the optional header is neither PE32 nor PE32+");
  }
  const uint64_t entry = directory_offset + kCertificateDirectoryIndex * kDirectoryEntrySize;
  const uint64_t needed = entry + kDirectoryEntrySize;
  if (optional_size < needed) return Malformed("the optional header has no certificate entry");
  read = ReadInside(source, optional, head, needed, "the optional header lies outside the file");
  if (!read.ok()) return read;
  if (Le32(head + rva_count_offset) <= kCertificateDirectoryIndex) {
    return Malformed("the data directory has no certificate entry");
  }

  result.checksum_offset = optional + kCheckSumOffset;
  result.stored_checksum = Le32(head + kCheckSumOffset);
  result.subsystem = Le16(head + kSubsystemOffset);
  result.certificate_entry_offset = optional + entry;
  const uint64_t resource_entry = directory_offset + kResourceDirectoryIndex * kDirectoryEntrySize;
  result.resource_rva = Le32(head + resource_entry);
  result.resource_size = Le32(head + resource_entry + 4);
  const uint32_t certificate_offset = Le32(head + entry);
  const uint32_t certificate_size = Le32(head + entry + 4);

  const uint64_t section_table = optional + optional_size;
  result.section_table = section_table;
  result.section_count = section_count;
  uint64_t data_end = section_table + uint64_t{section_count} * kSectionHeaderSize;
  data_end = std::max<uint64_t>(data_end, Le32(head + kSizeOfHeadersOffset));
  read = SectionDataEnd(source, section_table, section_count, &data_end);
  if (!read.ok()) return read;
  result.data_end = data_end;

  if (certificate_offset == 0 && certificate_size == 0) {
    result.covered_length = result.file_size;
  } else {
    if (certificate_offset == 0 || certificate_size == 0) {
      return CertificateMalformed("the certificate entry is half empty");
    }
    if (uint64_t{certificate_offset} + certificate_size != result.file_size) {
      return CertificateMalformed("the certificate table does not end the file");
    }
    if (certificate_offset % kCertificateAlignment != 0) {
      return CertificateMalformed("the certificate table is not 8-byte aligned");
    }
    result.certificate_offset = certificate_offset;
    result.certificate_size = certificate_size;
    result.covered_length = certificate_offset;
  }
  if (data_end > result.covered_length) {
    if (result.certificate_size != 0) {
      return CertificateMalformed("the certificate table overlaps the headers or section data");
    }
    return Malformed("the headers or section data run past the end of the file");
  }
  *layout = result;
  return Verified();
}

SealReport ComputeSeal(RandomAccessBytes& source, const PeLayout& layout, Sha256Digest* seal,
                       Sha256Engine engine, size_t chunk_size) {
  // Sorted and disjoint: the seal ends at 0x3C, the PE header starts at 0x40 or later, and
  // the checksum precedes the data directory inside the optional header.
  const ExcludedRange excluded[] = {
      {kSealOffset, kSealOffset + kSealSize},
      {layout.checksum_offset, layout.checksum_offset + 4},
      {layout.certificate_entry_offset, layout.certificate_entry_offset + kDirectoryEntrySize},
  };
  if (chunk_size == 0) chunk_size = 1;
  const size_t buffer_size = static_cast<size_t>(
      std::min<uint64_t>(chunk_size, std::max<uint64_t>(layout.covered_length, 1)));
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[buffer_size]);

  Sha256 hash(engine);
  for (uint64_t offset = 0; offset < layout.covered_length;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer_size, layout.covered_length - offset));
    if (!source.ReadAt(offset, buffer.get(), n)) return ReadFailed();
    HashOutside(hash, buffer.get(), offset, n, excluded, sizeof excluded / sizeof excluded[0]);
    offset += n;
  }
  uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(layout.covered_length >> (8 * i));
  hash.Update(length, sizeof length);
  *seal = hash.Finish();
  return Verified();
}

SealReport VerifySeal(RandomAccessBytes& source, Sha256Engine engine, size_t chunk_size) {
  PeLayout layout;
  SealReport outcome = ReadPeLayout(source, &layout);
  if (!outcome.ok()) return outcome;
  Sha256Digest stored;
  if (!source.ReadAt(kSealOffset, stored.data(), stored.size())) return ReadFailed();
  Sha256Digest computed;
  outcome = ComputeSeal(source, layout, &computed, engine, chunk_size);
  if (!outcome.ok()) return outcome;
  if (stored == computed) return Verified();
  bool blank = std::all_of(stored.begin(), stored.end(), [](uint8_t b) { return b == 0; });
  return {SealStatus::kMismatch,
          blank ? "the file carries no seal" : "the seal does not match the file's content"};
}

SealReport ComputePeChecksum(RandomAccessBytes& source, const PeLayout& layout, uint32_t* checksum,
                             size_t chunk_size) {
  // Whole words per chunk, so that no word straddles two reads.
  chunk_size = std::max<size_t>(chunk_size & ~size_t{1}, 2);
  const size_t buffer_size =
      static_cast<size_t>(std::min<uint64_t>(chunk_size, std::max<uint64_t>(layout.file_size, 2)));
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[buffer_size + 1]);
  const uint64_t field_begin = layout.checksum_offset;
  const uint64_t field_end = layout.checksum_offset + 4;

  uint64_t sum = 0;
  for (uint64_t offset = 0; offset < layout.file_size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(buffer_size, layout.file_size - offset));
    if (!source.ReadAt(offset, buffer.get(), n)) return ReadFailed();
    // The field counts as zero; so does the byte that pads an odd file to whole words.
    for (uint64_t i = std::max(field_begin, offset); i < std::min(field_end, offset + n); ++i) {
      buffer[i - offset] = 0;
    }
    buffer[n] = 0;
    for (size_t i = 0; i < n; i += 2) sum += buffer[i] | (buffer[i + 1] << 8);
    // At most 2^19 words of 0xFFFF per MiB: folding once a chunk keeps the sum far from overflow.
    sum = (sum & 0xFFFF) + (sum >> 16);
    offset += n;
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  *checksum = static_cast<uint32_t>(sum + layout.file_size);
  return Verified();
}

SealReport CheckCertificateTable(RandomAccessBytes& source, const PeLayout& layout,
                                 uint32_t* entries) {
  *entries = 0;
  if (layout.certificate_size == 0) return Verified();
  const uint64_t end = layout.certificate_offset + layout.certificate_size;
  uint64_t position = layout.certificate_offset;
  // Every entry takes at least 8 bytes, so the loop ends within size / 8 rounds.
  while (position < end) {
    uint8_t header[kWinCertificateHeaderSize];
    if (end - position < sizeof header) {
      return CertificateMalformed("a certificate entry is cut short by the end of the table");
    }
    if (!source.ReadAt(position, header, sizeof header)) return ReadFailed();
    const uint64_t length = Le32(header);
    const uint16_t revision = Le16(header + 4);
    const uint16_t type = Le16(header + 6);
    if (length < kWinCertificateHeaderSize) {
      return CertificateMalformed("a certificate entry is shorter than its header");
    }
    if (length > end - position) {
      return CertificateMalformed("a certificate entry runs past the end of the table");
    }
    if (revision != kWinCertRevision1 && revision != kWinCertRevision2) {
      return CertificateMalformed("a certificate entry has an unknown revision");
    }
    if (type != kWinCertTypePkcsSignedData) {
      return CertificateMalformed("a certificate entry is no PKCS #7 signature");
    }
    ++*entries;
    const uint64_t next = position + length;
    position = std::min(
        end, (next + kCertificateAlignment - 1) / kCertificateAlignment * kCertificateAlignment);
  }
  return Verified();
}

SealReport SealImage(std::vector<uint8_t>& image) {
  PeLayout layout;
  {
    MemorySource source(image);
    SealReport outcome = ReadPeLayout(source, &layout);
    if (!outcome.ok()) return outcome;
  }
  if (layout.certificate_size != 0) {
    return Malformed("the file is already signed; seal it before signing");
  }
  image.resize((image.size() + kCertificateAlignment - 1) / kCertificateAlignment *
               kCertificateAlignment);

  MemorySource source(image);
  SealReport outcome = ReadPeLayout(source, &layout);
  if (!outcome.ok()) return outcome;
  Sha256Digest seal;
  outcome = ComputeSeal(source, layout, &seal);
  if (!outcome.ok()) return outcome;
  std::memcpy(image.data() + kSealOffset, seal.data(), seal.size());
  uint32_t checksum = 0;
  outcome = ComputePeChecksum(source, layout, &checksum);
  if (!outcome.ok()) return outcome;
  for (int i = 0; i < 4; ++i) {
    image[layout.checksum_offset + i] = static_cast<uint8_t>(checksum >> (8 * i));
  }
  return Verified();
}

}  // namespace kestrane
