// The one rule by which version texts become numbers (the language file's version line and the
// components of dotted version texts).
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrane {

// Converts text to a signed 32-bit integer: spaces (0x20 only) at the start are skipped, an
// optional "+" or "-" follows, then decimal digits or hexadecimal digits introduced by "$",
// "x", "X", "0x" or "0X", and nothing after the digits. A hexadecimal number has at most eight
// significant digits and keeps its 32 bits, so values above 7FFFFFFF come out negative.
// Returns false, leaving *value alone, for an empty text, any other character (a trailing
// space or NUL included), a missing digit or a decimal value outside the signed 32-bit range.
bool TextToInteger(std::string_view text, int32_t* value);

}  // namespace kestrane
