// Finds a named resource in a PE file's resource directory by reading the file, as the
// package build needs to check what it embedded without loading the file as a module.
//
// The directory is a tree of exactly three levels: type, name, language. Names are stored as
// counted UTF-16 strings in upper case (resource compilers upper-case them, and FindResourceA
// upper-cases what it looks for), so a lookup upper-cases its ASCII query and compares the
// stored name exactly. Every offset is checked against the directory's bounds and every level
// is read once, so a hostile file costs at most three scans of its own entries.
#pragma once

#include <cstdint>
#include <string>

#include "seal/seal.h"

namespace kestrane {

struct ResourceLocation {
  uint64_t file_offset = 0;  // where the resource's bytes start in the file
  uint32_t size = 0;
  uint32_t languages = 0;    // language entries under the name; the first one is returned
  uint32_t language_id = 0;  // of the first
};

enum class ResourceStatus {
  kFound,
  kNotFound,   // a well-formed directory without that type and name (or no directory at all)
  kMalformed,  // a directory or section table the lookup cannot trust
  kReadFailed,
};

struct ResourceOutcome {
  ResourceStatus status;
  const char* problem;  // why, in a few words; empty when found
};

// Looks up the resource `type`/`name` (ASCII, any case) of the file whose layout
// ReadPeLayout returned. On kFound, `location` holds where its bytes lie, inside the file.
ResourceOutcome FindPeResource(RandomAccessBytes& source, const PeLayout& layout,
                               const std::string& type, const std::string& name,
                               ResourceLocation* location);

}  // namespace kestrane
