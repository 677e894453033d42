#include "environment/folder_size_win.h"

#include <windows.h>

#include <string>
#include <vector>

#include "environment/folder_size.h"
#include "startup/startup_settings.h"

namespace kestrane {
namespace {

// Closes a find handle on every path.
class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Adds the files of one folder to the total and appends its subfolders to pending. A folder
// that cannot be enumerated contributes nothing.
void MeasureOneFolder(const std::string& folder, SizeTotal& total,
                      std::vector<std::string>& pending) {
  WIN32_FIND_DATAA entry;
  FindHandle find(FindFirstFileA((folder + "*.*").c_str(), &entry));
  if (find.get() == INVALID_HANDLE_VALUE) return;
  do {
    if (!MatchesAttributeMask(entry.dwFileAttributes, kFolderWalkAttributeMask)) continue;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      total.Add(FileSizeFromHalves(entry.nFileSizeHigh, entry.nFileSizeLow));
    } else if (!IsDotEntry(entry.cFileName) &&
               (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      // A junction or directory link may lead back up the tree or into a tree measured
      // elsewhere; only real subfolders are visited, so each folder is counted once.
      pending.push_back(folder + entry.cFileName + '\\');
    }
  } while (FindNextFileA(find.get(), &entry));
}

}  // namespace

int32_t FolderSizeKiB(const std::string& folder) {
  if (folder.empty()) return -1;
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return -1;
  }
  // Breadth-first: folders are visited in the order they were found, without recursion.
  SizeTotal total;
  std::vector<std::string> pending{AddBackslash(folder)};
  for (size_t next = 0; next < pending.size(); ++next) {
    const std::string current = pending[next];
    MeasureOneFolder(current, total, pending);
  }
  return total.KiB();
}

}  // namespace kestrane
