#include "environment/uninstall_path.h"

namespace kestrane {

std::string CutToFolder(const std::string& text) {
  // Walks down from the second-to-last character; the index never goes below 0.
  for (size_t i = text.size() < 2 ? 0 : text.size() - 1; i > 0; --i) {
    if (text[i - 1] == '\\') return text.substr(0, i);
  }
  return std::string();
}

std::string UninstallFolder(const std::string& uninstall_string) {
  const size_t first = uninstall_string.find_first_not_of(" \t");
  if (first == std::string::npos || uninstall_string[first] != '"') {
    return CutToFolder(uninstall_string);
  }
  const size_t open = first + 1;
  const size_t close = uninstall_string.find('"', open);
  const size_t length = close == std::string::npos ? std::string::npos : close - open;
  return CutToFolder(uninstall_string.substr(open, length));
}

}  // namespace kestrane
