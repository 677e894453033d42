#include "startup/text_lines.h"

#include "startup/message_text.h"

namespace kestrane {

bool ReadTextLine(ByteStream& source, std::string* line) {
  line->clear();
  for (;;) {
    int c = source.Next();
    if (c == ByteStream::kError) return false;
    if (c == ByteStream::kEnd || c == '\n') return true;
    // A carriage return never belongs to a line: before a line feed it is the line end's
    // first half, anywhere else it is dropped.
    if (c == '\r') continue;
    line->push_back(static_cast<char>(c));
  }
}

int MemoryBytes::Next() {
  if (pos_ >= bytes_.size()) return kEnd;
  return static_cast<unsigned char>(bytes_[pos_++]);
}

bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

std::vector<std::string> SplitTextLines(std::string_view bytes) {
  std::vector<std::string> lines;
  MemoryBytes source(bytes);
  std::string line;
  while (!source.AtEnd()) {
    ReadTextLine(source, &line);
    lines.push_back(line);
  }
  return lines;
}

bool TextFile::Open(const std::string& path) {
  Close();
  path_ = path;
  file_ = std::fopen(path.c_str(), "rb");
  return file_ != nullptr;
}

bool TextFile::Open(const std::u16string& path) {
  Close();
  path_ = Utf8FromUtf16(path);
#ifdef _WIN32
  // The narrow function would go through the ANSI code page and lose what it lacks.
  file_ = _wfopen(reinterpret_cast<const wchar_t*>(path.c_str()), L"rb");
#else
  file_ = std::fopen(path_.c_str(), "rb");
#endif
  return file_ != nullptr;
}

bool TextFile::Rewind() {
  if (file_ == nullptr) return false;
  std::clearerr(file_);
  return std::fseek(file_, 0, SEEK_SET) == 0;
}

void TextFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

int TextFile::Next() {
  if (file_ == nullptr) return kError;
  int c = std::getc(file_);
  if (c != EOF) return c;
  return std::ferror(file_) ? kError : kEnd;
}

bool TextFile::AtEnd() {
  if (file_ == nullptr) return true;
  int c = std::getc(file_);
  if (c == EOF) return true;
  std::ungetc(c, file_);
  return false;
}

bool TextFile::ReadLine(std::string* line) {
  if (file_ == nullptr) {
    line->clear();
    return false;
  }
  return ReadTextLine(*this, line);
}

}  // namespace kestrane
