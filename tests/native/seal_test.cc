#include "seal/seal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "synthetic_pe.h"

namespace kestrane {
namespace {

namespace pe = synthetic_pe;
using Bytes = std::vector<uint8_t>;

SealReport Verify(const Bytes& bytes, Sha256Engine engine = Sha256Engine::kAuto,
                  size_t chunk = kSealChunkSize) {
  MemorySource source(bytes);
  return VerifySeal(source, engine, chunk);
}

// The installer's verdict: anything but a pass on a readable file means "distorted".
bool Distorted(const SealReport& outcome) {
  return outcome.status == SealStatus::kMalformed || outcome.status == SealStatus::kMismatch;
}

Bytes Sealed(bool plus) {
  Bytes bytes = pe::Build(plus);
  SealReport outcome = SealImage(bytes);
  EXPECT_TRUE(outcome.ok()) << outcome.problem;
  return bytes;
}

Bytes SealedAndSigned(bool plus, uint32_t certificate_size = 24) {
  Bytes bytes = Sealed(plus);
  pe::AppendCertificate(bytes, plus, certificate_size);
  return bytes;
}

bool InRange(size_t offset, size_t begin, size_t size) {
  return offset >= begin && offset < begin + size;
}

// Both kinds of optional header: PE32 (the i686 installer) and PE32+ (x86_64).
class SealTest : public ::testing::TestWithParam<bool> {
 protected:
  bool plus() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Kinds, SealTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Pe32Plus" : "Pe32";
                         });

// ---- where the seal lives and what it covers ----

TEST_P(SealTest, SealedFileVerifies) {
  SealReport outcome = Verify(Sealed(plus()));
  EXPECT_TRUE(outcome.ok()) << outcome.problem;
}

TEST_P(SealTest, UnsealedFileIsDistortedAndSaysItCarriesNoSeal) {
  SealReport outcome = Verify(pe::Build(plus()));
  EXPECT_EQ(outcome.status, SealStatus::kMismatch);
  EXPECT_STREQ(outcome.problem, "the file carries no seal");
}

TEST_P(SealTest, SealingChangesOnlyTheDosHeaderReservedWordsAndTheCheckSum) {
  const Bytes original = pe::Build(plus());
  const Bytes sealed = Sealed(plus());
  ASSERT_EQ(sealed.size(), original.size());
  for (size_t i = 0; i < sealed.size(); ++i) {
    if (InRange(i, 0x1C, 32) || InRange(i, pe::CheckSumOffset(), 4)) continue;
    ASSERT_EQ(sealed[i], original[i]) << "offset " << i;
  }
  EXPECT_NE(Bytes(sealed.begin() + 0x1C, sealed.begin() + 0x3C), Bytes(32, 0));
}

// The stored value is SHA-256 over the file with the seal, the checksum and the certificate
// entry cut out, followed by the covered length as 8 bytes little-endian; computed here
// from that description alone, so that a publisher can check a package by other means.
TEST_P(SealTest, SealIsSha256OfTheFileWithoutItsExclusionsFollowedByItsLength) {
  for (bool signed_file : {false, true}) {
    const Bytes file = signed_file ? SealedAndSigned(plus(), 64) : Sealed(plus());
    const size_t covered = signed_file ? file.size() - 64 : file.size();
    Bytes message;
    for (size_t i = 0; i < covered; ++i) {
      if (InRange(i, 0x1C, 32) || InRange(i, pe::CheckSumOffset(), 4) ||
          InRange(i, pe::CertificateEntryOffset(plus()), 8)) {
        continue;
      }
      message.push_back(file[i]);
    }
    for (int i = 0; i < 8; ++i)
      message.push_back(static_cast<uint8_t>(uint64_t{covered} >> (8 * i)));
    Sha256Digest expected = Sha256Of(message.data(), message.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin() + 0x1C))
        << (signed_file ? "signed" : "unsigned");
  }
}

// imagehlp's CheckSumMappedFile, written from its description: 16-bit words with end-around
// carry, the CheckSum field as zero, plus the length.
uint32_t ReferenceChecksum(Bytes file) {
  for (size_t i = 0; i < 4; ++i) file[pe::CheckSumOffset() + i] = 0;
  uint32_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<uint32_t>(file.size());
}

