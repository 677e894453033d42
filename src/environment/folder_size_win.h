// The installed size: the folder tree measured through the native directory listing, each
// subfolder opened relative to the held install folder, names in UTF-16 so that every name
// inside it is found again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kestrane {

// Returns the summed size of every file in the tree of the open folder (list access) in KiB
// (rounded down, at most 0x7FFFFFFF). Links and junctions inside it are not followed.
int32_t FolderSizeKiB(HANDLE folder);

// The same for a folder named by its full path, held while it is measured; returns -1 when
// the name is empty or names no existing folder.
int32_t FolderSizeKiB(const std::u16string& folder);

}  // namespace kestrane
