#include "payload/guarded_write.h"

#include <windows.h>

#include <string>
#include <utility>

#include "payload/temp_name.h"
#include "payload/older_version.h"
#include "payload/safe_write_win.h"
#include "payload/version_probes.h"
#include "progress/progress_window_win.h"
#include "startup/scoped_handle_win.h"
#include "startup/system_texts_win.h"

namespace kestrane {
namespace {

enum class NewFileOutcome { kWritten, kAlreadyExists, kFailed };

// The new file written beside the target; removed when it goes out of scope unless it has
// been moved into place, so that no failure or "no" leaves it behind. Only a file this run
// wrote is ever removed: whatever stopped the write at that name is left alone.
class TemporaryCopy {
 public:
  // Writes the copy (WriteTemporaryFile); written() tells whether it is there.
  TemporaryCopy(const void* bytes, size_t size, std::string path) {
    if (WriteTemporaryFile(bytes, size, path)) path_ = std::move(path);
  }
  ~TemporaryCopy() { Remove(); }
  TemporaryCopy(const TemporaryCopy&) = delete;
  TemporaryCopy& operator=(const TemporaryCopy&) = delete;
  bool written() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  // The file is the target now; nothing to remove.
  void MovedIntoPlace() { path_.clear(); }
  void Remove() {
    // A copy that cannot be removed is left behind: the target is intact either way, and the
    // next write to this name removes it first.
    if (!path_.empty()) DeleteFileA(path_.c_str());
    path_.clear();
  }

 private:
  std::string path_;
};

// Writes bytes to a target that does not exist, straight under its own name: there is no
// old file to protect, so no temporary copy. A file that appeared meanwhile is never opened
// (kAlreadyExists); a failed write removes the partial file this call created.
NewFileOutcome WriteNewFile(const void* bytes, size_t size, const std::string& target) {
  ScopedHandle file(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
               ? NewFileOutcome::kAlreadyExists
               : NewFileOutcome::kFailed;
  }
  const bool written = WriteAllBytes(file.get(), bytes, size) && FlushFileBuffers(file.get());
  if (file.Close() && written) return NewFileOutcome::kWritten;
  DeleteFileA(target.c_str());
  return NewFileOutcome::kFailed;
}

FileVersion ReadVersion(VersionKind kind, const std::string& path) {
  FileVersion version;
  switch (kind) {
    case VersionKind::kExecutable:
      version.text = ReadFileVersionText(path);
      break;
    case VersionKind::kPak:
      version.number = ReadPakVersion(path);
      break;
    case VersionKind::k3bs:
      version.number = Read3bsVersion(path);
      break;
    case VersionKind::kCok:
      version.number = ReadCokVersion(path);
      break;
    case VersionKind::kLng:
      version.number = ReadLngVersion(path);
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
                             const std::string& target) {
  if (!ComparesVersions(kind, target)) return Outcome(WriteFileReplacing(bytes, size, target));

  TemporaryCopy copy(bytes, size, MakeTempName(target));
  if (!copy.written()) return WriteOutcome::kFailed;
  // Both versions come from disk, the new one from the copy just written.
  const FileVersion new_version = ReadVersion(kind, copy.path());
  const FileVersion existing = ReadVersion(kind, target);
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
  // On failure the copy goes with this scope and the target keeps its bytes; the window
  // stays hidden while the failure is reported.
  if (!ReplaceFileWith(copy.path(), target)) return WriteOutcome::kFailed;
  copy.MovedIntoPlace();
  if (older) ShowProgressWindow("", "");
  return WriteOutcome::kWritten;
}

}  // namespace

WriteOutcome WriteGuarded(const void* bytes, size_t size, const std::string& resource_type,
                          const std::string& target) {
  if (!IsExistingFile(target)) {
    switch (WriteNewFile(bytes, size, target)) {
      case NewFileOutcome::kWritten:
        return WriteOutcome::kWritten;
      case NewFileOutcome::kFailed:
        return WriteOutcome::kFailed;
      case NewFileOutcome::kAlreadyExists:
        break;  // it appeared after the look: guard it like any existing file
    }
  }
  return ReplaceExisting(bytes, size, VersionKindOf(resource_type), target);
}

}  // namespace kestrane
