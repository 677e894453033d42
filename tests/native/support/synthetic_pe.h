// Small PE32 / PE32+ files built byte by byte, for the seal tests and the fuzz seeds: a DOS
// header with e_lfanew 0x80, a file header, an optional header with all 16 data-directory
// entries, two sections and patterned section data. 1280 bytes in all; with a resource
// section 1792.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrane {
namespace synthetic_pe {

constexpr uint32_t kPeOffset = 0x80;
constexpr uint32_t kOptionalOffset = kPeOffset + 24;
constexpr uint32_t kHeadersSize = 0x200;
constexpr uint32_t kFirstSection = 0x200, kFirstSectionSize = 0x200;
constexpr uint32_t kSecondSection = 0x400, kSecondSectionSize = 0x100;
constexpr uint32_t kFileSize = kSecondSection + kSecondSectionSize;

inline void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}
inline void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  Put16(bytes, at, static_cast<uint16_t>(value));
  Put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}
inline uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (uint32_t{bytes[at + 3]} << 24);
}

inline uint32_t OptionalHeaderSize(bool plus) { return plus ? 240 : 224; }
inline uint32_t CheckSumOffset() { return kOptionalOffset + 64; }
inline uint32_t RvaCountOffset(bool plus) { return kOptionalOffset + (plus ? 108 : 92); }
inline uint32_t CertificateEntryOffset(bool plus) {
  return kOptionalOffset + (plus ? 112 : 96) + 4 * 8;
}
inline uint32_t SectionTableOffset(bool plus) { return kOptionalOffset + OptionalHeaderSize(plus); }

