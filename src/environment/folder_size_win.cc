#include "environment/folder_size_win.h"

#include <windows.h>

#include <string>
#include <vector>

#include "environment/folder_size.h"
#include "installfolder/folder_handle_win.h"

namespace kestrane {
namespace {

// A folder lists at most this many entries and the walk visits at most this many folders,
// so that no tree, however it was made, keeps the run going without end.
constexpr size_t kMaxEntriesPerFolder = size_t{1} << 20;
constexpr size_t kMaxFolders = size_t{1} << 20;
// The native calls take names of at most this many characters.
constexpr size_t kLongestRelativeName = 32767;

bool IsDotEntry(const std::u16string& name) { return name == u"." || name == u".."; }

// Adds the files of one folder to the total and appends its subfolders, by their names
// relative to the held folder, to pending. A folder that cannot be listed contributes what
// it listed before the failure.
void MeasureOneFolder(HANDLE listed, const std::u16string& relative, SizeTotal& total,
                      std::vector<std::u16string>& pending) {
  std::vector<FolderEntry> entries;
  ListFolder(listed, kMaxEntriesPerFolder, &entries);
  for (const FolderEntry& entry : entries) {
    if (!MatchesAttributeMask(entry.attributes, kFolderWalkAttributeMask)) continue;
    if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      total.Add(entry.size);
    } else if (!IsDotEntry(entry.name) && (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      // A junction or directory link may lead back up the tree or into a tree measured
      // elsewhere; only real subfolders are visited, so each folder is counted once.
      std::u16string name = relative.empty() ? entry.name : relative + u'\\' + entry.name;
      if (name.size() <= kLongestRelativeName) pending.push_back(std::move(name));
    }
  }
}

}  // namespace

int32_t FolderSizeKiB(HANDLE folder) {
  SizeTotal total;
  // Breadth-first: folders are visited in the order they were found, without recursion;
  // each is opened relative to the held folder, never by a full path.
  std::vector<std::u16string> pending;
  MeasureOneFolder(folder, std::u16string(), total, pending);
  for (size_t next = 0; next < pending.size() && next < kMaxFolders; ++next) {
    NativeOpen how;
    how.access = FILE_LIST_DIRECTORY;
    how.share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    how.disposition = kNativeOpenExisting;
    // A subfolder made a link after it was listed is not followed.
    how.options = FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT;
    ScopedHandle subfolder;
    if (OpenInFolder(folder, pending[next], how, &subfolder) != ERROR_SUCCESS) continue;
    const std::u16string relative = pending[next];
    MeasureOneFolder(subfolder.get(), relative, total, pending);
  }
  return total.KiB();
}

int32_t FolderSizeKiB(const std::u16string& folder) {
  if (folder.empty()) return -1;
  const HeldFolder held(folder);
  if (!held.held()) return -1;
  return FolderSizeKiB(held.get());
}

}  // namespace kestrane
