// Writing a file so that a failure never leaves it truncated or missing: the new bytes go to
// a temporary file beside the target, which then replaces the target in one step. Every name
// is resolved inside the held install folder (HeldFolder), never by a full path, so the folder
// cannot be exchanged for another between the steps.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "installfolder/folder_handle_win.h"
#include "startup/scoped_handle_win.h"

namespace kestrane {

// Writes all bytes at the file's position, in pieces WriteFile can take. Returns false when
// a write fails or makes no progress.
bool WriteAllBytes(HANDLE file, const void* bytes, size_t size);

// Returns true when name inside folder is a file that exists (not a folder).
bool IsExistingFileIn(HANDLE folder, const std::u16string& name);

// Writes bytes to name inside folder as a new file of ours and flushes them to disk. A plain
// file left at that name by an earlier run is removed first, whatever its attributes; anything
// else there (a link or junction, a folder, a file with further names, a file someone holds
// open) is neither followed nor removed, and the call fails. The file is created exclusively,
// so the bytes never go through a link. Returns true with *file the open new file (delete
// access, no sharing), so that it can be moved or removed through its own handle; on failure
// a file this call created has been removed again.
bool WriteTemporaryFile(const void* bytes, size_t size, HANDLE folder, const std::u16string& name,
                        ScopedHandle* file);

// Opens name inside folder again for the move or the removal of a temporary file this run
// wrote and closed: only a plain file of ours, found in place (the same test as for a
// leftover). Returns false when anything else answers to the name.
bool ReopenTemporaryFile(HANDLE folder, const std::u16string& name, ScopedHandle* file);

// Moves the open file (delete access) over target_name inside folder in one step, replacing
// it when it exists. While another process holds the target (a host that is quitting), the
// move is tried again for up to kReplaceRetryMillis in all. Returns false when the move fails
// for good (target held past that time, read-only, a folder) or target is a read-only file;
// both files are then as they were.
bool ReplaceFileWith(HANDLE source, HANDLE folder, const std::u16string& target_name);

// Removes the open file (delete access) through its own handle, closing it. Returns false
// when it could not be marked for deletion.
bool RemoveThroughHandle(ScopedHandle& file);

// Writes bytes to MakeTempName(target_name) inside folder (WriteTemporaryFile) and moves that
// file over target_name. Returns true when the target holds the new bytes; on failure it
// keeps its old bytes (or stays absent) and no temporary file of this call is left.
bool WriteFileReplacing(const void* bytes, size_t size, HANDLE folder,
                        const std::u16string& target_name);

}  // namespace kestrane