TEST_P(SealTest, SealingWritesTheImagehlpCheckSumOfTheSealedBytes) {
  const Bytes sealed = Sealed(plus());
  EXPECT_EQ(pe::Get32(sealed, pe::CheckSumOffset()), ReferenceChecksum(sealed));
  EXPECT_NE(pe::Get32(sealed, pe::CheckSumOffset()),
            pe::Get32(pe::Build(plus()), pe::CheckSumOffset()));
  // Odd lengths and every chunk size give the same sum as the whole file at once.
  for (size_t size : {size_t{1279}, size_t{1280}}) {
    Bytes file(sealed.begin(), sealed.begin() + size);
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{64}, kSealChunkSize}) {
      MemorySource source(file);
      PeLayout layout;
      layout.file_size = file.size();
      layout.checksum_offset = pe::CheckSumOffset();
      uint32_t checksum = 0;
      ASSERT_TRUE(ComputePeChecksum(source, layout, &checksum, chunk).ok());
      EXPECT_EQ(checksum, ReferenceChecksum(file)) << size << " bytes, chunk " << chunk;
    }
  }
}

// WIN_CERTIFICATE entries: length, revision, type, then the signature, each entry padded to
// 8 bytes.
Bytes Entry(uint32_t length, uint16_t revision = 0x0200, uint16_t type = 2) {
  Bytes entry((length + 7) / 8 * 8, 0x5A);
  if (entry.size() < 8) entry.resize(8, 0x5A);
  pe::Put32(entry, 0, length);
  pe::Put16(entry, 4, revision);
  pe::Put16(entry, 6, type);
  return entry;
}

TEST_P(SealTest, CertificateTableEntriesMustFillTheTable) {
  const struct {
    const char* name;
    std::vector<Bytes> entries;
    bool well_formed;
    uint32_t count;
  } rows[] = {
      {"one signature", {Entry(1490)}, true, 1},
      {"two signatures", {Entry(100), Entry(64, 0x0100)}, true, 2},
      {"length shorter than the header", {Entry(4)}, false, 0},
      {"entries of 16 and 24 bytes", {Entry(16), Entry(24)}, true, 2},
      {"unknown revision", {Entry(64, 0x0300)}, false, 0},
      {"X.509 instead of PKCS #7", {Entry(64, 0x0200, 1)}, false, 0},
  };
  for (const auto& row : rows) {
    Bytes table;
    for (const Bytes& entry : row.entries) table.insert(table.end(), entry.begin(), entry.end());
    Bytes file = Sealed(plus());
    const uint32_t offset = static_cast<uint32_t>(file.size());
    file.insert(file.end(), table.begin(), table.end());
    pe::Put32(file, pe::CertificateEntryOffset(plus()), offset);
    pe::Put32(file, pe::CertificateEntryOffset(plus()) + 4, static_cast<uint32_t>(table.size()));
    MemorySource source(file);
    PeLayout layout;
    ASSERT_TRUE(ReadPeLayout(source, &layout).ok()) << row.name;
    uint32_t count = 99;
    SealReport outcome = CheckCertificateTable(source, layout, &count);
    EXPECT_EQ(outcome.ok(), row.well_formed) << row.name << ": " << outcome.problem;
    EXPECT_EQ(outcome.in_certificate_table, !row.well_formed) << row.name;
    if (row.well_formed) {
      EXPECT_EQ(count, row.count) << row.name;
    }
  }
  // A length that runs past the end of the table.
  Bytes file = Sealed(plus());
  Bytes entry = Entry(64);
  pe::Put32(entry, 0, 72);
  const uint32_t offset = static_cast<uint32_t>(file.size());
  file.insert(file.end(), entry.begin(), entry.end());
  pe::Put32(file, pe::CertificateEntryOffset(plus()), offset);
  pe::Put32(file, pe::CertificateEntryOffset(plus()) + 4, 64);
  MemorySource source(file);
  PeLayout layout;
  ASSERT_TRUE(ReadPeLayout(source, &layout).ok());
  uint32_t count = 0;
  EXPECT_FALSE(CheckCertificateTable(source, layout, &count).ok());
}

// ---- any change to the covered bytes is found ----

