// The texts of the update run: its error messages and its two questions. Built here, apart
// from the message boxes, so that their exact bytes can be checked without Windows.
#pragma once

#include <string>

#include "update/package_info.h"

namespace kestrane {

// An error message in both interface languages, for ReportError.
struct BilingualText {
  const char* english;
  const char* russian;
};

extern const BilingualText kNoRightsText;          // the user may not install applications
extern const BilingualText kHostNotInstalledText;  // no Kestrane.exe in the install folder

// Returns the first question, "Would you like to setup ..." or its Russian twin, for a package
// made by MakePackageInfo.
std::string InstallQuestionText(const PackageInfo& info, bool russian);

// Returns the caption of the first question: "Sound question" or "Резонный вопрос".
const char* InstallQuestionCaption(bool russian);

// Returns the final question, which is always Russian: the package is installed, start the
// program?
std::string FinishQuestionText(const PackageInfo& info);

}  // namespace kestrane
