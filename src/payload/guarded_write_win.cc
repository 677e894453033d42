#include "payload/guarded_write.h"

#include <windows.h>

#include <string>
#include <utility>

#include "payload/temp_name.h"
#include "payload/older_version.h"
#include "payload/safe_write_win.h"
#include "payload/version_probes.h"
#include "payload/version_probes_win.h"
#include "progress/progress_window_win.h"
#include "startup/scoped_handle_win.h"

namespace kestrane {
namespace {

enum class NewFileOutcome { kWritten, kAlreadyExists, kFailed };

// The new file written beside the target; removed when it goes out of scope unless it has
// been moved into place, so that no failure or "no" leaves it behind. Only a file this run
// wrote is ever removed: whatever stopped the write at that name is left alone.
class TemporaryCopy {
 public:
  // Writes the copy (WriteTemporaryFile) and closes it, so that the version probes can open
  // it; written() tells whether it is there.
  TemporaryCopy(const void* bytes, size_t size, const HeldFolder& folder, std::u16string name)
      : folder_(folder) {
    ScopedHandle file;
    if (!WriteTemporaryFile(bytes, size, folder.get(), name, &file)) return;
    if (!file.Close()) {
      ReopenAndRemove(name);
      return;
    }
    name_ = std::move(name);
  }
  ~TemporaryCopy() { Remove(); }
  TemporaryCopy(const TemporaryCopy&) = delete;
  TemporaryCopy& operator=(const TemporaryCopy&) = delete;
  bool written() const { return !name_.empty(); }
  const std::u16string& name() const { return name_; }
  // Moves the copy over target_name; on success there is nothing left to remove.
  bool MoveOver(const std::u16string& target_name) {
    ScopedHandle file;
    // Reopened only when it is still the plain file of ours this run wrote.
    if (!ReopenTemporaryFile(folder_.get(), name_, &file)) return false;
    if (!ReplaceFileWith(file.get(), folder_.get(), target_name)) {
      RemoveThroughHandle(file);
      name_.clear();
      return false;
    }
    name_.clear();
    return true;
  }
  void Remove() {
    // A copy that cannot be removed is left behind: the target is intact either way, and the
    // next write to this name removes it first.
    if (!name_.empty()) ReopenAndRemove(name_);
    name_.clear();
  }

 private:
  void ReopenAndRemove(const std::u16string& name) {
    ScopedHandle file;
    if (ReopenTemporaryFile(folder_.get(), name, &file)) RemoveThroughHandle(file);
  }
  const HeldFolder& folder_;
  std::u16string name_;
};

// Writes bytes to a target that does not exist, straight under its own name: there is no
// old file to protect, so no temporary copy. A file that appeared meanwhile is never opened
// (kAlreadyExists); a failed write removes the partial file this call created, through its
// own handle.
NewFileOutcome WriteNewFile(const void* bytes, size_t size, HANDLE folder,
                            const std::u16string& target_name) {
  NativeOpen how;
  how.access = GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES;
  how.disposition = kNativeCreateNew;
  how.options = FILE_NON_DIRECTORY_FILE;
  ScopedHandle file;
  const DWORD error = OpenInFolder(folder, target_name, how, &file);
  if (error != ERROR_SUCCESS) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
               ? NewFileOutcome::kAlreadyExists
               : NewFileOutcome::kFailed;
  }
  const bool written = WriteAllBytes(file.get(), bytes, size) && FlushFileBuffers(file.get());
  if (!written) {
    RemoveThroughHandle(file);
    return NewFileOutcome::kFailed;
  }
  return file.Close() ? NewFileOutcome::kWritten : NewFileOutcome::kFailed;
}

// Reads the version of name inside the held folder: the data files relative to its handle;
// executables and language files by the full path, which the version functions and the
// language reader need, built from the held folder's path (nobody can rename it while held).
FileVersion ReadVersion(VersionKind kind, const HeldFolder& folder, const std::u16string& name) {
  FileVersion version;
  switch (kind) {
    case VersionKind::kExecutable:
      version.text = ReadFileVersionText(folder.path() + name);
      break;
    case VersionKind::kPak:
      version.number = ReadPakVersionIn(folder.get(), name);
      break;
    case VersionKind::k3bs:
      version.number = Read3bsVersionIn(folder.get(), name);
      break;
    case VersionKind::kCok:
      version.number = ReadCokVersionIn(folder.get(), name);
      break;
    case VersionKind::kLng:
      version.number = ReadLngVersion(folder.path() + name);
      break;
    case VersionKind::kNone:
      break;
  }
  return version;
}

WriteOutcome Outcome(bool written) {
  return written ? WriteOutcome::kWritten : WriteOutcome::kFailed;
}

// The target exists: write the new file beside it, compare, ask when it is older, and move
// it over the target in one step.
WriteOutcome ReplaceExisting(const void* bytes, size_t size, VersionKind kind,
                             const HeldFolder& folder, const std::u16string& target_name) {
  const std::u16string target = folder.path() + target_name;
  if (!ComparesVersions(kind, target)) {
    return Outcome(WriteFileReplacing(bytes, size, folder.get(), target_name));
  }

  TemporaryCopy copy(bytes, size, folder, MakeTempName(target_name));
  if (!copy.written()) return WriteOutcome::kFailed;
  // Both versions come from disk, the new one from the copy just written.
  const FileVersion new_version = ReadVersion(kind, folder, copy.name());
  const FileVersion existing = ReadVersion(kind, folder, target_name);
  const bool older = IsOlderFile(kind, new_version, existing);
  if (older) {
    // The question must not sit behind the topmost progress window.
    HideProgressWindow();
    const bool replace = AskToReplaceWithOlder(target, VersionForQuestion(kind, existing),
                                               VersionForQuestion(kind, new_version));
    if (!replace) {
      copy.Remove();
      ShowProgressWindow("", "");
      return WriteOutcome::kKept;
    }
  }
  // On failure the copy is gone and the target keeps its bytes; the window stays hidden
  // while the failure is reported.
  if (!copy.MoveOver(target_name)) return WriteOutcome::kFailed;
  if (older) ShowProgressWindow("", "");
  return WriteOutcome::kWritten;
}

}  // namespace

WriteOutcome WriteGuarded(const void* bytes, size_t size, const std::string& resource_type,
                          const HeldFolder& folder, const std::u16string& target_name) {
  if (!IsExistingFileIn(folder.get(), target_name)) {
    switch (WriteNewFile(bytes, size, folder.get(), target_name)) {
      case NewFileOutcome::kWritten:
        return WriteOutcome::kWritten;
      case NewFileOutcome::kFailed:
        return WriteOutcome::kFailed;
      case NewFileOutcome::kAlreadyExists:
        break;  // it appeared after the look: guard it like any existing file
    }
  }
  return ReplaceExisting(bytes, size, VersionKindOf(resource_type), folder, target_name);
}

}  // namespace kestrane
