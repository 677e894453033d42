// A deliberately broken payload writer, only for a test build of the package
// (KestraneUpdateInPlace): it writes the target in place, so that a run ended in the middle
// leaves a torn file. The reliability suite's kill test runs against it once to show that it
// catches such a file.
//
// It stands in for src/payload/safe_write_win.cc by defining every function that file
// defines: an object linked into the executable is taken before the library, and the linker
// then never pulls that member from kestrane_win. So this file must follow that member's set
// of functions: a function added there and called elsewhere makes the link fail with a
// duplicate definition until it is added here too.
#include <windows.h>

#include <algorithm>

#include "payload/safe_write_win.h"
#include "startup/scoped_handle_win.h"

namespace kestrane {

bool WriteAllBytes(HANDLE file, const void* bytes, size_t size) {
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min(size, size_t{64} << 20));
    DWORD written = 0;
    if (!WriteFile(file, next, chunk, &written, nullptr) || written == 0) return false;
    next += written;
    size -= written;
  }
  return true;
}

bool WriteTemporaryFile(const void* bytes, size_t size, const std::string& path) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid() && WriteAllBytes(file.get(), bytes, size) && file.Close();
}

bool ReplaceFileWith(const std::string& source, const std::string& target) {
  return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// The fault: the target is truncated and rewritten under its own name. It goes out in small
// pieces, as most writers do; one call for the whole payload would leave a torn file only
// for the moment between the truncation and that call, which a kill seldom meets.
bool WriteFileReplacing(const void* bytes, size_t size, const std::string& target) {
  ScopedHandle file(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  const char* next = static_cast<const char*>(bytes);
  for (size_t left = size; left > 0;) {
    const size_t piece = std::min(left, size_t{64} << 10);
    if (!WriteAllBytes(file.get(), next, piece)) return false;
    next += piece;
    left -= piece;
  }
  return file.Close();
}

}  // namespace kestrane
