#include "environment/registry_paths.h"

namespace kestrane {

const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";

std::string ShellFoldersKey() {
  return std::string(kCurrentVersionKey) + "Explorer\\Shell Folders";
}

std::string UninstallKeyPath() { return std::string(kCurrentVersionKey) + "Uninstall\\"; }

std::string Wow64MirrorPath(const std::string& key) {
  const size_t slash = key.find('\\');
  if (slash == std::string::npos) return key;
  return key.substr(0, slash + 1) + "WOW6432Node\\" + key.substr(slash + 1);
}

}  // namespace kestrane
