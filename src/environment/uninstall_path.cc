#include "environment/uninstall_path.h"

namespace kestrane {

std::u16string CutToFolder(const std::u16string& text) {
  // Walks down from the second-to-last character; the index never goes below 0.
  for (size_t i = text.size() < 2 ? 0 : text.size() - 1; i > 0; --i) {
    if (text[i - 1] == u'\\') return text.substr(0, i);
  }
  return std::u16string();
}

std::u16string UninstallFolder(const std::u16string& uninstall_string) {
  const size_t first = uninstall_string.find_first_not_of(u" \t");
  if (first == std::u16string::npos || uninstall_string[first] != u'"') {
    return CutToFolder(uninstall_string);
  }
  const size_t open = first + 1;
  const size_t close = uninstall_string.find(u'"', open);
  const size_t length = close == std::u16string::npos ? std::u16string::npos : close - open;
  return CutToFolder(uninstall_string.substr(open, length));
}

}  // namespace kestrane
