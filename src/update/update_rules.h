// The choices the update run makes from what it was given: the command-line words, the
// host's executable and the key that receives the installed size.
#pragma once

#include <string>

#include "environment/install_environment.h"
#include "update/package_info.h"

namespace kestrane {

// Returns true when the first command-line word (already lower-cased at start-up) asks for a
// run without questions: exactly "modest".
bool IsQuietMode(const std::string& first_arg);

// Returns true when the second command-line word, in any letter case, is "runapp": a quiet run
// then starts the host application at its end.
bool WantsHostStart(const std::string& second_arg);

// Returns true when the install folder is a full path: a drive ("C:\") or a network share
// ("\\server\"). A registration without a folder, or a missing Program Files value, leaves a
// relative or empty folder that would name the current folder, which the update must never
// write into.
bool IsFullFolderPath(const std::u16string& folder);

// Returns the path of a file of the package's own naming (code page 1251, such as the host's
// executable or the payload's file name) inside the install folder, in UTF-16.
std::u16string InstallDirFile(const InstallEnvironment& environment, const std::string& file_name);

// Returns the file name of the host's executable: ProgramName + ".exe".
std::string HostExecutableName(const PackageInfo& info);

// Returns the key below HKEY_LOCAL_MACHINE that receives "EstimatedSize": the registration
// discovery found (which may be the WOW6432Node mirror), or UninstallKey + ProgramName when
// none was found. Writing anywhere else would leave the registered size stale.
std::string SizeRegistrationKey(const InstallEnvironment& environment, const PackageInfo& info);

}  // namespace kestrane
