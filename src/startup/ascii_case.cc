#include "startup/ascii_case.h"

namespace kestrane {

std::string LowerAsciiLetters(const std::string& word) {
  std::string lowered = word;
  for (char& c : lowered) c = LowerAsciiLetter(c);
  return lowered;
}

}  // namespace kestrane
