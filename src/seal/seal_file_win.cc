#include <windows.h>

#include "seal/seal_file_win.h"

#include "startup/scoped_handle_win.h"

namespace kestrane {
namespace {

class Win32FileSource : public RandomAccessBytes {
 public:
  Win32FileSource(HANDLE file, uint64_t size) : file_(file), size_(size) {}
  uint64_t Size() const override { return size_; }

  bool ReadAt(uint64_t offset, uint8_t* out, size_t size) override {
    if (offset > size_ || size_ - offset < size) return false;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN)) return false;
    // ReadFile takes a 32-bit count; the seal reads at most one chunk at a time anyway.
    while (size > 0) {
      DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
      DWORD got = 0;
      if (!ReadFile(file_, out, want, &got, nullptr) || got == 0) return false;
      out += got;
      size -= got;
    }
    return true;
  }

 private:
  HANDLE file_;
  uint64_t size_;
};

}  // namespace

SealReport CheckFileSeal(const wchar_t* path) {
  ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
  if (!file.valid()) return {SealStatus::kReadFailed, "the file cannot be opened"};
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) {
    return {SealStatus::kReadFailed, "the file's size cannot be read"};
  }
  Win32FileSource source(file.get(), static_cast<uint64_t>(size.QuadPart));
  return VerifySeal(source);
}

}  // namespace kestrane