TEST_P(SealTest, EveryChangedByteIsDetectedExceptInTheChecksum) {
  const Bytes sealed = Sealed(plus());
  for (size_t i = 0; i < sealed.size(); ++i) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      Bytes changed = sealed;
      changed[i] ^= flip;
      SealReport outcome = Verify(changed);
      if (InRange(i, pe::CheckSumOffset(), 4)) {
        ASSERT_TRUE(outcome.ok()) << "checksum byte " << i;
      } else {
        ASSERT_TRUE(Distorted(outcome)) << "offset " << i << " flip " << int{flip};
      }
    }
  }
}

TEST_P(SealTest, EveryInsertedByteIsDetected) {
  const Bytes sealed = Sealed(plus());
  for (size_t i = 0; i <= sealed.size(); ++i) {
    Bytes changed = sealed;
    changed.insert(changed.begin() + i, uint8_t{0});
    ASSERT_TRUE(Distorted(Verify(changed))) << "inserted at " << i;
  }
}

TEST_P(SealTest, EveryRemovedByteIsDetected) {
  const Bytes sealed = Sealed(plus());
  for (size_t i = 0; i < sealed.size(); ++i) {
    Bytes changed = sealed;
    changed.erase(changed.begin() + i);
    ASSERT_TRUE(Distorted(Verify(changed))) << "removed at " << i;
  }
}

TEST_P(SealTest, EveryTruncationIsDistorted) {
  const Bytes sealed = Sealed(plus());
  for (size_t length = 0; length < sealed.size(); ++length) {
    ASSERT_TRUE(Distorted(Verify(Bytes(sealed.begin(), sealed.begin() + length))))
        << "cut to " << length;
  }
}

TEST_P(SealTest, BytesAppendedWithoutACertificateEntryAreDetected) {
  for (size_t extra : {1, 7, 8, 512}) {
    Bytes changed = Sealed(plus());
    changed.resize(changed.size() + extra, 0);
    EXPECT_TRUE(Distorted(Verify(changed))) << extra << " bytes";
  }
}

// ---- what Authenticode signing changes, and nothing more, is left out ----

TEST_P(SealTest, ChecksumMayTakeAnyValue) {
  for (uint32_t checksum : {0u, 1u, 0xFFFFFFFFu, 0x0001F00Du}) {
    Bytes changed = Sealed(plus());
    pe::Put32(changed, pe::CheckSumOffset(), checksum);
    EXPECT_TRUE(Verify(changed).ok()) << checksum;
  }
}

TEST_P(SealTest, CertificateTableAppendedAtTheEndIsAccepted) {
  for (uint32_t size : {8u, 24u, 1472u}) {
    Bytes file = SealedAndSigned(plus(), size);
    SealReport outcome = Verify(file);
    EXPECT_TRUE(outcome.ok()) << size << ": " << outcome.problem;
    // The table's content belongs to the signature, which vouches for it itself.
    file.back() ^= 0xFF;
    EXPECT_TRUE(Verify(file).ok()) << size;
  }
}

TEST_P(SealTest, EveryChangedByteBeforeTheCertificateTableIsDetected) {
  const Bytes file = SealedAndSigned(plus());
  const size_t covered = file.size() - 24;
  for (size_t i = 0; i < covered; ++i) {
    Bytes changed = file;
    changed[i] ^= 0x01;
    SealReport outcome = Verify(changed);
    if (InRange(i, pe::CheckSumOffset(), 4)) {
      ASSERT_TRUE(outcome.ok()) << "checksum byte " << i;
    } else {
      ASSERT_TRUE(Distorted(outcome)) << "offset " << i;
    }
  }
}

TEST_P(SealTest, BytesSlippedInBeforeTheCertificateTableAreDetected) {
  Bytes file = Sealed(plus());
  file.resize(file.size() + 8, 0x90);
  pe::AppendCertificate(file, plus(), 24);
  EXPECT_EQ(Verify(file).status, SealStatus::kMismatch);
}

struct CertificateEntry {
  const char* name;
  int64_t offset_from_end;  // certificate offset relative to the end of the sealed content
  int64_t size_delta;       // certificate size relative to what reaches the end of the file
  bool zero_offset;
  bool zero_size;
};

