#include <windows.h>

#include "startup/startup_step.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "startup/errors.h"
#include "startup/message_text_win.h"
#include "startup/registry_win.h"
#include "startup/startup_settings.h"
#include "startup/system_texts_win.h"
#include "startup/windows_version_win.h"
#include "startup/ascii_case.h"

namespace kestrane {
namespace {

// Owns the handle g_startupSettings.Registry points at; released at process end.
std::unique_ptr<RegistryHandle> g_registryOwner;

// Returns the file name of this process's executable without its folder, or an empty text
// when Windows cannot tell it.
std::wstring ModuleFileName() {
  const std::wstring path = ModulePath(nullptr);
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

void RunStartupStep() {
  g_startupSettings.RussianUI = IsRussianLocale(GetUserDefaultLCID());
  // Only the bitness is kept; the name itself is not needed.
  WindowsDisplayName(false);
  g_registryOwner = std::make_unique<RegistryHandle>(
      g_startupSettings.Is64Bit ? kAllAccess64BitView : static_cast<REGSAM>(KEY_ALL_ACCESS));
  g_startupSettings.Registry = g_registryOwner.get();
  g_startupSettings.FirstArg = LowerAsciiLetters(CommandLineArgument(1));
}

const char* CommandLineArgument(int index) {
  // The runtime splits the command line by the rules every Windows program follows (quotes,
  // backslashes before quotes), without wildcard expansion.
  if (index < 1 || index >= __argc || __argv == nullptr || __argv[index] == nullptr) return "";
  return __argv[index];
}

void ShowTopLevelError(const char* kind, const void* address, const char* message) {
  const MessageText text = TopLevelErrorText(kind != nullptr ? kind : "",
                                             MessageText::Utf8(Utf8FromWide(ModuleFileName())),
                                             address, message != nullptr ? message : "");
  MessageBoxW(nullptr, WideText(text).c_str(), L"Application Error", MB_ICONERROR | MB_OK);
}

}  // namespace kestrane
