// Any registry value may stand in the uninstall command. Whatever it holds, the folder cut
// from it is empty or a backslash-terminated piece of the value, and MakeTempName of it adds
// exactly one character. The input's bytes are taken in pairs as the UTF-16 units the wide
// registry functions give.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "environment/uninstall_path.h"
#include "payload/temp_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string value;
  for (size_t i = 0; i + 1 < size; i += 2) {
    value += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  const std::u16string folder = kestrane::UninstallFolder(value);
  if (!folder.empty()) {
    if (folder.back() != u'\\') std::abort();
    if (value.find(folder) == std::u16string::npos) std::abort();
    if (folder.size() >= value.size()) std::abort();  // the last character is never kept alone
  }
  const std::u16string temp = kestrane::MakeTempName(value);
  if (temp.size() != value.size() + 1 || temp.find(u'~') == std::u16string::npos) std::abort();
  return 0;
}
