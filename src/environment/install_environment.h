// Where things are on this machine: system and shell folders, administrator rights and the
// host application's install folder from its uninstall registration. Every folder field is
// empty or ends with a backslash. The folders the update writes into are kept in UTF-16, as
// Windows stores them, so that a name the ANSI code page lacks keeps every character.
#pragma once

#include <string>

namespace kestrane {

struct InstallEnvironment {
  std::string SystemDir;
  std::string WindowsDir;
  std::u16string ProgramFilesDir;
  bool IsAdmin = true;  // true until discovery asks
  std::string TempDir;
  std::string CommonDesktop;
  std::string ProgramsRoot;
  std::string UserPrograms;
  std::string UserDesktop;
  std::string UserStartup;
  std::string UninstallKey;  // Software\Microsoft\Windows\CurrentVersion\Uninstall\ (with "\")
  std::u16string InstallDir;
  // Where the host's registration was found: the key below HKEY_LOCAL_MACHINE that holds its
  // "UninstallString", or empty when none was found.
  std::string RegistrationKey;
};

extern InstallEnvironment g_installEnvironment;

}  // namespace kestrane
