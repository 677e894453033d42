#include "startup/system_texts_win.h"

#include <vector>

namespace kestrane {
namespace {

// Environment values and paths end within 32767 characters; one more holds the NUL.
constexpr DWORD kLongestText = 32768;

}  // namespace

std::string EnvironmentVariable(const char* name) {
  DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
  // The value may grow between two calls; a few rounds settle it.
  for (int attempt = 0; attempt < 4 && needed > 0 && needed <= kLongestText; ++attempt) {
    std::vector<char> buffer(needed);
    const DWORD got = GetEnvironmentVariableA(name, buffer.data(), needed);
    if (got < needed) return std::string(buffer.data(), got);
    needed = got;
  }
  return "";
}

std::wstring ModulePath(HMODULE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    // Cut short: try a larger buffer, up to the longest path there is.
    if (path.size() >= kLongestText) return std::wstring();
    path.resize(path.size() * 2 > kLongestText ? kLongestText : path.size() * 2);
  }
}

std::string SystemFolder(UINT(WINAPI* query)(LPSTR, UINT)) {
  std::vector<char> buffer(MAX_PATH + 1);
  UINT length = query(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length >= buffer.size() && length <= kLongestText) {  // too small: length is the size needed
    buffer.resize(length + 1);
    length = query(buffer.data(), static_cast<UINT>(buffer.size()));
  }
  if (length == 0 || length >= buffer.size()) return std::string();
  return std::string(buffer.data(), length);
}

bool IsExistingFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsExistingFile(const std::u16string& path) {
  const std::wstring wide(path.begin(), path.end());
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace kestrane
