// The package constants: which file this package carries, for which host application, under
// which version. The entry point sets the first three, RunUpdate's first step the rest.
#pragma once

#include <string>

namespace kestrane {

struct PackageInfo {
  std::string ResourceName;  // payload resource name, base name of the installed file
  std::string ResourceType;  // payload resource type, extension of the installed file
  int PackageVersion = 0;
  std::string PackageDescription;  // first half of the package caption (Russian)
  bool Guarded = false;            // the payload replaces an installed file only when not older
  std::string ProgramName;
  std::string TitleRussian;
  std::string TitleEnglish;
  // Derived by FillDerivedPackageFields.
  std::string PayloadFileName;  // ResourceName + "." + ResourceType
  std::string VersionText;      // PackageVersion in decimal
  std::string PackageCaption;   // PackageDescription + VersionText
};

extern PackageInfo g_packageInfo;

// The host application's name: uninstall key name, default folder name, executable name.
extern const char kProgramName[];
extern const char kTitleRussian[];
extern const char kTitleEnglish[];
// "\"Звуковые комментарии к выходу из программы\" версии " in code page 1251.
extern const char kPackageDescription[];

// Sets ProgramName and the two titles, then the derived fields, from the fields the entry
// point has set.
void FillProgramFields(PackageInfo& info);

}  // namespace kestrane