// Certificate entries that would let a file hide bytes from the seal, or that point outside
// the file.
const CertificateEntry kBadCertificateEntries[] = {
    {"into the last section's data, reaching the end", -0x80, 0, false, false},
    {"into the headers, reaching the end", -(int64_t{pe::kFileSize} - 0x100), 0, false, false},
    {"ending before the end of the file", 0, -8, false, false},
    {"ending past the end of the file", 0, +8, false, false},
    {"starting past the end of the file", +0x1000, 0, false, false},
    {"with an offset but no size", 0, 0, false, true},
    {"with a size but no offset", 0, 0, true, false},
    {"at an offset not on an 8-byte boundary", +4, 0, false, false},
};

TEST_P(SealTest, CertificateEntriesThatCouldHideBytesAreDistorted) {
  for (const CertificateEntry& entry : kBadCertificateEntries) {
    Bytes file = Sealed(plus());
    const int64_t content = static_cast<int64_t>(file.size());
    file.resize(file.size() + 64, 0x33);  // what a signature would append
    int64_t offset = content + entry.offset_from_end;
    int64_t size = static_cast<int64_t>(file.size()) - offset + entry.size_delta;
    pe::Put32(file, pe::CertificateEntryOffset(plus()), entry.zero_offset ? 0 : uint32_t(offset));
    pe::Put32(file, pe::CertificateEntryOffset(plus()) + 4, entry.zero_size ? 0 : uint32_t(size));
    SealReport outcome = Verify(file);
    EXPECT_EQ(outcome.status, SealStatus::kMalformed) << entry.name << ": " << outcome.problem;
  }
}

// ---- hostile files: always distorted, never a crash or a read outside the file ----

struct HostileFile {
  const char* name;
  Bytes bytes;
  SealStatus expected;
};

Bytes With32(Bytes bytes, size_t at, uint32_t value) {
  pe::Put32(bytes, at, value);
  return bytes;
}
Bytes With16(Bytes bytes, size_t at, uint16_t value) {
  pe::Put16(bytes, at, value);
  return bytes;
}

std::vector<HostileFile> HostileFiles(bool plus) {
  const Bytes s = Sealed(plus);
  const uint32_t pe_at = pe::kPeOffset, opt = pe::kOptionalOffset;
  const uint32_t first_section = pe::SectionTableOffset(plus);
  const SealStatus bad = SealStatus::kMalformed;
  return {
      {"an empty file", {}, bad},
      {"one byte", {'M'}, bad},
      {"MZ alone", {'M', 'Z'}, bad},
      {"63 bytes of a DOS header", Bytes(s.begin(), s.begin() + 63), bad},
      {"64 zero bytes", Bytes(64, 0), bad},
      {"4 KiB of zeros", Bytes(4096, 0), bad},
      {"4 KiB of 0xFF", Bytes(4096, 0xFF), bad},
      {"MZ and zeros", With16(Bytes(4096, 0), 0, 0x5A4D), bad},
      {"e_lfanew negative", With32(s, 0x3C, 0x80000000u), bad},
      {"e_lfanew -1", With32(s, 0x3C, 0xFFFFFFFFu), bad},
      {"e_lfanew huge", With32(s, 0x3C, 0x7FFFFFF0u), bad},
      {"e_lfanew at the last byte", With32(s, 0x3C, uint32_t(s.size() - 1)), bad},
      {"e_lfanew at the end", With32(s, 0x3C, uint32_t(s.size())), bad},
      {"e_lfanew 24 bytes before the end", With32(s, 0x3C, uint32_t(s.size() - 24)), bad},
      {"e_lfanew zero", With32(s, 0x3C, 0), bad},
      {"e_lfanew inside the seal", With32(s, 0x3C, 0x20), bad},
      {"no PE signature", With32(s, pe_at, 0x00004550u ^ 1), bad},
      {"unknown optional header magic", With16(s, opt, 0x107), bad},
      {"optional header of size 0", With16(s, pe_at + 20, 0), bad},
      {"optional header too short for the certificate entry",
       With16(s, pe_at + 20, uint16_t(pe::CertificateEntryOffset(plus) - opt + 4)), bad},
      {"optional header running past the end", With16(s, pe_at + 20, 0xFFFF), bad},
      {"data directory of 4 entries", With32(s, pe::RvaCountOffset(plus), 4), bad},
      {"data directory of 0 entries", With32(s, pe::RvaCountOffset(plus), 0), bad},
      {"65535 sections", With16(s, pe_at + 6, 0xFFFF), bad},
      {"section data at 0xFFFFFFFF", With32(s, first_section + 20, 0xFFFFFFFFu), bad},
      {"section data of 0xFFFFFFFF bytes", With32(s, first_section + 16, 0xFFFFFFFFu), bad},
      {"section data past the end", With32(s, first_section + 20, uint32_t(s.size())), bad},
      {"headers of 0xFFFFFFFF bytes", With32(s, opt + 60, 0xFFFFFFFFu), bad},
      {"certificate at 0xFFFFFFF8 of 0xFFFFFFFF bytes",
       With32(With32(s, pe::CertificateEntryOffset(plus), 0xFFFFFFF8u),
              pe::CertificateEntryOffset(plus) + 4, 0xFFFFFFFFu),
       bad},
      {"a well-formed PE with a zeroed seal", pe::Build(plus), SealStatus::kMismatch},
  };
}

