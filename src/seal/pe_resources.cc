#include "seal/pe_resources.h"

#include <algorithm>

namespace kestrane {
namespace {

// Microsoft PE/COFF format: section headers and the resource directory's records.
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSectionVirtualAddressOffset = 12;
constexpr uint64_t kSectionRawSizeOffset = 16;
constexpr uint64_t kSectionRawPointerOffset = 20;
constexpr uint64_t kDirectoryHeaderSize = 16;  // IMAGE_RESOURCE_DIRECTORY
constexpr uint64_t kNamedCountOffset = 12;
constexpr uint64_t kIdCountOffset = 14;
constexpr uint64_t kEntrySize = 8;       // IMAGE_RESOURCE_DIRECTORY_ENTRY
constexpr uint64_t kDataEntrySize = 16;  // IMAGE_RESOURCE_DATA_ENTRY
constexpr uint32_t kHighBit = 0x80000000u;
// Longer queries cannot name anything a package build makes; they are simply not found.
constexpr size_t kMaxQueryLength = 256;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

ResourceOutcome Found() { return {ResourceStatus::kFound, ""}; }
ResourceOutcome NotFound(const char* problem) { return {ResourceStatus::kNotFound, problem}; }
ResourceOutcome Malformed(const char* problem) { return {ResourceStatus::kMalformed, problem}; }
ResourceOutcome ReadFailed() { return {ResourceStatus::kReadFailed, "the file cannot be read"}; }

// Maps `size` bytes at `rva` to the file: they must lie inside one section's raw data, and
// that data inside the file.
ResourceOutcome MapRva(RandomAccessBytes& source, const PeLayout& layout, uint32_t rva,
                       uint64_t size, const char* what, uint64_t* file_offset) {
  for (uint32_t i = 0; i < layout.section_count; ++i) {
    uint8_t header[kSectionHeaderSize];
    if (!source.ReadAt(layout.section_table + i * kSectionHeaderSize, header, sizeof header)) {
      return ReadFailed();
    }
    const uint64_t address = Le32(header + kSectionVirtualAddressOffset);
    const uint64_t raw_size = Le32(header + kSectionRawSizeOffset);
    const uint64_t raw_pointer = Le32(header + kSectionRawPointerOffset);
    if (rva < address || rva - address >= raw_size) continue;
    if (size > raw_size - (rva - address)) return Malformed(what);
    const uint64_t offset = raw_pointer + (rva - address);
    if (offset > layout.file_size || size > layout.file_size - offset) return Malformed(what);
    *file_offset = offset;
    return Found();
  }
  return Malformed(what);
}

// The resource directory: reads at offsets relative to its start, each checked against its
// size.
class Tree {
 public:
  Tree(RandomAccessBytes& source, uint64_t base, uint64_t size)
      : source_(source), base_(base), size_(size) {}

  ResourceOutcome Read(uint64_t at, uint8_t* out, size_t n) {
    if (at > size_ || n > size_ - at) {
      return Malformed("the resource directory points outside itself");
    }
    return source_.ReadAt(base_ + at, out, n) ? Found() : ReadFailed();
  }

  // Reads the directory at `at`: its named and numbered entry counts, checked to fit.
  ResourceOutcome Header(uint64_t at, uint32_t* named, uint32_t* total) {
    uint8_t header[kDirectoryHeaderSize];
    ResourceOutcome read = Read(at, header, sizeof header);
    if (read.status != ResourceStatus::kFound) return read;
    *named = Le16(header + kNamedCountOffset);
    *total = *named + Le16(header + kIdCountOffset);
    if (*total * kEntrySize > size_ - std::min(size_, at + kDirectoryHeaderSize)) {
      return Malformed("a resource directory has more entries than room");
    }
    return Found();
  }

