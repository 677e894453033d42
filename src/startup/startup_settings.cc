#include "startup/startup_settings.h"

namespace kestrane {

StartupSettings g_startupSettings;

bool IsRussianLocale(uint32_t lcid) {
  switch (lcid) {
    case 0x402:  // Bulgarian
    case 0x419:  // Russian
    case 0x422:  // Ukrainian
    case 0x423:  // Belarusian
    case 0x43F:  // Kazakh
    case 0x444:  // Tatar
    case 0x819:  // Russian (Moldova)
      return true;
    default:
      return false;
  }
}

std::string AddBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

std::u16string AddBackslash(const std::u16string& path) {
  if (path.empty() || path.back() == u'\\') return path;
  return path + u'\\';
}

}  // namespace kestrane