TEST_P(SealTest, HostileFilesAreDistortedWithAReason) {
  for (const HostileFile& file : HostileFiles(plus())) {
    for (Sha256Engine engine : {Sha256Engine::kPortable, Sha256Engine::kAuto}) {
      SealReport outcome = Verify(file.bytes, engine);
      EXPECT_EQ(outcome.status, file.expected) << file.name << ": " << outcome.problem;
      EXPECT_GT(std::strlen(outcome.problem), 0u) << file.name;
    }
  }
}

// A PE header placed inside the DOS header would share bytes with the seal and make the
// excluded fields overlap; it is refused for that reason even when a signature is there.
TEST_P(SealTest, PeHeaderInsideTheDosHeaderIsRefused) {
  for (uint32_t pe_offset : {0x04u, 0x1Cu, 0x38u}) {
    Bytes file = Sealed(plus());
    pe::Put32(file, 0x3C, pe_offset);
    std::memcpy(file.data() + pe_offset, "PE\0\0", 4);
    SealReport outcome = Verify(file);
    EXPECT_EQ(outcome.status, SealStatus::kMalformed) << pe_offset;
    EXPECT_STREQ(outcome.problem, "the PE header overlaps the DOS header") << pe_offset;
  }
}

// ---- streaming: the file passes through a bounded buffer ----

// Records how the verifier reads, and can fail the n-th read.
class RecordingSource : public RandomAccessBytes {
 public:
  explicit RecordingSource(const Bytes& bytes, int fail_at = -1)
      : inner_(bytes), fail_at_(fail_at) {}
  uint64_t Size() const override { return inner_.Size(); }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t size) override {
    if (reads == fail_at_) return false;
    ++reads;
    largest_read = std::max(largest_read, size);
    bytes_read += size;
    return inner_.ReadAt(offset, out, size);
  }
  int reads = 0;
  size_t largest_read = 0;
  uint64_t bytes_read = 0;

 private:
  MemorySource inner_;
  int fail_at_;
};

TEST_P(SealTest, EveryChunkSizeAndEngineGivesTheSameVerdict) {
  const Bytes sealed = Sealed(plus());
  for (size_t chunk : {1, 2, 3, 31, 32, 33, 63, 64, 65, 511, 512, 513, 1279, 1280, 1281, 1 << 20}) {
    for (Sha256Engine engine : {Sha256Engine::kPortable, Sha256Engine::kAuto}) {
      EXPECT_TRUE(Verify(sealed, engine, chunk).ok()) << "chunk " << chunk;
      Bytes changed = sealed;
      changed[chunk % changed.size()] ^= 0x40;
      EXPECT_FALSE(Verify(changed, engine, chunk).ok()) << "chunk " << chunk;
    }
  }
}

TEST_P(SealTest, VerifierReadsNoMoreThanOneChunkAtATime) {
  Bytes large = Sealed(plus());
  // Grow the last section to 3.5 chunks of 4 KiB so that the stream needs several reads.
  const uint32_t last = pe::SectionTableOffset(plus()) + 40;
  const uint32_t grown = 14 * 1024;
  large.resize(pe::kSecondSection + grown, 0x5C);
  pe::Put32(large, last + 16, grown);
  ASSERT_TRUE(SealImage(large).ok());
  RecordingSource source(large);
  ASSERT_TRUE(VerifySeal(source, Sha256Engine::kAuto, 4096).ok());
  EXPECT_LE(source.largest_read, 4096u);
  EXPECT_GE(source.reads, 4);
  // The headers are read once for the layout, the covered bytes once for the hash.
  EXPECT_LT(source.bytes_read, large.size() + 1024);
}

