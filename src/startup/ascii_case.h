// The one case fold of the installer: the letters A to Z only, so that command-line words,
// file kinds, language-file keys and paths compare alike whatever the code page, and no
// Cyrillic byte of code page 1251 is touched.
#pragma once

#include <string>

namespace kestrane {

// Returns c turned to lower case when it is one of A to Z; any other character unchanged.
template <typename Char>
constexpr Char LowerAsciiLetter(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// Returns the word with the letters A to Z turned to lower case; no other byte changes.
std::string LowerAsciiLetters(const std::string& word);

}  // namespace kestrane
