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
#include <string>
#include <utility>

#include "payload/safe_write_win.h"
#include "installfolder/folder_handle_win.h"
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

namespace {

constexpr ULONG kOverwriteOrCreate = 5;  // FILE_OVERWRITE_IF

DWORD OpenForWriting(HANDLE folder, const std::u16string& name, ScopedHandle* file) {
  NativeOpen how;
  how.access = GENERIC_WRITE | DELETE;
  how.disposition = kOverwriteOrCreate;
  how.options = FILE_NON_DIRECTORY_FILE;
  return OpenInFolder(folder, name, how, file);
}

}  // namespace

bool IsExistingFileIn(HANDLE folder, const std::u16string& name) {
  NativeOpen how;
  how.access = FILE_READ_ATTRIBUTES;
  how.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  how.disposition = kNativeOpenExisting;
  how.options = FILE_NON_DIRECTORY_FILE;
  ScopedHandle file;
  return OpenInFolder(folder, name, how, &file) == ERROR_SUCCESS;
}

bool RemoveThroughHandle(ScopedHandle& file) {
  const bool marked = MarkForDeletion(file.get()) == ERROR_SUCCESS;
  return file.Close() && marked;
}

bool WriteTemporaryFile(const void* bytes, size_t size, HANDLE folder, const std::u16string& name,
                        ScopedHandle* file) {
  ScopedHandle created;
  if (OpenForWriting(folder, name, &created) != ERROR_SUCCESS) return false;
  if (!WriteAllBytes(created.get(), bytes, size)) return false;
  *file = std::move(created);
  return true;
}

bool ReopenTemporaryFile(HANDLE folder, const std::u16string& name, ScopedHandle* file) {
  NativeOpen how;
  how.access = DELETE;
  how.disposition = kNativeOpenExisting;
  return OpenInFolder(folder, name, how, file) == ERROR_SUCCESS;
}

bool ReplaceFileWith(HANDLE source, HANDLE folder, const std::u16string& target_name) {
  return RenameIntoFolder(source, folder, target_name, true) == ERROR_SUCCESS;
}

// The fault: the target is truncated and rewritten under its own name. It goes out in small
// pieces, as most writers do; one call for the whole payload would leave a torn file only
// for the moment between the truncation and that call, which a kill seldom meets.
bool WriteFileReplacing(const void* bytes, size_t size, HANDLE folder,
                        const std::u16string& target_name) {
  ScopedHandle file;
  if (OpenForWriting(folder, target_name, &file) != ERROR_SUCCESS) return false;
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
