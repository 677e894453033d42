// Line-by-line reading of single-byte text, shared by every reader of text the installer did
// not write (language files, installed files whose versions it reads). A line ends at a line feed;
// a carriage return right before it is not part of the line and a carriage return that no
// line feed follows is dropped. Reading at the end gives an empty line, as the runtime's
// text files do, so callers test AtEnd() before a read when they need to.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

// A source of bytes for ReadTextLine.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Returns the next byte (0..255), kEnd at the end, kError on an input/output error.
  virtual int Next() = 0;
  // Returns true when no byte is left (peeks; an error counts as the end).
  virtual bool AtEnd() = 0;
  static constexpr int kEnd = -1;
  static constexpr int kError = -2;
};

// Reads one line from the source into *line. Returns false on an input/output error (the
// line then holds what was read before it).
bool ReadTextLine(ByteStream& source, std::string* line);

// Bytes held in memory.
class MemoryBytes : public ByteStream {
 public:
  explicit MemoryBytes(std::string_view bytes) : bytes_(bytes) {}
  int Next() override;
  bool AtEnd() override { return pos_ >= bytes_.size(); }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

// Returns true when the text is empty or made only of characters with codes 0 to 32 (a blank
// line of a language file, a blank part of a Windows name).
bool IsBlank(std::string_view text);

// Returns every line of the text in order; a final line without a line feed counts, an empty
// text has no lines.
std::vector<std::string> SplitTextLines(std::string_view bytes);

// A text file opened for reading with sharing allowed, read line by line. Closed on
// destruction.
class TextFile : public ByteStream {
 public:
  TextFile() = default;
  ~TextFile() override { Close(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Opens the file from its start, closing any file open before. Returns false when it
  // cannot be opened.
  bool Open(const std::string& path);
  // The same for a path in UTF-16, opened through the wide function on Windows so that every
  // character of it counts; Path() then gives it in UTF-8.
  bool Open(const std::u16string& path);
  // Goes back to the first line of the file that is open. Returns false when none is.
  bool Rewind();
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }

  int Next() override;
  bool AtEnd() override;
  // Reads the next line. Returns false when no file is open or on an input/output error.
  bool ReadLine(std::string* line);

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace kestrane
