// The payload writers as the update run calls them, for tests that name a target by its full
// path: the target's folder is held (HeldFolder) for the one call, as the run holds the
// install folder, and the file name is given inside it.
#pragma once

#include <cstddef>
#include <string>

#include "payload/write_outcome.h"

namespace kestrane {

// Returns the text in UTF-16, decoded from the ANSI code page as Windows would.
std::u16string WideFromAnsi(const std::string& ansi);

// Splits a full path at its last backslash into the folder (with it) and the name.
void SplitTarget(const std::u16string& target, std::u16string* folder, std::u16string* name);

bool ExtractPayloadTo(const std::string& resource_name, const std::string& resource_type,
                      const std::u16string& target, bool guarded);
WriteOutcome WriteGuardedTo(const void* bytes, size_t size, const std::string& resource_type,
                            const std::u16string& target);

inline bool ExtractPayloadTo(const std::string& resource_name, const std::string& resource_type,
                             const std::string& target, bool guarded) {
  return ExtractPayloadTo(resource_name, resource_type, WideFromAnsi(target), guarded);
}
inline WriteOutcome WriteGuardedTo(const void* bytes, size_t size, const std::string& resource_type,
                                   const std::string& target) {
  return WriteGuardedTo(bytes, size, resource_type, WideFromAnsi(target));
}

}  // namespace kestrane
