// The package constants: which file this package carries, for which host application, under
// which version. Made whole by MakePackageInfo from what the package build gives; the update
// run keeps it as the process's record.
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
  // Derived by MakePackageInfo.
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

// Returns the record of the package that carries the resource (name, type) under version:
// the host's name, the titles and the description of this package, and the fields derived
// from them.
PackageInfo MakePackageInfo(const std::string& resource_name, const std::string& resource_type,
                            int version, bool guarded);

}  // namespace kestrane
