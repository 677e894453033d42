// The decisions of the payload writer that depend only on what it found: whether what sits at
// the temporary name beside the target may be removed, and whether a failed replace of the
// target is worth waiting for.
#pragma once

#include <cstdint>
#include <string>

namespace kestrane {

// File attribute bits as Windows reports them.
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeDevice = 0x40;
constexpr uint32_t kAttributeReparsePoint = 0x400;

// What answers to the temporary name, read through a handle opened without following a link.
struct TemporaryNameEntry {
  uint32_t attributes = 0;
  uint32_t link_count = 0;  // names the file has (hard links)
  // The file the handle reached is the entry of the target's folder under that name. Wine
  // follows a Unix symbolic link even when asked not to, and shows it without the reparse
  // point attribute; the link's target then has a path of its own.
  bool in_place = false;
};

// Returns true only for a plain file of ours left there by an earlier run (whatever its
// read-only, hidden or system attributes): not a folder, device, link or junction, one name
// only, found at its own place. Anything else is neither followed nor removed.
bool IsLeftoverOfOurs(const TemporaryNameEntry& entry);

// Returns true when entry (a full path as GetFinalPathNameByHandle gives it) names the file
// name in folder (the folder's full path in the same form): the folder with a backslash, then
// the name, letters A to Z compared without regard to case as the file system does.
bool IsEntryOfFolder(const std::u16string& entry, const std::u16string& folder,
                     const std::u16string& name);

// Win32 error codes the replace meets.
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorLockViolation = 33;

// Returns true when a failed replace of the target means that another process holds the
// target, which a process that is quitting lets go of: Windows reports a sharing or lock
// violation; Wine reports "access denied" for a target that is open anywhere, which then
// counts only when opening the target for deletion is refused for sharing (a read-only or
// protected target is refused in other ways and is not waited for).
bool MeansHeldByAnotherProcess(uint32_t replace_error, bool delete_refused_for_sharing);

// The replace of a held target is tried again for at most this long in all, every poll.
constexpr uint32_t kReplaceRetryMillis = 10000;
constexpr uint32_t kReplacePollMillis = 200;

}  // namespace kestrane
