#include "seal/seal_stdio.h"

namespace kestrane {
namespace {

bool SeekTo(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool SizeOf(std::FILE* file, uint64_t* size) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  long long end = _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  off_t end = ftello(file);
#endif
  if (end < 0) return false;
  *size = static_cast<uint64_t>(end);
  return SeekTo(file, 0);
}

}  // namespace

StdioFileSource::StdioFileSource(const char* path) {
  file_ = std::fopen(path, "rb");
  if (file_ != nullptr && !SizeOf(file_, &size_)) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

StdioFileSource::~StdioFileSource() {
  if (file_ != nullptr) std::fclose(file_);
}

bool StdioFileSource::ReadAt(uint64_t offset, uint8_t* out, size_t size) {
  if (file_ == nullptr || offset > size_ || size_ - offset < size) return false;
  if (offset != position_) {
    position_ = kUnknownPosition;
    if (!SeekTo(file_, offset)) return false;
  }
  size_t got = std::fread(out, 1, size, file_);
  position_ = got == size ? offset + got : kUnknownPosition;
  return got == size;
}

}  // namespace kestrane
