// Any registry value may stand in the uninstall command. Whatever it holds, the folder cut
// from it is empty or a backslash-terminated piece of the value, and MakeTempName of it adds
// exactly one character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "environment/uninstall_path.h"
#include "payload/temp_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string value(reinterpret_cast<const char*>(data), size);
  const std::string folder = kestrane::UninstallFolder(value);
  if (!folder.empty()) {
    if (folder.back() != '\\') std::abort();
    if (value.find(folder) == std::string::npos) std::abort();
    if (folder.size() >= value.size()) std::abort();  // the last character is never kept alone
  }
  const std::string temp = kestrane::MakeTempName(value);
  if (temp.size() != value.size() + 1 || temp.find('~') == std::string::npos) std::abort();
  return 0;
}
