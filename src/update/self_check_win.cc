#include <windows.h>

#include <exception>
#include <string>

#include "startup/messages.h"
#include "update/seal_file_win.h"
#include "update/self_check.h"

namespace kestrane {
namespace {

// Long enough for any path Windows hands back (the \\?\ limit); grown from MAX_PATH.
constexpr DWORD kLongestPath = 32768;

// Returns the running module's file path, or an empty text when it cannot be had whole.
// Wide, because the ANSI path of a folder named in letters the ANSI code page lacks has "?"
// in their place and names no file.
std::wstring OwnModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    // Truncated: try a larger buffer, up to the longest path there is.
    if (path.size() >= kLongestPath) return std::wstring();
    path.resize(path.size() * 2 > kLongestPath ? kLongestPath : path.size() * 2);
  }
}

SealStatus CheckOwnFile() {
  const std::wstring path = OwnModulePath();
  if (path.empty()) return SealStatus::kReadFailed;
  return CheckFileSeal(path.c_str()).status;
}

}  // namespace

SealCheck VerifyOwnFile() {
  SealStatus status;
  try {
    status = CheckOwnFile();
  } catch (const std::exception&) {
    // Out of memory for the read buffer and the like: the check could not be made.
    status = SealStatus::kReadFailed;
  }
  switch (status) {
    case SealStatus::kVerified:
      return SealCheck::kPassed;
    case SealStatus::kReadFailed:
      ReportError("Failed to check up the package file!",
                  "Не удаётся проверить файл пакета установки!");
      return SealCheck::kUnreadable;
    case SealStatus::kMalformed:
    case SealStatus::kMismatch:
      break;
  }
  ReportError("The package file has been distorted!\r\nVirus?",
              "Файл пакета установки искажён!\r\nВирус?");
  return SealCheck::kDistorted;
}

}  // namespace kestrane
