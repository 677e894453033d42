// The start-up context every other part reads: interface language, first command-line word,
// bitness of Windows and the process's registry handle. Filled once by the start-up step
// before the update run begins, read-only afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace kestrane {

class RegistryHandle;  // startup/registry_win.h; Windows only.

struct StartupSettings {
  bool RussianUI = false;
  std::string FirstArg;  // lower-cased (A-Z only); empty when there is none
  bool Is64Bit = false;
  RegistryHandle* Registry = nullptr;  // owned; released at process end
};

extern StartupSettings g_startupSettings;

// Returns true exactly for the seven Cyrillic-script locales whose users get Russian texts.
bool IsRussianLocale(uint32_t lcid);

// Returns the path with a backslash appended when it is not empty and does not end in one.
std::string AddBackslash(const std::string& path);
std::u16string AddBackslash(const std::u16string& path);

}  // namespace kestrane
