// The text of a message box as pieces that each remember where their bytes came from, so that
// every piece is decoded from its own code page when the box is shown: the installer's own
// texts are compiled in code page 1251, while paths and names that Windows handed over through
// its ANSI functions are in the system's ANSI code page, which on an English system is not 1251.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrane {

enum class TextSource : uint8_t {
  kProgram,   // the installer's own literals: code page 1251
  kSystem,    // text Windows gave through its ANSI functions: the ANSI code page
  kLanguage,  // a language file's text: the ANSI code page of the file's language
  kUtf8,      // text Windows gave through its wide functions, kept as UTF-8
};

struct TextPiece {
  TextSource source = TextSource::kProgram;
  uint16_t language_id = 0;  // kLanguage only: the Windows language identifier of the file
  std::string bytes;
};

class MessageText {
 public:
  MessageText() = default;
  // A literal of the program is its own text (code page 1251).
  MessageText(const char* program_literal);  // NOLINT(google-explicit-constructor)

  static MessageText Program(std::string bytes);
  static MessageText System(std::string bytes);
  static MessageText Language(std::string bytes, uint16_t language_id);
  static MessageText Utf8(std::string bytes);
  // Text Windows gave through its wide functions (a path), kept whole as one UTF-8 piece.
  static MessageText Wide(const std::u16string& text);

  // Appends the pieces of more; neighbouring pieces of one source become one.
  MessageText& operator+=(const MessageText& more);

  // Returns the pieces in order, none of them empty.
  const std::vector<TextPiece>& pieces() const { return pieces_; }
  // Returns every piece's bytes one after another.
  std::string Bytes() const;
  // Returns the number of bytes of all pieces.
  size_t size() const;
  // Returns the byte offset of the first occurrence of needle at or after from in Bytes(),
  // also across piece boundaries, or std::string::npos.
  size_t Find(const std::string& needle, size_t from = 0) const;
  // Returns the bytes [begin, end) of Bytes() with their sources; end is clamped to size().
  MessageText Slice(size_t begin, size_t end) const;

  bool operator==(const MessageText& other) const;
  bool operator!=(const MessageText& other) const { return !(*this == other); }

 private:
  void Append(const TextPiece& piece);
  std::vector<TextPiece> pieces_;
};

MessageText operator+(MessageText left, const MessageText& right);

// Returns UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD, so every text converts.
std::string Utf8FromUtf16(const std::u16string& text);

// Returns the UTF-16 text of UTF-8 bytes; a byte that starts no valid sequence becomes U+FFFD.
std::u16string Utf16FromUtf8(const std::string& bytes);

// Returns the UTF-16 text of code page 1251 bytes, as Windows' own table for that code page
// maps them (its one unassigned byte, 0x98, becomes U+0098).
std::u16string DecodeCp1251(const std::string& bytes);

}  // namespace kestrane
