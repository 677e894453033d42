// Runtime errors that the installer signals as exceptions. They are caught only at the few
// fixed boundaries the design names (the user-shell-folder read, the payload writer, the
// file readers) and otherwise end the process through the top-level handler, which names the
// error's kind, module and address.
#pragma once

#include <stdexcept>
#include <string>

#include "startup/message_text.h"

namespace kestrane {

class InstallerError : public std::runtime_error {
 public:
  InstallerError(const char* kind, const std::string& message)
      : std::runtime_error(message), kind_(kind), address_(__builtin_return_address(0)) {}
  // The error's kind as the top-level box names it, for example "RegistryError".
  const char* Kind() const { return kind_; }
  // Where the error was raised (the code that constructed it).
  const void* Address() const { return address_; }

 private:
  const char* kind_;
  const void* address_;
};

class RegistryError : public InstallerError {
 public:
  explicit RegistryError(const std::string& message) : InstallerError("RegistryError", message) {}
};

class FileError : public InstallerError {
 public:
  explicit FileError(const std::string& message) : InstallerError("FileError", message) {}
};

// Returns the text of the top-level error box: "Exception <kind> in module <module> at
// <address>.\r\n<message>" followed by "." when the message does not end in one, then "\r\n".
// The kind and the message are the program's own texts; the module name is as Windows gave it.
MessageText TopLevelErrorText(const std::string& kind, const MessageText& module,
                              const void* address, const std::string& message);

}  // namespace kestrane
