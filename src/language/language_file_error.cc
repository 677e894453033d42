// The report about an unreadable language file, apart from the lookups so that the version
// reader, which shares it, does not bring in their state.
#include "language/language_files.h"
#include "startup/messages.h"

namespace kestrane {

void ReportLanguageFileError(const std::string& file_name) {
  ReportLanguageFileError(MessageText::System(file_name));
}

void ReportLanguageFileError(const MessageText& name) {
  ReportError("Can't handle the language support file " + name,
              "Не удаётся работать с файлом языковой поддержки " + name);
}

}  // namespace kestrane