TEST_P(SealTest, AFailingReadIsUnreadableNotDistorted) {
  const Bytes sealed = Sealed(plus());
  RecordingSource counter(sealed);
  ASSERT_TRUE(VerifySeal(counter, Sha256Engine::kAuto, 256).ok());
  for (int fail_at = 0; fail_at < counter.reads; ++fail_at) {
    RecordingSource source(sealed, fail_at);
    EXPECT_EQ(VerifySeal(source, Sha256Engine::kAuto, 256).status, SealStatus::kReadFailed)
        << "read " << fail_at << " failed";
  }
}

// ---- the sealing step ----

TEST_P(SealTest, SealingPadsTheFileToAMultipleOf8) {
  for (size_t overlay : {1, 3, 7, 8, 13}) {
    Bytes bytes = pe::Build(plus());
    bytes.resize(bytes.size() + overlay, 0xEE);
    const Bytes before = bytes;
    ASSERT_TRUE(SealImage(bytes).ok());
    EXPECT_EQ(bytes.size() % 8, 0u) << overlay;
    EXPECT_LT(bytes.size() - before.size(), 8u);
    EXPECT_TRUE(
        std::all_of(bytes.begin() + before.size(), bytes.end(), [](uint8_t b) { return b == 0; }));
    // Beyond the seal, only the CheckSum changes.
    const size_t checksum = pe::CheckSumOffset();
    EXPECT_TRUE(std::equal(before.begin() + 0x3C, before.begin() + checksum, bytes.begin() + 0x3C));
    EXPECT_TRUE(
        std::equal(before.begin() + checksum + 4, before.end(), bytes.begin() + checksum + 4));
    EXPECT_TRUE(Verify(bytes).ok()) << overlay;
  }
}

TEST_P(SealTest, SealingAgainGivesTheSameFile) {
  Bytes once = Sealed(plus());
  Bytes twice = once;
  ASSERT_TRUE(SealImage(twice).ok());
  EXPECT_EQ(twice, once);
}

TEST_P(SealTest, SealingRefusesASignedFileAndLeavesItUnchanged) {
  Bytes file = pe::Build(plus());
  pe::AppendCertificate(file, plus(), 24);
  const Bytes before = file;
  SealReport outcome = SealImage(file);
  EXPECT_EQ(outcome.status, SealStatus::kMalformed);
  EXPECT_STREQ(outcome.problem, "the file is already signed; seal it before signing");
  EXPECT_EQ(file, before);
}

TEST_P(SealTest, SealingRefusesWhatIsNoPeAndLeavesItUnchanged) {
  for (const HostileFile& hostile : HostileFiles(plus())) {
    if (hostile.expected != SealStatus::kMalformed) continue;
    Bytes file = hostile.bytes;
    EXPECT_EQ(SealImage(file).status, SealStatus::kMalformed) << hostile.name;
    EXPECT_EQ(file, hostile.bytes) << hostile.name;
  }
}

TEST(SealLayoutOfRealHeaders, PeHeaderKindAndCertificateEntryAreFound) {
  for (bool plus : {false, true}) {
    Bytes file = SealedAndSigned(plus, 40);
    MemorySource source(file);
    PeLayout layout;
    ASSERT_TRUE(ReadPeLayout(source, &layout).ok());
    EXPECT_EQ(layout.pe32_plus, plus);
    EXPECT_EQ(layout.checksum_offset, pe::CheckSumOffset());
    EXPECT_EQ(layout.certificate_entry_offset, pe::CertificateEntryOffset(plus));
    EXPECT_EQ(layout.certificate_offset, pe::kFileSize);
    EXPECT_EQ(layout.certificate_size, 40u);
    EXPECT_EQ(layout.covered_length, pe::kFileSize);
    EXPECT_EQ(layout.data_end, pe::kFileSize);
  }
}

}  // namespace
}  // namespace kestrane
