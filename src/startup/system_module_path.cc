#include "startup/system_module_path.h"

#include <cstddef>

#include "startup/startup_settings.h"
#include "startup/ascii_case.h"

namespace kestrane {
namespace {

// Returns true when `path` starts with `folder` (already ending in a backslash), letters
// compared without case.
bool StartsWithFolder(const std::string& path, const std::string& folder) {
  if (folder.size() < 2 || path.size() <= folder.size()) return false;
  return LowerAsciiLetters(path.substr(0, folder.size())) == LowerAsciiLetters(folder);
}

// Returns true when some segment between backslashes is "." or "..": such a path could lead
// out of the folder it seems to lie in.
bool HasDotSegment(const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(start, end - start);
    if (segment == "." || segment == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool IsBareDllName(const std::string& dll_name) {
  if (dll_name.empty() || dll_name == "." || dll_name == "..") return false;
  return dll_name.find_first_of("\\/:") == std::string::npos;
}

bool IsSystemModuleFile(const std::string& module_file,
                        const std::vector<std::string>& system_folders,
                        const std::string& side_by_side_store) {
  // A forward slash, a stream name or a dot segment has no place in a loaded module's name.
  if (module_file.find('/') != std::string::npos || module_file.find(':', 2) != std::string::npos ||
      HasDotSegment(module_file)) {
    return false;
  }
  for (const std::string& system_folder : system_folders) {
    if (system_folder.empty()) continue;
    const std::string folder = AddBackslash(system_folder);
    // Directly in the folder: its subfolders (spool\drivers, Tasks) are not all the system's.
    if (StartsWithFolder(module_file, folder) &&
        module_file.find('\\', folder.size()) == std::string::npos) {
      return true;
    }
  }
  return !side_by_side_store.empty() &&
         StartsWithFolder(module_file, AddBackslash(side_by_side_store));
}

}  // namespace kestrane
