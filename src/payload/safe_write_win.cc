#include "payload/safe_write_win.h"

#include <windows.h>

#include <algorithm>

#include "payload/extract_payload.h"
#include "startup/scoped_handle_win.h"

namespace kestrane {
namespace {

// One WriteFile call takes at most this many bytes (its count is 32 bits).
constexpr size_t kMaxWriteChunk = size_t{64} << 20;

}  // namespace

bool WriteAllBytes(HANDLE file, const void* bytes, size_t size) {
  const char* next = static_cast<const char*>(bytes);
  size_t left = size;
  while (left > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min(left, kMaxWriteChunk));
    DWORD written = 0;
    // Every pass writes at least one byte or stops, so the loop ends.
    if (!WriteFile(file, next, chunk, &written, nullptr) || written == 0 || written > chunk) {
      return false;
    }
    next += written;
    left -= written;
  }
  return true;
}

bool WriteWholeFile(const void* bytes, size_t size, const std::string& path) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  const bool written = WriteAllBytes(file.get(), bytes, size) && FlushFileBuffers(file.get());
  if (file.Close() && written) return true;
  DeleteFileA(path.c_str());
  return false;
}

bool ReplaceFileWith(const std::string& source, const std::string& target) {
  // Windows refuses to move over a read-only file; Wine would replace it. Refusing here keeps
  // a file that someone protected on purpose, whatever the system underneath.
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return false;
  }
  return MoveFileExA(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool WriteFileReplacing(const void* bytes, size_t size, const std::string& target) {
  const std::string temporary = MakeTempName(target);
  if (!WriteWholeFile(bytes, size, temporary)) return false;
  if (ReplaceFileWith(temporary, target)) return true;
  DeleteFileA(temporary.c_str());
  return false;
}

}  // namespace kestrane
