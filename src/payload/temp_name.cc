#include "payload/temp_name.h"

namespace kestrane {

std::u16string MakeTempName(const std::u16string& path) {
  // Walks down from the second-to-last character; the index never goes below 0.
  for (size_t i = path.size() < 2 ? 0 : path.size() - 1; i > 0; --i) {
    if (path[i - 1] == u'\\') return path.substr(0, i) + u'~' + path.substr(i);
  }
  return u'~' + path;
}

}  // namespace kestrane
