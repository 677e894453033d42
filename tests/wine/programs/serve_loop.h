// Serving requests through files in a folder, so that the test harness can keep one Windows
// helper process running for a whole test run instead of starting Wine once per operation.
//
// The harness writes "<id>.req" (via a temporary name and a rename): UTF-8 text, one word a
// line. The server answers with "<id>.res" (also renamed into place) and deletes the request.
// A request named "stop.req" ends the loop. No pipes or sockets: programs the server starts
// would inherit them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace serve {

inline std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  }
  return out;
}

// Reads a whole small file. Returns false when it cannot be read or exceeds the limit.
inline bool ReadSmallFile(const std::wstring& path, std::string* data) {
  constexpr DWORD kLimit = 1 << 20;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, nullptr);
  bool ok = size != INVALID_FILE_SIZE && size <= kLimit;
  if (ok) {
    data->assign(size, '\0');
    DWORD read = 0;
    ok = size == 0 || (ReadFile(file, &(*data)[0], size, &read, nullptr) && read == size);
  }
  CloseHandle(file);
  return ok;
}

// Writes the file under a temporary name and renames it into place, so that the reader
// never sees it half written. Returns false on any failure.
inline bool WriteFileAtomically(const std::wstring& path, const std::string& data) {
  std::wstring temp = path + L".part";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
            written == data.size();
  ok = CloseHandle(file) && ok;
  return ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size() && lines.size() < 10000) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

// Answers requests in the folder until "stop.req" arrives. handle gets the request's lines
// and returns the response text. Returns 0 after a stop, 1 when the folder cannot be watched.
template <typename Handler>
int ServeRequests(const std::wstring& folder, Handler handle) {
  HANDLE change = FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  for (;;) {
    // Wake on a change, or every 50 ms should a notification be missed.
    if (change != INVALID_HANDLE_VALUE) {
      WaitForSingleObject(change, 50);
      FindNextChangeNotification(change);
    } else {
      Sleep(10);
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.req").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    std::vector<std::wstring> names;
    do {
      if (names.size() < 256) names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const std::wstring& name : names) {
      std::wstring path = folder + L"\\" + name;
      if (name == L"stop.req") {
        DeleteFileW(path.c_str());
        if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
        return 0;
      }
      std::string request;
      if (!ReadSmallFile(path, &request)) continue;
      DeleteFileW(path.c_str());
      std::string response = handle(SplitLines(request));
      std::wstring id = name.substr(0, name.size() - 4);
      WriteFileAtomically(folder + L"\\" + id + L".res", response);
    }
  }
}

}  // namespace serve
