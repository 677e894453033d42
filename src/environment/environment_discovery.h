// The rules of environment discovery, apart from the reads they need: which folder values are
// read from where, the "Common Programs" fallback, the default install folder, the NT-only
// read and the WOW6432Node mirror of the uninstall registration. A pure function of what a
// small interface of reads answers, so that the rules can be tested without Windows;
// environment_win.cc answers the reads from the running system.
#pragma once

#include <optional>
#include <string>

#include "environment/install_environment.h"

namespace kestrane {

enum class RegistryRoot { kLocalMachine, kCurrentUser };

// What discovery asks of the system.
class EnvironmentReads {
 public:
  virtual ~EnvironmentReads() = default;
  // The system and Windows folders as Windows names them, without a closing backslash; empty
  // when the query fails.
  virtual std::string SystemFolder() = 0;
  virtual std::string WindowsFolder() = 0;
  // Returns the text of the value name under key below root, or nothing when the key or the
  // value is missing. Throws RegistryError when the value is there but not a text.
  virtual std::optional<std::string> ReadText(RegistryRoot root, const std::string& key,
                                              const std::string& name) = 0;
  // The same through the registry's wide functions: every character of the text, whatever
  // the ANSI code page holds. For the values that make up the install folder.
  virtual std::optional<std::u16string> ReadWideText(RegistryRoot root, const std::string& key,
                                                     const std::string& name) = 0;
  virtual bool IsAdmin() = 0;
  // The "Temp" environment variable; empty when it is unset.
  virtual std::string TempVariable() = 0;
  // True on the NT family, the only one whose machine-wide "Common Programs" is read.
  virtual bool IsNtPlatform() = 0;
};

// Fills *environment for the host application program_name from what reads answers. Returns
// false after reporting "No
// access to system registry" when a user shell folder cannot be read; the fields read before
// keep their values and the install folder stays as it was. Lets a RegistryError of any other
// value pass.
bool ResolveEnvironment(EnvironmentReads& reads, const std::string& program_name,
                        InstallEnvironment* environment);

}  // namespace kestrane
