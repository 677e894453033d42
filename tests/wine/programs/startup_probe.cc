// Runs the start-up step and prints what it settled, one fact a line:
//   Interface language: Russian|English
//   Windows: <display name with version>
//   Is64Bit: true|false
//   FirstArg: <first argument, lower-cased>
//   Registry access: 0x<access mask of the registry handle>
// Exit code 0, or 1 with the error on standard error when an error escaped.
#include <windows.h>

#include <cstdio>
#include <string>

#include "startup/errors.h"
#include "startup/registry_win.h"
#include "startup/startup_settings.h"
#include "startup/startup_step.h"
#include "startup/windows_version_win.h"

int main() {
  using namespace kestrane;
  try {
    RunStartupStep();
    const bool is_64bit = g_startupSettings.Is64Bit;
    const std::string long_name = WindowsDisplayName(true);
    std::printf("Interface language: %s\n", g_startupSettings.RussianUI ? "Russian" : "English");
    std::printf("Windows: %s\n", long_name.c_str());
    std::printf("Is64Bit: %s\n", is_64bit ? "true" : "false");
    std::printf("FirstArg: %s\n", g_startupSettings.FirstArg.c_str());
    std::printf("Registry access: 0x%lX\n",
                static_cast<unsigned long>(g_startupSettings.Registry->Access()));
    return 0;
  } catch (const InstallerError& error) {
    std::fprintf(stderr, "%s: %s\n", error.Kind(), error.what());
    return 1;
  }
}
