// A RandomAccessBytes over a file opened with the C library, for the publisher's sealing tool and
// the benchmark (the installer reads its own file through Win32, see self_check_win.cc).
#pragma once

#include <cstdio>

#include "seal/seal.h"

namespace kestrane {

class StdioFileSource : public RandomAccessBytes {
 public:
  // Opens `path` for reading; check is_open() before use.
  explicit StdioFileSource(const char* path);
  ~StdioFileSource() override;
  StdioFileSource(const StdioFileSource&) = delete;
  StdioFileSource& operator=(const StdioFileSource&) = delete;

  bool is_open() const { return file_ != nullptr; }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t size) override;

 private:
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;
  // Where the next fread starts, so that sequential reads need no seek.
  static constexpr uint64_t kUnknownPosition = ~uint64_t{0};
  uint64_t position_ = 0;
};

}  // namespace kestrane
