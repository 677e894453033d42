// Registry key paths that environment discovery reads, all below one key prefix.
#pragma once

#include <string>

namespace kestrane {

// Software\Microsoft\Windows\CurrentVersion\ (with its closing backslash).
extern const char kCurrentVersionKey[];

// Returns the Shell Folders key: the prefix followed by Explorer\Shell Folders.
std::string ShellFoldersKey();

// Returns the uninstall key: the prefix followed by Uninstall\ (with its closing backslash).
std::string UninstallKeyPath();

// Returns the 32-bit mirror of a key below HKEY_LOCAL_MACHINE: "WOW6432Node\" inserted after
// its first backslash, so Software\Microsoft\... gives Software\WOW6432Node\Microsoft\....
// A path without a backslash is returned unchanged.
std::string Wow64MirrorPath(const std::string& key);

}  // namespace kestrane
