// The version readers that need Windows: fixed-offset numbers in data files, read with
// positioned reads, and the version resource of executables through version.dll.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "payload/version_probes.h"
#include "payload/version_probes_win.h"
#include "installfolder/folder_handle_win.h"
#include "startup/scoped_handle_win.h"
#include "startup/system_library_win.h"
#include "startup/system_texts_win.h"

namespace kestrane {
namespace {

// Reads the little-endian unsigned number of width bytes (1 or 2) at offset. The file is
// opened without sharing, so a file that another handle holds open gives 0, and only the
// bytes of the number are read: the file may be many megabytes long.
int32_t ReadNumberFrom(const ScopedHandle& file, LONG offset, DWORD width) {
  if (!file.valid()) return 0;
  if (SetFilePointer(file.get(), offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return 0;
  }
  unsigned char bytes[2] = {0, 0};
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes, width, &read, nullptr) || read != width) return 0;
  return static_cast<int32_t>(bytes[0] | (bytes[1] << 8));
}

int32_t ReadNumberAt(const std::u16string& path, LONG offset, DWORD width) {
  const ScopedHandle file(CreateFileW(WideFromUtf16(path).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return ReadNumberFrom(file, offset, width);
}

int32_t ReadNumberIn(HANDLE folder, const std::u16string& name, LONG offset, DWORD width) {
  NativeOpen how;
  how.access = GENERIC_READ;
  how.disposition = kNativeOpenExisting;
  how.options = FILE_NON_DIRECTORY_FILE;
  ScopedHandle file;
  if (OpenInFolder(folder, name, how, &file) != ERROR_SUCCESS) return 0;
  return ReadNumberFrom(file, offset, width);
}

using GetFileVersionInfoSizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
// The version text is queried through the ANSI function, as before the path went wide: it
// converts the block's text to the ANSI code page inside the block, and the question shows it
// as it always did.
using VerQueryValueFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

template <typename Fn>
Fn VersionFunction(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(SystemFunction("version.dll", name)));
}

}  // namespace

int32_t ReadPakVersion(const std::u16string& path) { return ReadNumberAt(path, 6, 2); }

int32_t ReadCokVersion(const std::u16string& path) { return ReadNumberAt(path, 5, 2); }

int32_t Read3bsVersion(const std::u16string& path) { return ReadNumberAt(path, 6, 1); }

int32_t ReadPakVersionIn(HANDLE folder, const std::u16string& name) {
  return ReadNumberIn(folder, name, 6, 2);
}

int32_t ReadCokVersionIn(HANDLE folder, const std::u16string& name) {
  return ReadNumberIn(folder, name, 5, 2);
}

int32_t Read3bsVersionIn(HANDLE folder, const std::u16string& name) {
  return ReadNumberIn(folder, name, 6, 1);
}

std::string ReadFileVersionText(const std::u16string& path) {
  const std::wstring file = WideFromUtf16(path);
  // The shell answers 0 for anything that is no executable, whatever its name.
  SHFILEINFOW shell_info;
  std::memset(&shell_info, 0, sizeof shell_info);
  if (SHGetFileInfoW(file.c_str(), 0, &shell_info, sizeof shell_info, SHGFI_EXETYPE) == 0) {
    return std::string();
  }

  auto get_size = VersionFunction<GetFileVersionInfoSizeFn>("GetFileVersionInfoSizeW");
  auto get_info = VersionFunction<GetFileVersionInfoFn>("GetFileVersionInfoW");
  auto query = VersionFunction<VerQueryValueFn>("VerQueryValueA");
  if (get_size == nullptr || get_info == nullptr || query == nullptr) return std::string();

  DWORD handle = 0;
  const DWORD size = get_size(file.c_str(), &handle);
  if (size == 0 || size > 0x7FFFFFFFu) return std::string();
  std::vector<char> info(size, 0);
  if (!get_info(file.c_str(), handle, size, info.data())) return std::string();

  void* translation = nullptr;
  UINT translation_size = 0;
  if (!query(info.data(), "\\VarFileInfo\\Translation", &translation, &translation_size) ||
      translation == nullptr || translation_size < 4) {
    return std::string();
  }
  // Only the first entry counts: language identifier in the low word, code page in the high.
  uint16_t language = 0;
  uint16_t code_page = 0;
  std::memcpy(&language, translation, 2);
  std::memcpy(&code_page, static_cast<const char*>(translation) + 2, 2);

  void* value = nullptr;
  UINT value_size = 0;
  if (!query(info.data(), FileVersionQuery(language, code_page).c_str(), &value, &value_size) ||
      value == nullptr) {
    return std::string();
  }
  // The text ends at its NUL; a value without one ends where the buffer does.
  const char* text = static_cast<const char*>(value);
  const char* buffer_end = info.data() + info.size();
  size_t limit = value_size;
  if (text >= info.data() && text < buffer_end) limit = static_cast<size_t>(buffer_end - text);
  return std::string(text, strnlen(text, limit));
}

}  // namespace kestrane
