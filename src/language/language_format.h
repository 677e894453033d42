// The format of the host application's language files: single-byte text read line by line,
// sections that start with a header line "[key]", values on the lines after it.
#pragma once

#include <string>
#include <string_view>

#include "startup/text_lines.h"

namespace kestrane {

// Returns true when line is a header line for key: its very first character is "[" and it
// continues with key and "]", the letters A to Z compared without regard to case (every other
// byte must match exactly). Anything after the "]" is a remark and is ignored; a line that
// starts with a blank is never a header.
bool IsHeaderLineFor(std::string_view line, std::string_view key);

enum class LineRead {
  kLine,   // *line holds the next line
  kEnd,    // the file had no further line
  kError,  // an input/output error (or no open file)
};

// Reads the next line of an open language file through the shared line reader, telling the
// end of the file apart from a failed read.
LineRead ReadLanguageLine(TextFile& file, std::string* line);

// Reads the line after a header, as the runtime reads past the end of a file: at the end the
// value is the empty line. Returns false on an input/output error.
bool ReadValueLine(TextFile& file, std::string* line);

// Reads from the current position up to the first header line for key and then the line after
// it into *value; a file that ends first leaves *value empty. Returns false on an
// input/output error.
bool ReadKeyValue(TextFile& file, std::string_view key, std::string* value);

}  // namespace kestrane
