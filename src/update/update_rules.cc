#include "update/update_rules.h"

#include "startup/ascii_case.h"
#include "startup/message_text.h"

namespace kestrane {

bool IsQuietMode(const std::string& first_arg) { return first_arg == "modest"; }

bool WantsHostStart(const std::string& second_arg) {
  return LowerAsciiLetters(second_arg) == "runapp";
}

bool IsFullFolderPath(const std::u16string& folder) {
  if (folder.size() >= 3 && folder[1] == u':' && folder[2] == u'\\') {
    const char16_t drive = folder[0];
    return (drive >= u'A' && drive <= u'Z') || (drive >= u'a' && drive <= u'z');
  }
  return folder.size() >= 3 && folder[0] == u'\\' && folder[1] == u'\\' && folder[2] != u'\\';
}

std::u16string InstallDirFile(const InstallEnvironment& environment, const std::string& file_name) {
  return environment.InstallDir + DecodeCp1251(file_name);
}

std::string HostExecutableName(const PackageInfo& info) { return info.ProgramName + ".exe"; }

std::string SizeRegistrationKey(const InstallEnvironment& environment, const PackageInfo& info) {
  if (!environment.RegistrationKey.empty()) return environment.RegistrationKey;
  return environment.UninstallKey + info.ProgramName;
}

}  // namespace kestrane
