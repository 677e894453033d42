#include "environment/environment_win.h"

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

#include "environment/environment_discovery.h"
#include "startup/system_texts_win.h"

namespace kestrane {
namespace {

// Answers discovery's reads from the running system, the registry through the given handle.
class SystemEnvironmentReads : public EnvironmentReads {
 public:
  explicit SystemEnvironmentReads(RegistryHandle& registry) : registry_(registry) {}

  std::string SystemFolder() override { return kestrane::SystemFolder(GetSystemDirectoryA); }
  std::string WindowsFolder() override { return kestrane::SystemFolder(GetWindowsDirectoryA); }

  std::optional<std::string> ReadText(RegistryRoot root, const std::string& key,
                                      const std::string& name) override {
    const KeyScope opened = registry_.Open(
        root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key, false);
    // Whether the key opened needs no test: on a missing key the value test fails.
    if (!registry_.ValueExists(name)) return std::nullopt;
    return registry_.ReadString(name);
  }

  std::optional<std::u16string> ReadWideText(RegistryRoot root, const std::string& key,
                                             const std::string& name) override {
    const KeyScope opened = registry_.Open(
        root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key, false);
    if (!registry_.ValueExists(name)) return std::nullopt;
    return registry_.ReadWideString(name);
  }

  bool IsAdmin() override { return IsUserAnAdmin() != FALSE; }
  std::string TempVariable() override { return EnvironmentVariable("Temp"); }

  bool IsNtPlatform() override {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
  }

 private:
  RegistryHandle& registry_;
};

}  // namespace

bool DiscoverEnvironment(RegistryHandle& registry, const std::string& program,
                         InstallEnvironment* environment) {
  SystemEnvironmentReads reads(registry);
  return ResolveEnvironment(reads, program, environment);
}

}  // namespace kestrane
