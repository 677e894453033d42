#include "payload/integer_text.h"

namespace kestrane {
namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the hexadecimal digits that make up all of text into *bits.
bool ReadHexDigits(std::string_view text, uint32_t* bits) {
  if (text.empty()) return false;
  uint32_t value = 0;
  for (char c : text) {
    int digit = HexDigitValue(c);
    if (digit < 0) return false;
    // A ninth significant digit would push bits out of the top.
    if (value > 0x0FFFFFFFu) return false;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  *bits = value;
  return true;
}

// Reads the decimal digits that make up all of text into *magnitude, failing as soon as the
// number exceeds limit.
bool ReadDecimalDigits(std::string_view text, uint32_t limit, uint32_t* magnitude) {
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > limit) return false;
  }
  *magnitude = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

bool TextToInteger(std::string_view text, int32_t* value) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  text.remove_prefix(pos);

  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }

  size_t hex_prefix = 0;
  if (!text.empty() && (text[0] == '$' || text[0] == 'x' || text[0] == 'X')) {
    hex_prefix = 1;
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hex_prefix = 2;
  }

  uint32_t bits = 0;
  if (hex_prefix != 0) {
    if (!ReadHexDigits(text.substr(hex_prefix), &bits)) return false;
  } else {
    // The negative range reaches one further than the positive one.
    const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    if (!ReadDecimalDigits(text, limit, &bits)) return false;
  }
  // Two's complement negation in unsigned arithmetic, so that -$80000000 and -2147483648 need
  // no signed overflow.
  if (negative) bits = 0u - bits;
  *value = static_cast<int32_t>(bits);
  return true;
}

}  // namespace kestrane
