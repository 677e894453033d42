// Any text through the integer conversion, checked against a second reading of the rule
// built on the C library's conversions.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "payload/integer_text.h"

namespace {

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) {
  return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The rule read a second way: strip what may precede the digits, check the digits with a
// predicate, let strtoull do the arithmetic.
bool Reference(const std::string& text, int32_t* value) {
  size_t pos = text.find_first_not_of(' ');
  if (pos == std::string::npos) return false;
  bool negative = false;
  if (text[pos] == '+' || text[pos] == '-') negative = text[pos++] == '-';
  bool hex = false;
  if (text.compare(pos, 2, "0x") == 0 || text.compare(pos, 2, "0X") == 0) {
    hex = true;
    pos += 2;
  } else if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
    hex = true;
    pos += 1;
  }
  std::string digits = text.substr(pos);
  if (digits.empty()) return false;
  for (char c : digits) {
    if (!(hex ? IsHexDigit(c) : IsDecimalDigit(c))) return false;
  }
  size_t first = digits.find_first_not_of('0');
  std::string significant = first == std::string::npos ? "0" : digits.substr(first);
  if (hex) {
    if (significant.size() > 8) return false;
    uint32_t bits = static_cast<uint32_t>(std::strtoull(significant.c_str(), nullptr, 16));
    if (negative) bits = 0u - bits;
    *value = static_cast<int32_t>(bits);
    return true;
  }
  if (significant.size() > 10) return false;
  long long magnitude = std::strtoll(significant.c_str(), nullptr, 10);
  long long signed_value = negative ? -magnitude : magnitude;
  if (signed_value < INT32_MIN || signed_value > INT32_MAX) return false;
  *value = static_cast<int32_t>(signed_value);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int32_t value = 0;
  int32_t expected = 0;
  const bool converts = kestrane::TextToInteger(text, &value);
  if (converts != Reference(text, &expected)) std::abort();
  if (converts && value != expected) std::abort();
  // What converts prints back in decimal to the same number.
  int32_t again = 0;
  if (converts && (!kestrane::TextToInteger(std::to_string(value), &again) || again != value)) {
    std::abort();
  }
  return 0;
}
