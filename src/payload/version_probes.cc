// The portable version readers and helpers, built and tested natively too.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "language/language_files.h"
#include "language/language_format.h"
#include "payload/integer_text.h"
#include "payload/version_probes.h"
#include "startup/message_text.h"
#include "startup/text_lines.h"

namespace kestrane {
namespace {

constexpr char kVersionKey[] = "langver";

// Returns false only when path names nothing, or something that is no file (a folder): those
// are missing files, not unreadable ones. Any other doubt is left to opening the file.
bool MayBeFile(const std::u16string& path) {
#ifdef _WIN32
  // The narrow function would go through the ANSI code page and lose what it lacks.
  struct _stat64 status;
  if (_wstat64(reinterpret_cast<const wchar_t*>(path.c_str()), &status) != 0) {
    return errno != ENOENT && errno != ENOTDIR;
  }
  return (status.st_mode & _S_IFDIR) == 0;
#else
  struct stat status;
  if (stat(Utf8FromUtf16(path).c_str(), &status) != 0) return errno != ENOENT && errno != ENOTDIR;
  return !S_ISDIR(status.st_mode);
#endif
}

}  // namespace

int32_t ReadLngVersion(const std::u16string& path) {
  if (path.empty() || !MayBeFile(path)) return 0;
  TextFile file;
  std::string text;
  int32_t version = 0;
  if (!file.Open(path) || !ReadKeyValue(file, kVersionKey, &text) ||
      !TextToInteger(text, &version)) {
    file.Close();
    ReportLanguageFileError(MessageText::Wide(path));
    return 0;
  }
  return version;
}

std::string FileVersionQuery(uint16_t language, uint16_t code_page) {
  char query[48];
  std::snprintf(query, sizeof query, "\\StringFileInfo\\%04X%04X\\FileVersion", language,
                code_page);
  return query;
}

}  // namespace kestrane
