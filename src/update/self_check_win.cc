#include <windows.h>

#include <exception>
#include <string>

#include "seal/seal_file_win.h"
#include "startup/messages.h"
#include "startup/system_texts_win.h"
#include "update/self_check.h"

namespace kestrane {
namespace {

SealStatus CheckOwnFile() {
  const std::wstring path = ModulePath(nullptr);
  if (path.empty()) return SealStatus::kReadFailed;
  return CheckFileSeal(path.c_str()).status;
}

}  // namespace

OwnFileVerdict VerifyOwnFile() {
  SealStatus status;
  try {
    status = CheckOwnFile();
  } catch (const std::exception&) {
    // Out of memory for the read buffer and the like: the check could not be made.
    status = SealStatus::kReadFailed;
  }
  switch (status) {
    case SealStatus::kVerified:
      return OwnFileVerdict::kPassed;
    case SealStatus::kReadFailed:
      ReportError("Failed to check up the package file!",
                  "Не удаётся проверить файл пакета установки!");
      return OwnFileVerdict::kUnreadable;
    case SealStatus::kMalformed:
    case SealStatus::kMismatch:
      break;
  }
  ReportError("The package file has been distorted!\r\nVirus?",
              "Файл пакета установки искажён!\r\nВирус?");
  return OwnFileVerdict::kDistorted;
}

}  // namespace kestrane
