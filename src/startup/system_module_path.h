// Which module files count as the system's own: the rule SystemFunction applies to a loaded
// DLL's file before it uses any of its functions.
#pragma once

#include <string>
#include <vector>

namespace kestrane {

// Returns true when `dll_name` is a bare file name ("version.dll"): not empty, no folder,
// no drive and no stream, so that only the system folder can supply it.
bool IsBareDllName(const std::string& dll_name);

// Returns true when `module_file` lies directly in one of `system_folders` (the system
// folder, and on 64-bit Windows its 32-bit twin) or anywhere below `side_by_side_store`
// (<Windows>\WinSxS, where the manifest's common controls 6 live). Letters compare without
// case; a file name with "." or ".." segments or an empty folder never counts.
bool IsSystemModuleFile(const std::string& module_file,
                        const std::vector<std::string>& system_folders,
                        const std::string& side_by_side_store);

}  // namespace kestrane
