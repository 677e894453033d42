// The installed size: the folder tree measured through the Windows directory enumeration.
#pragma once

#include <cstdint>
#include <string>

namespace kestrane {

// Returns the summed size of every file in the folder tree in KiB (rounded down, at most
// 0x7FFFFFFF), or -1 when the name is empty or names no existing folder.
int32_t FolderSizeKiB(const std::string& folder);

}  // namespace kestrane
