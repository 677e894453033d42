// The name of the temporary file a payload write puts beside its target.
#pragma once

#include <string>

namespace kestrane {

// Returns the path with "~" inserted after its last backslash (the last character is not
// examined), or in front of the whole path when it has none: C:\a\b.pak gives C:\a\~b.pak.
std::string MakeTempName(const std::string& path);

}  // namespace kestrane
