// Any two texts (split at the first NUL, or in the middle) through the version comparison.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "payload/version_compare.h"

namespace {

// Up to four components of one to nine decimal digits: every conversion succeeds, so the
// comparison must be a strict order between the two texts.
bool IsPlainVersion(const std::string& text) {
  int components = 1;
  int digits = 0;
  for (char c : text) {
    if (c == '.') {
      if (digits == 0 || ++components > 4) return false;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 9) return false;
    } else {
      return false;
    }
  }
  return digits > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  if (split == std::string::npos) split = size / 2;
  const std::string first = input.substr(0, split);
  const std::string second = input.substr(std::min(split + 1, size));

  const bool older = kestrane::IsVersionOlder(first, second);
  const bool newer = kestrane::IsVersionOlder(second, first);
  // No text is older than itself, whatever it holds.
  if (kestrane::IsVersionOlder(first, first)) std::abort();
  if (IsPlainVersion(first) && IsPlainVersion(second) && older && newer) std::abort();
  return 0;
}
