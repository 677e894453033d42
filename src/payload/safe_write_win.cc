#include "payload/safe_write_win.h"

#include <windows.h>

#include <algorithm>

#include "payload/temp_name.h"
#include "payload/write_rules.h"
#include "startup/system_texts_win.h"

namespace kestrane {
namespace {

// One WriteFile call takes at most this many bytes (its count is 32 bits).
constexpr size_t kMaxWriteChunk = size_t{64} << 20;
// GetFinalPathNameByHandleW gives at most this many characters (the \\?\ limit).
constexpr DWORD kLongestPath = 32768;

// Windows Vista's final path query, looked up by name so that the package still starts on
// older systems (which have no file links for it to guard against).
using FinalPathQuery = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

FinalPathQuery FinalPathFunction() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel == nullptr ? nullptr
                           : reinterpret_cast<FinalPathQuery>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "GetFinalPathNameByHandleW")));
}

// Returns the final path of the file or folder the handle reached, or an empty text.
std::wstring FinalPath(FinalPathQuery query, HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length =
        query(handle, &path[0], static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    if (length == 0 || length > kLongestPath) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length + 1);  // length counts the terminating zero when the buffer was short
  }
  return std::wstring();
}

// Returns true when the entry the handle reached is the held folder's own entry of that name,
// not a file a link there leads to. Without the final path query (before Vista) there are no
// file links to follow.
bool IsInPlace(HANDLE entry, HANDLE folder, const std::u16string& name) {
  const FinalPathQuery query = FinalPathFunction();
  if (query == nullptr) return true;
  const std::wstring entry_path = FinalPath(query, entry);
  const std::wstring folder_path = FinalPath(query, folder);
  if (entry_path.empty() || folder_path.empty()) return false;
  return IsEntryOfFolder(Utf16FromWide(entry_path), Utf16FromWide(folder_path), name);
}

// Opens name inside folder with delete access and no sharing, without following a link, and
// keeps it only when it is a plain file of ours in place. Returns 0 with *file set, the open
// error, or ERROR_ACCESS_DENIED when something else answers to the name.
DWORD OpenOwnFile(HANDLE folder, const std::u16string& name, ScopedHandle* file) {
  NativeOpen how;
  // No sharing: a file another run is writing stays out of reach, and nobody can swap the
  // entry while it is examined.
  how.access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  how.disposition = kNativeOpenExisting;
  how.options = FILE_OPEN_REPARSE_POINT;
  ScopedHandle entry;
  const DWORD error = OpenInFolder(folder, name, how, &entry);
  if (error != ERROR_SUCCESS) return error;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(entry.get(), &information)) return ERROR_ACCESS_DENIED;
  TemporaryNameEntry found;
  found.attributes = information.dwFileAttributes;
  found.link_count = information.nNumberOfLinks;
  found.in_place = IsInPlace(entry.get(), folder, name);
  if (!IsLeftoverOfOurs(found)) return ERROR_ACCESS_DENIED;
  *file = std::move(entry);
  return ERROR_SUCCESS;
}

// Makes name free for an exclusive create: returns true when nothing answers to it any more
// (a plain leftover of ours has been removed), false when something else is there.
bool ClearLeftover(HANDLE folder, const std::u16string& name) {
  ScopedHandle entry;
  const DWORD error = OpenOwnFile(folder, name, &entry);
  // Nothing there (under Wine also a dangling link, which the exclusive create refuses).
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
  if (error != ERROR_SUCCESS) return false;
  return RemoveThroughHandle(entry);
}

// Returns true when opening target for deletion is refused because someone holds it open.
bool DeleteRefusedForSharing(HANDLE folder, const std::u16string& target_name) {
  NativeOpen how;
  how.access = DELETE;
  how.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  how.disposition = kNativeOpenExisting;
  how.options = FILE_OPEN_REPARSE_POINT;
  ScopedHandle probe;
  return OpenInFolder(folder, target_name, how, &probe) == ERROR_SHARING_VIOLATION;
}

// Returns the attributes of name inside folder, or INVALID_FILE_ATTRIBUTES when it cannot be
// opened to read them.
DWORD AttributesIn(HANDLE folder, const std::u16string& name) {
  NativeOpen how;
  how.access = FILE_READ_ATTRIBUTES;
  how.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  how.disposition = kNativeOpenExisting;
  ScopedHandle entry;
  BY_HANDLE_FILE_INFORMATION information;
  if (OpenInFolder(folder, name, how, &entry) != ERROR_SUCCESS ||
      !GetFileInformationByHandle(entry.get(), &information)) {
    return INVALID_FILE_ATTRIBUTES;
  }
  return information.dwFileAttributes;
}

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

bool IsExistingFileIn(HANDLE folder, const std::u16string& name) {
  const DWORD attributes = AttributesIn(folder, name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool RemoveThroughHandle(ScopedHandle& file) {
  // A read-only file cannot be deleted; its attributes go first. Through the handle, so that
  // nothing but the file examined is touched.
  const bool marked = SetNormalAttributes(file.get()) == ERROR_SUCCESS &&
                      MarkForDeletion(file.get()) == ERROR_SUCCESS;
  // The file goes when its last handle, this one, is closed.
  return file.Close() && marked;
}

bool WriteTemporaryFile(const void* bytes, size_t size, HANDLE folder, const std::u16string& name,
                        ScopedHandle* file) {
  if (!ClearLeftover(folder, name)) return false;
  NativeOpen how;
  how.access = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  // An exclusive create fails on any name that exists, a link included, so nothing is
  // followed.
  how.disposition = kNativeCreateNew;
  how.options = FILE_NON_DIRECTORY_FILE;
  ScopedHandle created;
  if (OpenInFolder(folder, name, how, &created) != ERROR_SUCCESS) return false;
  if (!WriteAllBytes(created.get(), bytes, size) || !FlushFileBuffers(created.get())) {
    RemoveThroughHandle(created);
    return false;
  }
  *file = std::move(created);
  return true;
}

bool ReopenTemporaryFile(HANDLE folder, const std::u16string& name, ScopedHandle* file) {
  return OpenOwnFile(folder, name, file) == ERROR_SUCCESS;
}

bool ReplaceFileWith(HANDLE source, HANDLE folder, const std::u16string& target_name) {
  // Windows refuses to move over a read-only file; Wine would replace it. Refusing here keeps
  // a file that someone protected on purpose, whatever the system underneath.
  const DWORD attributes = AttributesIn(folder, target_name);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return false;
  }
  const DWORD start = GetTickCount();
  // The count bounds the loop should the clock stand still.
  for (uint32_t polls = 0; polls <= kReplaceRetryMillis / kReplacePollMillis; ++polls) {
    const DWORD error = RenameIntoFolder(source, folder, target_name, true);
    if (error == ERROR_SUCCESS) return true;
    if (!MeansHeldByAnotherProcess(error, DeleteRefusedForSharing(folder, target_name))) {
      return false;
    }
    // Unsigned subtraction stays right across the tick count's wrap.
    if (GetTickCount() - start + kReplacePollMillis > kReplaceRetryMillis) return false;
    Sleep(kReplacePollMillis);
  }
  return false;
}

bool WriteFileReplacing(const void* bytes, size_t size, HANDLE folder,
                        const std::u16string& target_name) {
  ScopedHandle temporary;
  if (!WriteTemporaryFile(bytes, size, folder, MakeTempName(target_name), &temporary)) {
    return false;
  }
  if (ReplaceFileWith(temporary.get(), folder, target_name)) return true;
  RemoveThroughHandle(temporary);
  return false;
}

}  // namespace kestrane
