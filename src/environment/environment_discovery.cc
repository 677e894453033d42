#include "environment/environment_discovery.h"

#include <exception>

#include "environment/registry_paths.h"
#include "environment/uninstall_path.h"
#include "startup/message_text.h"
#include "startup/messages.h"
#include "startup/startup_settings.h"

namespace kestrane {
namespace {

// Sets field to the named folder value, with its backslash, when the value exists.
void ReadFolderValue(EnvironmentReads& reads, RegistryRoot root, const std::string& key,
                     const char* name, std::string& field) {
  if (const std::optional<std::string> value = reads.ReadText(root, key, name)) {
    field = AddBackslash(*value);
  }
}

// Reads the uninstall command under key when it has one: InstallDir becomes its folder and
// RegistrationKey the key. Returns whether the registration was found there.
bool ReadRegistration(EnvironmentReads& reads, const std::string& key, InstallEnvironment& env) {
  const std::optional<std::u16string> command =
      reads.ReadWideText(RegistryRoot::kLocalMachine, key, "UninstallString");
  if (!command) return false;
  env.InstallDir = UninstallFolder(*command);
  env.RegistrationKey = key;
  return true;
}

}  // namespace

bool ResolveEnvironment(EnvironmentReads& reads, const std::string& program,
                        InstallEnvironment* environment) {
  InstallEnvironment& env = *environment;
  const RegistryRoot machine = RegistryRoot::kLocalMachine;
  const std::string shell_folders = ShellFoldersKey();

  env.ProgramsRoot.clear();
  env.SystemDir = AddBackslash(reads.SystemFolder());
  env.WindowsDir = AddBackslash(reads.WindowsFolder());
  env.ProgramFilesDir.clear();
  if (const std::optional<std::u16string> value =
          reads.ReadWideText(machine, kCurrentVersionKey, "ProgramFilesDir")) {
    env.ProgramFilesDir = AddBackslash(*value);
  }
  env.IsAdmin = reads.IsAdmin();
  env.TempDir = AddBackslash(reads.TempVariable());
  env.CommonDesktop.clear();
  ReadFolderValue(reads, machine, shell_folders, "Common Desktop", env.CommonDesktop);
  if (reads.IsNtPlatform()) {
    ReadFolderValue(reads, machine, shell_folders, "Common Programs", env.ProgramsRoot);
  }
  try {
    const RegistryRoot user = RegistryRoot::kCurrentUser;
    ReadFolderValue(reads, user, shell_folders, "Programs", env.UserPrograms);
    ReadFolderValue(reads, user, shell_folders, "Desktop", env.UserDesktop);
    ReadFolderValue(reads, user, shell_folders, "Startup", env.UserStartup);
  } catch (const std::exception&) {
    ReportError("No access to system registry", "Нет доступа к системному реестру");
    return false;
  }
  env.UninstallKey = UninstallKeyPath();
  // Not read on the 95 family, or missing: the user's own start menu stands in.
  if (env.ProgramsRoot.size() < 2) env.ProgramsRoot = env.UserPrograms;

  // Where the host goes when it registered nowhere: the Program Files folder.
  // The program name is the package's own text (code page 1251).
  env.InstallDir = env.ProgramFilesDir + DecodeCp1251(program);
  env.RegistrationKey.clear();
  // A 32-bit host installer on 64-bit Windows registers in the WOW6432Node mirror.
  if (!ReadRegistration(reads, env.UninstallKey + program, env)) {
    ReadRegistration(reads, Wow64MirrorPath(env.UninstallKey) + program, env);
  }
  env.InstallDir = AddBackslash(env.InstallDir);
  return true;
}

}  // namespace kestrane
