#include "startup/errors.h"

#include <cstdio>

namespace kestrane {

std::string TopLevelErrorText(const std::string& kind, const std::string& module,
                              const void* address, const std::string& message) {
  const char* dot = (!message.empty() && message.back() == '.') ? "" : ".";
  char head[64];
  std::snprintf(head, sizeof head, "%p", address);
  return "Exception " + kind + " in module " + module + " at " + head + ".\r\n" + message + dot +
         "\r\n";
}

}  // namespace kestrane
