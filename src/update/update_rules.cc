#include "update/update_rules.h"

#include "startup/ascii_case.h"

namespace kestrane {

bool IsQuietMode(const std::string& first_arg) { return first_arg == "modest"; }

bool WantsHostStart(const std::string& second_arg) {
  return LowerAsciiLetters(second_arg) == "runapp";
}

bool IsFullFolderPath(const std::string& folder) {
  if (folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\') {
    const char drive = folder[0];
    return (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  }
  return folder.size() >= 3 && folder[0] == '\\' && folder[1] == '\\' && folder[2] != '\\';
}

std::string HostExecutableName(const PackageInfo& info) { return info.ProgramName + ".exe"; }

std::string SizeRegistrationKey(const InstallEnvironment& environment, const PackageInfo& info) {
  if (!environment.RegistrationKey.empty()) return environment.RegistrationKey;
  return environment.UninstallKey + info.ProgramName;
}

}  // namespace kestrane