// An unsealed, unsigned image.
inline std::vector<uint8_t> Build(bool plus) {
  std::vector<uint8_t> bytes(kFileSize, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (size_t i = 0x40; i < kPeOffset; ++i) bytes[i] = static_cast<uint8_t>(0xA0 + i);  // stub
  Put32(bytes, 0x3C, kPeOffset);
  bytes[kPeOffset] = 'P';
  bytes[kPeOffset + 1] = 'E';
  Put16(bytes, kPeOffset + 4, plus ? 0x8664 : 0x14C);  // Machine
  Put16(bytes, kPeOffset + 6, 2);                      // NumberOfSections
  Put16(bytes, kPeOffset + 20, static_cast<uint16_t>(OptionalHeaderSize(plus)));
  Put16(bytes, kPeOffset + 22, 0x0102);  // Characteristics
  Put16(bytes, kOptionalOffset, plus ? 0x20B : 0x10B);
  Put32(bytes, kOptionalOffset + 16, 0x1000);        // AddressOfEntryPoint
  Put32(bytes, kOptionalOffset + 32, 0x1000);        // SectionAlignment
  Put32(bytes, kOptionalOffset + 36, 0x200);         // FileAlignment
  Put32(bytes, kOptionalOffset + 56, 0x3000);        // SizeOfImage
  Put32(bytes, kOptionalOffset + 60, kHeadersSize);  // SizeOfHeaders
  Put32(bytes, CheckSumOffset(), 0x00012345);        // CheckSum
  Put32(bytes, RvaCountOffset(plus), 16);
  const uint32_t table = SectionTableOffset(plus);
  const uint32_t pointers[2] = {kFirstSection, kSecondSection};
  const uint32_t sizes[2] = {kFirstSectionSize, kSecondSectionSize};
  for (uint32_t s = 0; s < 2; ++s) {
    size_t header = table + 40 * s;
    bytes[header] = '.';
    bytes[header + 1] = s == 0 ? 't' : 'd';
    Put32(bytes, header + 8, sizes[s]);           // VirtualSize
    Put32(bytes, header + 12, 0x1000 * (s + 1));  // VirtualAddress
    Put32(bytes, header + 16, sizes[s]);          // SizeOfRawData
    Put32(bytes, header + 20, pointers[s]);       // PointerToRawData
  }
  for (uint32_t i = kFirstSection; i < kFileSize; ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  }
  return bytes;
}

// Appends a certificate table of `size` bytes (a multiple of 8) and points entry 4 at it,
// as Authenticode signing does; also changes the checksum, as signing tools do.
inline void AppendCertificate(std::vector<uint8_t>& bytes, bool plus, uint32_t size) {
  const uint32_t offset = static_cast<uint32_t>(bytes.size());
  for (uint32_t i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(0x30 + i * 13));
  Put32(bytes, CertificateEntryOffset(plus), offset);
  Put32(bytes, CertificateEntryOffset(plus) + 4, size);
  Put32(bytes, CheckSumOffset(), Get32(bytes, CheckSumOffset()) ^ 0x5A5A0F0F);
}

// A third section, ".rsrc" at file offset 0x500 and address 0x3000, holding a resource
// directory with one resource COK/KVX (language 0x409) whose bytes are `data` (at most 0x180),
// as resource compilers lay it out. The offsets below are relative to the section's start.
constexpr uint32_t kResourceSection = kFileSize, kResourceSectionSize = 0x200;
constexpr uint32_t kResourceAddress = 0x3000;
constexpr uint32_t kRootEntry = 0x10, kTypeDirectory = 0x18, kTypeEntry = 0x28;
constexpr uint32_t kNameDirectory = 0x30, kLanguageEntry = 0x40, kDataEntry = 0x48;
constexpr uint32_t kTypeString = 0x60, kNameString = 0x68, kResourceData = 0x80;

inline uint32_t ResourceEntryOffset(bool plus) {
  return kOptionalOffset + (plus ? 112 : 96) + 2 * 8;
}

inline std::vector<uint8_t> BuildWithResource(bool plus, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = Build(plus);
  bytes.resize(kResourceSection + kResourceSectionSize, 0);
  Put16(bytes, kPeOffset + 6, 3);
  Put32(bytes, kOptionalOffset + 56, 0x4000);  // SizeOfImage
  const size_t header = SectionTableOffset(plus) + 2 * 40;
  const char name[] = ".rsrc";
  for (size_t i = 0; i < 5; ++i) bytes[header + i] = static_cast<uint8_t>(name[i]);
  Put32(bytes, header + 8, kResourceSectionSize);
  Put32(bytes, header + 12, kResourceAddress);
  Put32(bytes, header + 16, kResourceSectionSize);
  Put32(bytes, header + 20, kResourceSection);
  Put32(bytes, ResourceEntryOffset(plus), kResourceAddress);
  Put32(bytes, ResourceEntryOffset(plus) + 4, kResourceData + static_cast<uint32_t>(data.size()));
  const size_t base = kResourceSection;
  constexpr uint32_t kHigh = 0x80000000u;
  Put16(bytes, base + 12, 1);  // root: one named entry
  Put32(bytes, base + kRootEntry, kHigh | kTypeString);
  Put32(bytes, base + kRootEntry + 4, kHigh | kTypeDirectory);
  Put16(bytes, base + kTypeDirectory + 12, 1);
  Put32(bytes, base + kTypeEntry, kHigh | kNameString);
  Put32(bytes, base + kTypeEntry + 4, kHigh | kNameDirectory);
  Put16(bytes, base + kNameDirectory + 14, 1);  // one numbered (language) entry
  Put32(bytes, base + kLanguageEntry, 0x409);
  Put32(bytes, base + kLanguageEntry + 4, kDataEntry);
  Put32(bytes, base + kDataEntry, kResourceAddress + kResourceData);
  Put32(bytes, base + kDataEntry + 4, static_cast<uint32_t>(data.size()));
  const char* strings[2] = {"COK", "KVX"};
  const uint32_t at[2] = {kTypeString, kNameString};
  for (int s = 0; s < 2; ++s) {
    Put16(bytes, base + at[s], 3);
    for (int i = 0; i < 3; ++i) Put16(bytes, base + at[s] + 2 + 2 * i, strings[s][i]);
  }
  for (size_t i = 0; i < data.size(); ++i) bytes[base + kResourceData + i] = data[i];
  return bytes;
}

}  // namespace synthetic_pe
}  // namespace kestrane
