// The version-guarded way of writing a payload over an existing file: an older file replaces
// a newer one only after the user agrees.
#pragma once

#include <cstddef>
#include <string>

namespace kestrane {

enum class GuardedOutcome {
  kWritten,  // the target holds the new bytes
  kKept,     // the user chose to keep the existing file; nothing to report
  kFailed,   // the new bytes could not be put in place; the caller reports it
};

// Writes bytes (the payload of the given resource type, which is also the target's extension)
// over the existing target, asking first when the existing file is newer. Does not report
// failures itself; ExtractPayload does. May throw; ExtractPayload catches every error.
GuardedOutcome WriteGuarded(const void* bytes, size_t size, const std::string& resource_type,
                            const std::string& target);

}  // namespace kestrane
