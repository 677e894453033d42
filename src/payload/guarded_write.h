// The version-guarded way of writing a payload over an existing file: an older file replaces
// a newer one only after the user agrees.
#pragma once

#include <cstddef>
#include <string>

#include "payload/write_outcome.h"

namespace kestrane {

// Held by the caller; the Win32 side is declared in installfolder/folder_handle_win.h.
class HeldFolder;

// Writes bytes (the payload of the given resource type, which is also the target's extension)
// to target_name inside folder. A missing target is written directly under its own name, without a
// temporary file. An existing one of the kinds "exe", "pak", "3bs", "cok" and "lng" (any letter
// case) is replaced only after comparing the versions of the new copy written beside it and of the
// target, asking first when the new file is older; any other kind, and a language file whose
// path contains "!", is replaced without comparing. Replacing is one move, so on kFailed and
// kKept the target keeps its bytes and the temporary copy is gone. Does not report failures
// itself; ExtractPayload does. May throw; ExtractPayload catches every error.
// Every file is reached inside the held folder; the version probes and the question name it
// by its full path, the held folder's path (which nobody can rename while it is held) and
// target_name.
WriteOutcome WriteGuarded(const void* bytes, size_t size, const std::string& resource_type,
                          const HeldFolder& folder, const std::u16string& target_name);

}  // namespace kestrane