  // True in `*equal` when the counted UTF-16 string at `at` reads exactly `wanted`.
  ResourceOutcome NameEquals(uint64_t at, const std::string& wanted, bool* equal) {
    uint8_t length[2];
    ResourceOutcome read = Read(at, length, sizeof length);
    if (read.status != ResourceStatus::kFound) return read;
    *equal = false;
    if (Le16(length) != wanted.size()) return Found();
    uint8_t chars[2 * kMaxQueryLength];
    read = Read(at + 2, chars, 2 * wanted.size());
    if (read.status != ResourceStatus::kFound) return read;
    *equal = true;
    for (size_t i = 0; i < wanted.size() && *equal; ++i) {
      *equal = Le16(chars + 2 * i) == static_cast<uint8_t>(wanted[i]);
    }
    return Found();
  }

  // Finds the named entry `wanted` of the directory at `at`; its target must be a
  // subdirectory, whose offset goes to `child`.
  ResourceOutcome FindSubdirectory(uint64_t at, const std::string& wanted, uint64_t* child) {
    uint32_t named = 0, total = 0;
    ResourceOutcome read = Header(at, &named, &total);
    if (read.status != ResourceStatus::kFound) return read;
    for (uint32_t i = 0; i < named; ++i) {
      uint8_t entry[kEntrySize];
      read = Read(at + kDirectoryHeaderSize + i * kEntrySize, entry, sizeof entry);
      if (read.status != ResourceStatus::kFound) return read;
      const uint32_t name = Le32(entry);
      const uint32_t target = Le32(entry + 4);
      if ((name & kHighBit) == 0) return Malformed("a named resource entry carries a number");
      bool equal = false;
      read = NameEquals(name & ~kHighBit, wanted, &equal);
      if (read.status != ResourceStatus::kFound) return read;
      if (!equal) continue;
      if ((target & kHighBit) == 0) return Malformed("a resource type or name has no directory");
      *child = target & ~kHighBit;
      return Found();
    }
    return NotFound("no such resource");
  }

 private:
  RandomAccessBytes& source_;
  uint64_t base_;
  uint64_t size_;
};

std::string UpperAscii(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

ResourceOutcome FindPeResource(RandomAccessBytes& source, const PeLayout& layout,
                               const std::string& type, const std::string& name,
                               ResourceLocation* location) {
  if (layout.resource_rva == 0 || layout.resource_size == 0) {
    return NotFound("the file has no resource directory");
  }
  if (type.empty() || name.empty() || type.size() > kMaxQueryLength ||
      name.size() > kMaxQueryLength || !IsAscii(type) || !IsAscii(name)) {
    return NotFound("no such resource");
  }
  uint64_t base = 0;
  ResourceOutcome outcome = MapRva(source, layout, layout.resource_rva, layout.resource_size,
                                   "the resource directory lies outside the sections' data", &base);
  if (outcome.status != ResourceStatus::kFound) return outcome;
  Tree tree(source, base, layout.resource_size);

  uint64_t type_directory = 0, name_directory = 0;
  outcome = tree.FindSubdirectory(0, UpperAscii(type), &type_directory);
  if (outcome.status != ResourceStatus::kFound) return outcome;
  outcome = tree.FindSubdirectory(type_directory, UpperAscii(name), &name_directory);
  if (outcome.status != ResourceStatus::kFound) return outcome;

  uint32_t named = 0, languages = 0;
  outcome = tree.Header(name_directory, &named, &languages);
  if (outcome.status != ResourceStatus::kFound) return outcome;
  if (languages == 0) return Malformed("a resource name has no language entry");
  uint8_t entry[kEntrySize];
  outcome = tree.Read(name_directory + kDirectoryHeaderSize, entry, sizeof entry);
  if (outcome.status != ResourceStatus::kFound) return outcome;
  const uint32_t data_entry = Le32(entry + 4);
  if ((data_entry & kHighBit) != 0) return Malformed("a resource language entry is a directory");

  uint8_t data[kDataEntrySize];
  outcome = tree.Read(data_entry, data, sizeof data);
  if (outcome.status != ResourceStatus::kFound) return outcome;
  ResourceLocation result;
  result.size = Le32(data + 4);
  result.languages = languages;
  result.language_id = Le32(entry) & ~kHighBit;
  outcome = MapRva(source, layout, Le32(data), result.size,
                   "the resource's bytes lie outside the sections' data", &result.file_offset);
  if (outcome.status != ResourceStatus::kFound) return outcome;
  *location = result;
  return Found();
}

}  // namespace kestrane
