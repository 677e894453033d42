// Test rows written as plain ASCII text, handed to functions that take UTF-16.
#pragma once

#include <string>

namespace kestrane {

// Returns the ASCII text unit for unit in UTF-16.
inline std::u16string Widen(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace kestrane
