// The version-guarded way of writing a payload over an existing file: an older file replaces
// a newer one only after the user agrees.
#pragma once

#include <cstddef>
#include <string>

#include "payload/write_outcome.h"

namespace kestrane {

// Writes bytes (the payload of the given resource type, which is also the target's extension)
// to target. A missing target is written directly under its own name, without a temporary
// file. An existing one of the kinds "exe", "pak", "3bs", "cok" and "lng" (any letter case) is
// replaced only after comparing the versions of the new copy written beside it and of the
// target, asking first when the new file is older; any other kind, and a language file whose
// path contains "!", is replaced without comparing. Replacing is one move, so on kFailed and
// kKept the target keeps its bytes and the temporary copy is gone. Does not report failures
// itself; ExtractPayload does. May throw; ExtractPayload catches every error.
WriteOutcome WriteGuarded(const void* bytes, size_t size, const std::string& resource_type,
                          const std::string& target);

}  // namespace kestrane
