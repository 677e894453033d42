// The portable version readers and helpers, built and tested natively too.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "language/language_files.h"
#include "language/language_format.h"
#include "payload/integer_text.h"
#include "payload/version_probes.h"
#include "startup/text_lines.h"

namespace kestrane {
namespace {

constexpr char kVersionKey[] = "langver";

// Returns false only when path names nothing, or something that is no file (a folder): those
// are missing files, not unreadable ones. Any other doubt is left to opening the file.
bool MayBeFile(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return errno != ENOENT && errno != ENOTDIR;
  return !S_ISDIR(status.st_mode);
}

}  // namespace

int32_t ReadLngVersion(const std::string& path) {
  if (path.empty() || !MayBeFile(path)) return 0;
  TextFile file;
  std::string text;
  int32_t version = 0;
  if (!file.Open(path) || !ReadKeyValue(file, kVersionKey, &text) ||
      !TextToInteger(text, &version)) {
    file.Close();
    ReportLanguageFileError(path);
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
