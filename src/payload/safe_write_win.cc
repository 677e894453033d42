#include "payload/safe_write_win.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "payload/temp_name.h"
#include "payload/write_rules.h"
#include "startup/scoped_handle_win.h"

namespace kestrane {
namespace {

// One WriteFile call takes at most this many bytes (its count is 32 bits).
constexpr size_t kMaxWriteChunk = size_t{64} << 20;
// GetFinalPathNameByHandleW gives at most this many characters (the \\?\ limit).
constexpr DWORD kLongestPath = 32768;

// Windows Vista's handle functions, looked up by name so that the package still starts on
// older systems (which have no file links for them to guard against).
using FinalPathQuery = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
using FileInformationSetter = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

template <typename Function>
Function Kernel32Function(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

std::u16string Utf16(const std::wstring& wide) { return std::u16string(wide.begin(), wide.end()); }

std::wstring FromAnsi(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int wide_length = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (wide_length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], wide_length);
  return wide;
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

// Returns true when the entry the handle reached is path's own, not a file a link at path
// leads to. Without the final path query (before Vista) there are no file links to follow.
bool IsInPlace(HANDLE entry, const std::string& path) {
  const auto query = Kernel32Function<FinalPathQuery>("GetFinalPathNameByHandleW");
  if (query == nullptr) return true;
  const size_t slash = path.find_last_of('\\');
  if (slash == std::string::npos) return false;  // a relative name: no folder to compare with
  const std::string folder = path.substr(0, slash + 1);
  ScopedHandle folder_handle(CreateFileA(
      folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder_handle.valid()) return false;
  const std::wstring entry_path = FinalPath(query, entry);
  const std::wstring folder_path = FinalPath(query, folder_handle.get());
  if (entry_path.empty() || folder_path.empty()) return false;
  return IsEntryOfFolder(Utf16(entry_path), Utf16(folder_path),
                         Utf16(FromAnsi(path.substr(slash + 1))));
}

// Removes the file the handle holds (opened with DELETE and FILE_WRITE_ATTRIBUTES) after
// clearing its attributes: a read-only file cannot be deleted. Through the handle where
// Windows offers it, so that nothing but the file examined is touched.
bool RemoveThroughHandle(ScopedHandle& file, const std::string& path) {
  const auto set = Kernel32Function<FileInformationSetter>("SetFileInformationByHandle");
  if (set == nullptr) {
    file.Close();
    return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) && DeleteFileA(path.c_str());
  }
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // the times stay as they are (zero)
  FILE_DISPOSITION_INFO disposition = {TRUE};
  const bool marked = set(file.get(), FileBasicInfo, &basic, sizeof basic) &&
                      set(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
  // The file goes when its last handle, this one, is closed.
  return file.Close() && marked;
}

// Makes path free for an exclusive create: returns true when nothing answers to it any more
// (a plain leftover of ours has been removed), false when something else is there.
bool ClearLeftover(const std::string& path) {
  // No sharing: a file another run is writing stays out of reach, and nobody can swap the
  // entry while it is examined.
  ScopedHandle entry(CreateFileA(path.c_str(),
                                 DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!entry.valid()) {
    const DWORD error = GetLastError();
    // Nothing there (under Wine also a dangling link, which the exclusive create refuses).
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(entry.get(), &information)) return false;
  TemporaryNameEntry found;
  found.attributes = information.dwFileAttributes;
  found.link_count = information.nNumberOfLinks;
  found.in_place = IsInPlace(entry.get(), path);
  if (!IsLeftoverOfOurs(found)) return false;
  return RemoveThroughHandle(entry, path);
}

// Returns true when opening target for deletion is refused because someone holds it open.
bool DeleteRefusedForSharing(const std::string& target) {
  ScopedHandle probe(CreateFileA(target.c_str(), DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return !probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
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

bool WriteTemporaryFile(const void* bytes, size_t size, const std::string& path) {
  if (!ClearLeftover(path)) return false;
  // CREATE_NEW fails on any name that exists, a link included, so nothing is followed.
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
  const DWORD start = GetTickCount();
  // The count bounds the loop should the clock stand still.
  for (uint32_t polls = 0; polls <= kReplaceRetryMillis / kReplacePollMillis; ++polls) {
    if (MoveFileExA(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    if (!MeansHeldByAnotherProcess(error, DeleteRefusedForSharing(target))) return false;
    // Unsigned subtraction stays right across the tick count's wrap.
    if (GetTickCount() - start + kReplacePollMillis > kReplaceRetryMillis) return false;
    Sleep(kReplacePollMillis);
  }
  return false;
}

bool WriteFileReplacing(const void* bytes, size_t size, const std::string& target) {
  const std::string temporary = MakeTempName(target);
  if (!WriteTemporaryFile(bytes, size, temporary)) return false;
  if (ReplaceFileWith(temporary, target)) return true;
  DeleteFileA(temporary.c_str());
  return false;
}

}  // namespace kestrane
