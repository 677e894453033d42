#include "startup/errors.h"

#include <cstdio>

namespace kestrane {

MessageText TopLevelErrorText(const std::string& kind, const MessageText& module,
                              const void* address, const std::string& message) {
  const char* dot = (!message.empty() && message.back() == '.') ? "" : ".";
  char head[64];
  std::snprintf(head, sizeof head, "%p", address);
  return MessageText::Program("Exception " + kind + " in module ") + module +
         MessageText::Program(std::string(" at ") + head + ".\r\n" + message + dot + "\r\n");
}

}  // namespace kestrane
