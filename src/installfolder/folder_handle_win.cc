#include "installfolder/folder_handle_win.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <utility>

namespace kestrane {
namespace {

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtSetInformationFileFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                FILE_INFORMATION_CLASS);
using NtQueryDirectoryFileFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK,
                                                PVOID, ULONG, FILE_INFORMATION_CLASS, BOOLEAN,
                                                PUNICODE_STRING, BOOLEAN);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);

constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);
// The longest name the native calls take: its length in bytes is a 16-bit count.
constexpr size_t kLongestNativeName = 32767;

template <typename Function>
Function NtdllFunction(const char* name) {
  // ntdll.dll is in every process from its start; nothing is loaded here.
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

DWORD ErrorOf(NTSTATUS status) {
  if (status >= 0) return ERROR_SUCCESS;
  const auto convert = NtdllFunction<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
  const DWORD error = convert != nullptr ? convert(status) : ERROR_GEN_FAILURE;
  return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

DWORD SetInformation(HANDLE file, void* information, ULONG size, FILE_INFORMATION_CLASS kind) {
  const auto set = NtdllFunction<NtSetInformationFileFn>("NtSetInformationFile");
  if (set == nullptr) return ERROR_PROC_NOT_FOUND;
  IO_STATUS_BLOCK status_block = {};
  return ErrorOf(set(file, &status_block, information, size, kind));
}

}  // namespace

HeldFolder::HeldFolder(const std::u16string& path) {
  if (path.empty() || path.size() > kLongestNativeName) return;
  path_ = path.back() == u'\\' ? path : path + u'\\';
  const std::wstring wide(path.begin(), path.end());
  ScopedHandle folder(CreateFileW(
      wide.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
      nullptr));
  if (!folder.valid()) return;
  // Backup semantics open files as well; only a folder is held.
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(folder.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return;
  }
  handle_ = std::move(folder);
}

DWORD OpenInFolder(HANDLE folder, const std::u16string& name, const NativeOpen& how,
                   ScopedHandle* file) {
  const auto create = NtdllFunction<NtCreateFileFn>("NtCreateFile");
  if (create == nullptr) return ERROR_PROC_NOT_FOUND;
  if (name.empty() || name.size() > kLongestNativeName) return ERROR_INVALID_NAME;
  std::wstring buffer(name.begin(), name.end());
  UNICODE_STRING native_name;
  native_name.Buffer = &buffer[0];
  native_name.Length = static_cast<USHORT>(buffer.size() * sizeof(wchar_t));
  native_name.MaximumLength = native_name.Length;
  OBJECT_ATTRIBUTES object;
  // Names compare without regard to case, as the Win32 functions make them.
  InitializeObjectAttributes(&object, &native_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status_block = {};
  HANDLE opened = nullptr;
  const NTSTATUS status =
      create(&opened, how.access | SYNCHRONIZE, &object, &status_block, nullptr, how.attributes,
             how.share, how.disposition, how.options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status < 0) return ErrorOf(status);
  *file = ScopedHandle(opened);
  return ERROR_SUCCESS;
}

DWORD RenameIntoFolder(HANDLE file, HANDLE folder, const std::u16string& name, bool replace) {
  if (name.empty() || name.size() > kLongestNativeName) return ERROR_INVALID_NAME;
  const size_t name_bytes = name.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFORMATION) + name_bytes, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<ULONG>(name_bytes);
  const std::wstring wide(name.begin(), name.end());
  std::memcpy(rename->FileName, wide.data(), name_bytes);
  return SetInformation(file, rename, static_cast<ULONG>(buffer.size()), FileRenameInformation);
}

DWORD MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFORMATION disposition = {};
  disposition.DoDeleteFile = TRUE;
  return SetInformation(file, &disposition, sizeof disposition, FileDispositionInformation);
}

DWORD SetNormalAttributes(HANDLE file) {
  FILE_BASIC_INFORMATION basic = {};  // zero times: left as they are
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetInformation(file, &basic, sizeof basic, FileBasicInformation);
}

DWORD ListFolder(HANDLE folder, size_t max_entries, std::vector<FolderEntry>* entries) {
  const auto query = NtdllFunction<NtQueryDirectoryFileFn>("NtQueryDirectoryFile");
  if (query == nullptr) return ERROR_PROC_NOT_FOUND;
  // Entries are 8-byte aligned records; LONGLONG storage keeps the buffer aligned too.
  std::vector<LONGLONG> buffer(8192);
  const ULONG buffer_bytes = static_cast<ULONG>(buffer.size() * sizeof(LONGLONG));
  size_t read = 0;
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK status_block = {};
    const NTSTATUS status = query(folder, nullptr, nullptr, nullptr, &status_block, buffer.data(),
                                  buffer_bytes, FileDirectoryInformation, FALSE, nullptr, restart);
    if (status == kStatusNoMoreFiles) return ERROR_SUCCESS;
    if (status < 0) return ErrorOf(status);
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    const size_t filled = status_block.Information;
    size_t offset = 0;
    // Every record is checked against what the call filled before it is read; a record is
    // its fixed part and its name, which may be shorter than the structure's own size.
    const size_t name_at = offsetof(FILE_DIRECTORY_INFORMATION, FileName);
    while (offset + name_at <= filled && filled <= buffer_bytes) {
      const auto* entry = reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(bytes + offset);
      if (offset + name_at + entry->FileNameLength > filled) break;
      if (read++ >= max_entries) return ERROR_SUCCESS;
      FolderEntry found;
      const auto* name = reinterpret_cast<const wchar_t*>(bytes + offset + name_at);
      found.name.assign(name, name + entry->FileNameLength / sizeof(wchar_t));
      found.attributes = entry->FileAttributes;
      found.size = static_cast<uint64_t>(entry->EndOfFile.QuadPart);
      entries->push_back(std::move(found));
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
}

}  // namespace kestrane
