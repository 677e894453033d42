#include "test_files.h"

#include <windows.h>

#include <vector>

namespace kestrane {
namespace {

constexpr DWORD kPollMilliseconds = 20;
constexpr int kPolls = 250;  // 5 s

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Polls until done() holds or 5 s have passed; returns done().
template <typename Done>
bool WaitFor(Done done) {
  for (int poll = 0; poll < kPolls && !done(); ++poll) Sleep(kPollMilliseconds);
  return done();
}

uint64_t TotalBytesOf(const std::string& folder) {
  ULARGE_INTEGER available, total, free;
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, &total, &free)) return 0;
  return total.QuadPart;
}

}  // namespace

std::string MakeTestFolder(const std::string& name) {
  char temp[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length >= sizeof temp) return std::string();
  std::string folder = std::string(temp, length) + "kestrane_" + name + "_" +
                       std::to_string(GetCurrentProcessId()) + "\\";
  RemoveTree(folder);
  if (!CreateDirectoryA(folder.c_str(), nullptr)) return std::string();
  return folder;
}

namespace {

void RemoveTreeEntry(const std::string& folder) {
  std::string root = folder;
  if (!root.empty() && root.back() == '\\') root.pop_back();
  const DWORD attributes = GetFileAttributesA(root.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link: remove the link itself, never what it points to.
    if (!RemoveDirectoryA(root.c_str()) && !DeleteFileA(root.c_str())) {
      RunUnixProgram("Z:\\bin\\rm", "rm " + Quoted(UnixPath(root)));
      WaitFor([&] { return !PathExists(root); });
    }
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetFileAttributesA(root.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(root.c_str());
    return;
  }
  std::vector<std::string> entries;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((root + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name != "." && name != "..") entries.push_back(root + "\\" + name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  for (const std::string& path : entries) RemoveTreeEntry(path);
  RemoveDirectoryA(root.c_str());
}

}  // namespace

void RemoveTree(const std::string& folder) {
  RemoveTreeEntry(folder);
  std::string root = folder;
  if (!root.empty() && root.back() == '\\') root.pop_back();
  if (!PathExists(root)) return;
  // Wine lists no Unix link whose target is gone (one into a sibling folder removed before
  // it), so the walk cannot see it and its folder stays; a later run whose process number
  // repeated could then not make that folder again. rm removes links, never their targets.
  RunUnixProgram("Z:\\bin\\rm", "rm -r " + Quoted(UnixPath(root)));
  WaitFor([&] { return !PathExists(root); });
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  return CloseHandle(file) && ok;
}

bool ReadBytes(const std::string& path, std::string* bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buffer[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) {
    bytes->append(buffer, got);
  }
  CloseHandle(file);
  return ok;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string UnixPath(const std::string& windows_path) {
  using UnixFileNameFn = char*(CDECL*)(const wchar_t*);
  auto unix_file_name = reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unix_file_name == nullptr) return std::string();
  const int length = MultiByteToWideChar(CP_ACP, 0, windows_path.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::string();
  std::vector<wchar_t> wide(length);
  MultiByteToWideChar(CP_ACP, 0, windows_path.c_str(), -1, wide.data(), length);
  char* name = unix_file_name(wide.data());
  if (name == nullptr) return std::string();
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool RunUnixProgram(const std::string& program, const std::string& command_line) {
  if (UnixPath("C:\\").empty()) return false;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  // Wine starts a Unix program without a Windows process: it answers with no process handle
  // and leaves the thread handle as junk, which may name a handle of ours (a 32-bit process
  // lost its cached HKEY_LOCAL_MACHINE that way). Nothing can be waited on or closed then;
  // callers check the program's effect.
  if (process.hProcess == nullptr) return true;
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool MakeDirectoryLink(const std::string& link, const std::string& target) {
  const std::string unix_link = UnixPath(link);
  if (unix_link.empty()) return false;
  if (!RunUnixProgram("Z:\\bin\\ln", "ln -s " + Quoted(target) + " " + Quoted(unix_link))) {
    return false;
  }
  return WaitFor([&] { return PathExists(link); });
}

bool MakeSymbolicLink(const std::string& link, const std::string& unix_target) {
  const std::string unix_link = UnixPath(link);
  if (unix_link.empty() || unix_target.empty()) return false;
  if (!RunUnixProgram("Z:\\bin\\ln", "ln -s " + Quoted(unix_target) + " " + Quoted(unix_link))) {
    return false;
  }
  return WaitFor([&] { return PathExists(link); });
}

bool MakeHardLink(const std::string& link, const std::string& target) {
  return CreateHardLinkA(link.c_str(), target.c_str(), nullptr) != FALSE;
}

bool RemoveSymbolicLink(const std::string& link) {
  const std::string unix_link = UnixPath(link);
  if (unix_link.empty() || !RunUnixProgram("Z:\\bin\\rm", "rm -f " + Quoted(unix_link))) {
    return false;
  }
  // A link that leads nowhere cannot be seen from here; one that leads to a file can.
  return WaitFor([&] { return !PathExists(link); });
}

bool MountSmallDisk(const std::string& folder, uint32_t bytes) {
  const std::string unix_folder = UnixPath(folder);
  if (unix_folder.empty()) return false;
  if (!RunUnixProgram("Z:\\bin\\mount", "mount -t tmpfs -o size=" + std::to_string(bytes) +
                                            " tmpfs " + Quoted(unix_folder))) {
    return false;
  }
  return WaitFor([&] { return TotalBytesOf(folder) == bytes; });
}

namespace {

// Whether /proc/mounts lists a read-only file system mounted at unix_folder.
bool IsMountedReadOnly(const std::string& unix_folder) {
  HANDLE file = CreateFileA("Z:\\proc\\mounts", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string table;
  char chunk[4096];
  DWORD got = 0;
  while (table.size() < (1u << 20) && ReadFile(file, chunk, sizeof chunk, &got, nullptr) &&
         got > 0) {
    table.append(chunk, got);
  }
  CloseHandle(file);
  // Wine names the folder through its drive link (prefix/dosdevices/c:/...), the table by
  // the resolved path (prefix/drive_c/...): compare what follows the drive.
  std::string tail = unix_folder;
  const size_t drive = tail.find("/dosdevices/");
  if (drive != std::string::npos) {
    const size_t colon = tail.find(':', drive);
    if (colon != std::string::npos) tail = tail.substr(colon + 1);
  }
  while (!tail.empty() && tail.back() == '/') tail.pop_back();
  if (tail.empty()) return false;
  // A line reads "source mount-point type options ...".
  const std::string point = tail + " ";
  for (size_t start = 0; start < table.size();) {
    size_t end = table.find('\n', start);
    if (end == std::string::npos) end = table.size();
    const std::string line = table.substr(start, end - start);
    const size_t at = line.find(point);
    if (at != std::string::npos) {
      const size_t options = line.find(' ', at + point.size());
      if (options != std::string::npos && line.compare(options + 1, 3, "ro,") == 0) return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

bool RemountReadOnly(const std::string& folder) {
  const std::string unix_folder = UnixPath(folder);
  if (unix_folder.empty()) return false;
  if (!RunUnixProgram("Z:\\bin\\mount", "mount -o remount,ro " + Quoted(unix_folder))) {
    return false;
  }
  // Read from the mount table, not by trying a write: a 32-bit process cannot wait for the
  // mount program, and a probe file open for writing at the moment it runs makes the remount
  // fail as busy.
  return WaitFor([&] { return IsMountedReadOnly(unix_folder); });
}

void UnmountSmallDisk(const std::string& folder) {
  const std::string unix_folder = UnixPath(folder);
  if (unix_folder.empty()) return;
  const uint64_t mounted = TotalBytesOf(folder);
  // Lazily, so that a handle Wine still holds cannot keep the disk mounted.
  RunUnixProgram("Z:\\bin\\umount", "umount -l " + Quoted(unix_folder));
  WaitFor([&] { return TotalBytesOf(folder) != mounted; });
}

}  // namespace kestrane
