// Command-line words for the probe programs. Texts travel hex-encoded (the raw single-byte
// bytes), because Wine converts a plain command line through the code page of the locale the
// probe runs in, which would change Russian bytes under an English locale.
#pragma once

#include <string>

namespace probe {

// Decodes an even-length text of hex digits. Returns false, leaving *bytes partial, on any
// other input.
inline bool DecodeHex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (size_t k = i; k < i + 2; ++k) {
      char c = hex[k];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes->push_back(static_cast<char>(value));
  }
  return true;
}

}  // namespace probe
