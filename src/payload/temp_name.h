// The name of the temporary file a payload write puts beside its target.
#pragma once

#include <string>

namespace kestrane {

// Returns the path with "~" inserted after its last backslash (the last character is not
// examined), or in front of the whole path when it has none: C:\a\b.pak gives C:\a\~b.pak.
// In UTF-16 units, so a name in any script keeps its characters.
std::u16string MakeTempName(const std::u16string& path);

}  // namespace kestrane
