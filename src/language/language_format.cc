#include "language/language_format.h"

#include "startup/ascii_case.h"

namespace kestrane {
namespace {

// Returns true when text[at...] begins with "<key>]", letters A to Z compared without case.
bool HasKeyAndBracketAt(std::string_view text, size_t at, std::string_view key) {
  if (at > text.size() || text.size() - at < key.size() + 1) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    if (LowerAsciiLetter(text[at + i]) != LowerAsciiLetter(key[i])) return false;
  }
  return text[at + key.size()] == ']';
}

}  // namespace

bool IsHeaderLineFor(std::string_view line, std::string_view key) {
  // The rule is "the first occurrence of <key>] in the trimmed, lower-cased line starts at
  // its second character". Trimming cannot change that: the line starts with "[" and an
  // occurrence ends with "]", both above the blanks that trimming removes. Nor can an earlier
  // occurrence exist: one at the first character as well as one at the second would make
  // every character of "<key>]" equal to the next, yet it ends with "]" and starts with "[".
  return !line.empty() && line[0] == '[' && HasKeyAndBracketAt(line, 1, key);
}

LineRead ReadLanguageLine(TextFile& file, std::string* line) {
  if (!file.IsOpen()) return LineRead::kError;
  if (file.AtEnd()) {
    // AtEnd() also answers true after a failed read; the failure is still pending on the
    // file and shows on the next byte.
    return file.Next() == ByteStream::kError ? LineRead::kError : LineRead::kEnd;
  }
  return file.ReadLine(line) ? LineRead::kLine : LineRead::kError;
}

bool ReadValueLine(TextFile& file, std::string* line) {
  LineRead read = ReadLanguageLine(file, line);
  if (read == LineRead::kEnd) line->clear();
  return read != LineRead::kError;
}

bool ReadKeyValue(TextFile& file, std::string_view key, std::string* value) {
  value->clear();
  std::string line;
  for (;;) {
    // Every line read consumes at least one byte, so the loop ends with the file.
    switch (ReadLanguageLine(file, &line)) {
      case LineRead::kError:
        return false;
      case LineRead::kEnd:
        return true;
      case LineRead::kLine:
        if (IsHeaderLineFor(line, key)) return ReadValueLine(file, value);
        break;
    }
  }
}

}  // namespace kestrane
