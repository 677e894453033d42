#include <windows.h>
#include <shlobj.h>

#include <exception>
#include <string>

#include "environment/environment_win.h"
#include "environment/registry_paths.h"
#include "environment/uninstall_path.h"
#include "startup/messages.h"
#include "startup/registry_win.h"
#include "startup/startup_settings.h"
#include "startup/system_texts_win.h"

namespace kestrane {
namespace {

// Sets field to the named folder value, with its backslash, when the value exists. Throws
// RegistryError when the value is not a text.
void ReadFolderValue(RegistryHandle& registry, const char* name, std::string& field) {
  if (registry.ValueExists(name)) field = AddBackslash(registry.ReadString(name));
}

bool IsNtPlatform() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Reads the uninstall command under key when it has one: InstallDir becomes its folder and
// RegistrationKey the key. Returns whether the registration was found there.
bool ReadRegistration(RegistryHandle& registry, const std::string& key, InstallEnvironment& env) {
  const KeyScope opened = registry.Open(HKEY_LOCAL_MACHINE, key, false);
  if (!registry.ValueExists("UninstallString")) return false;
  env.InstallDir = UninstallFolder(registry.ReadString("UninstallString"));
  env.RegistrationKey = key;
  return true;
}

}  // namespace

bool DiscoverEnvironment(RegistryHandle& registry, const std::string& program,
                         InstallEnvironment* environment) {
  InstallEnvironment& env = *environment;
  const std::string shell_folders = ShellFoldersKey();

  env.ProgramsRoot.clear();
  env.SystemDir = AddBackslash(SystemFolder(GetSystemDirectoryA));
  env.WindowsDir = AddBackslash(SystemFolder(GetWindowsDirectoryA));
  {
    const KeyScope opened = registry.Open(HKEY_LOCAL_MACHINE, kCurrentVersionKey, false);
    env.ProgramFilesDir.clear();
    ReadFolderValue(registry, "ProgramFilesDir", env.ProgramFilesDir);
  }
  env.IsAdmin = IsUserAnAdmin() != FALSE;
  env.TempDir = AddBackslash(EnvironmentVariable("Temp"));
  {
    const KeyScope opened = registry.Open(HKEY_LOCAL_MACHINE, shell_folders, false);
    env.CommonDesktop.clear();
    ReadFolderValue(registry, "Common Desktop", env.CommonDesktop);
    if (IsNtPlatform()) ReadFolderValue(registry, "Common Programs", env.ProgramsRoot);
  }
  try {
    const KeyScope opened = registry.Open(HKEY_CURRENT_USER, shell_folders, false);
    ReadFolderValue(registry, "Programs", env.UserPrograms);
    ReadFolderValue(registry, "Desktop", env.UserDesktop);
    ReadFolderValue(registry, "Startup", env.UserStartup);
  } catch (const std::exception&) {
    ReportError("No access to system registry", "Нет доступа к системному реестру");
    return false;
  }
  env.UninstallKey = UninstallKeyPath();
  if (env.ProgramsRoot.size() < 2) env.ProgramsRoot = env.UserPrograms;

  env.InstallDir = env.ProgramFilesDir + program;
  env.RegistrationKey.clear();
  if (!ReadRegistration(registry, env.UninstallKey + program, env)) {
    ReadRegistration(registry, Wow64MirrorPath(env.UninstallKey) + program, env);
  }
  env.InstallDir = AddBackslash(env.InstallDir);
  return true;
}

}  // namespace kestrane
