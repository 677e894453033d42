// Files reached through a folder held open by handle, with ntdll's native calls: a name is
// resolved relative to the held folder, so the folder cannot be swapped for another between
// two steps. The calls are looked up by name in ntdll.dll, which every process has loaded, so
// the installer's imports stay as they are.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "startup/scoped_handle_win.h"

namespace kestrane {

// The install folder, opened once and held: list, traverse, synchronize and read-attributes
// access, shared for reading and writing but not for deletion, so that nobody can rename,
// remove or replace it while it is held; delete access is never asked, so that two runs can
// hold it at once. A junction at the path is followed at the moment of opening.
class HeldFolder {
 public:
  HeldFolder() = default;
  // Opens path (a full path, with or without its closing backslash). held() tells whether it
  // is open and is a folder.
  explicit HeldFolder(const std::u16string& path);
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;

  bool held() const { return handle_.valid(); }
  HANDLE get() const { return handle_.get(); }
  // The path it was opened by, with its closing backslash, for texts and path-only calls.
  const std::u16string& path() const { return path_; }

 private:
  ScopedHandle handle_;
  std::u16string path_;
};

// Access and options of OpenInFolder, as the native call takes them.
struct NativeOpen {
  ACCESS_MASK access = 0;
  ULONG share = 0;
  ULONG disposition = 0;  // FILE_OPEN (1) or FILE_CREATE (2)
  ULONG options = 0;      // FILE_NON_DIRECTORY_FILE, FILE_OPEN_REPARSE_POINT ...
  ULONG attributes = FILE_ATTRIBUTE_NORMAL;
};

constexpr ULONG kNativeOpenExisting = 1;  // FILE_OPEN
constexpr ULONG kNativeCreateNew = 2;     // FILE_CREATE

// Opens name (relative, may hold backslashes) inside folder. Returns 0 and sets *file, or the
// Win32 error code the native status stands for (ERROR_ALREADY_EXISTS for a name that exists
// when creating, ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION, ...). Fails with
// ERROR_PROC_NOT_FOUND when ntdll lacks the call.
DWORD OpenInFolder(HANDLE folder, const std::u16string& name, const NativeOpen& how,
                   ScopedHandle* file);

// Gives the open file (opened with DELETE access) the name inside folder, replacing a file of
// that name when replace is true. Returns 0 or the Win32 error code.
DWORD RenameIntoFolder(HANDLE file, HANDLE folder, const std::u16string& name, bool replace);

// Marks the open file (DELETE access) for deletion when its last handle closes. Returns 0 or
// the Win32 error code.
DWORD MarkForDeletion(HANDLE file);

// Sets the open file's attributes to normal, its times untouched (FILE_WRITE_ATTRIBUTES
// access). Returns 0 or the Win32 error code.
DWORD SetNormalAttributes(HANDLE file);

// One entry of a folder listing.
struct FolderEntry {
  std::u16string name;
  uint32_t attributes = 0;
  uint64_t size = 0;
};

// Appends every entry of the open folder (FILE_LIST_DIRECTORY, synchronous) to *entries, "."
// and ".." included. Returns 0 or the Win32 error code of the listing; entries read before a
// failure stay. At most max_entries are read.
DWORD ListFolder(HANDLE folder, size_t max_entries, std::vector<FolderEntry>* entries);

}  // namespace kestrane
