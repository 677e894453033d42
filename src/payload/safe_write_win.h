// Writing a file so that a failure never leaves it truncated or missing: the new bytes go to
// a temporary file beside the target, which then replaces the target in one step.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace kestrane {

// Writes all bytes at the file's position, in pieces WriteFile can take. Returns false when
// a write fails or makes no progress.
bool WriteAllBytes(HANDLE file, const void* bytes, size_t size);

// Writes bytes to path as a new file of ours and flushes them to disk. A plain file left at
// path by an earlier run is removed first, whatever its attributes; anything else there (a
// link or junction, a folder, a file with further names, a file someone holds open) is
// neither followed nor removed, and the call fails. The file is created exclusively, so the
// bytes never go through a link. Returns true when the file holds all the bytes, with normal
// attributes; on failure a file this call created is removed again.
bool WriteTemporaryFile(const void* bytes, size_t size, const std::string& path);

// Moves source over target in one step, replacing target when it exists. While another
// process holds target (a host that is quitting), the move is tried again for up to
// kReplaceRetryMillis in all. Returns false when the move fails for good (target held past
// that time, read-only, on another volume) or target is a read-only file; both files are then
// as they were.
bool ReplaceFileWith(const std::string& source, const std::string& target);

// Writes bytes to MakeTempName(target) (WriteTemporaryFile) and moves that file over target.
// Returns true when target holds the new bytes; on failure target keeps its old bytes (or
// stays absent) and no temporary file of this call is left.
bool WriteFileReplacing(const void* bytes, size_t size, const std::string& target);

}  // namespace kestrane
