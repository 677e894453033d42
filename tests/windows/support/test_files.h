// Files and folders for the tests under Wine: fresh folders in the temp folder, whole-file
// reads and writes, and the few Unix tools (ln, mount) that Wine lets a Windows program run
// for setting up links and a small full disk.
#pragma once

#include <cstdint>
#include <string>

namespace kestrane {

// Returns a new, empty folder (with its backslash) in the temp folder, named after the test;
// an older folder of that name is removed first. Empty on failure.
std::string MakeTestFolder(const std::string& name);

// Removes a folder tree. Directory links are removed without following them.
void RemoveTree(const std::string& folder);

bool WriteBytes(const std::string& path, const std::string& bytes);
// Returns false when the file cannot be opened for reading.
bool ReadBytes(const std::string& path, std::string* bytes);
bool PathExists(const std::string& path);

// Returns the Unix path of a Windows path under Wine, or an empty text elsewhere.
std::string UnixPath(const std::string& windows_path);

// Runs a Unix program (a Windows path such as Z:\bin\ln) with the command line under Wine.
// Returns false when it cannot be started. Wine gives no handle to wait on and does not pass
// the program's exit code on, so callers wait for the program's effect.
bool RunUnixProgram(const std::string& program, const std::string& command_line);

// Makes link a Unix symbolic link to target (a path relative to the link's folder, as ln -s
// takes it) and waits until Wine shows it. Returns false when that cannot be done here.
bool MakeDirectoryLink(const std::string& link, const std::string& target);

// Makes link a Unix symbolic link to target (a Unix path) and waits until Wine shows it, or a
// second name (hard link) of the file target (a Windows path). Return false when that cannot
// be done here.
bool MakeSymbolicLink(const std::string& link, const std::string& unix_target);
bool MakeHardLink(const std::string& link, const std::string& target);
// Removes a Unix symbolic link itself: Wine's DeleteFile deletes the file it leads to and
// leaves the link. Returns false when the link is still there after 10 s.
bool RemoveSymbolicLink(const std::string& link);

// Mounts a tmpfs of the given size on the existing folder and waits until Windows sees its
// size. Returns false when mounting is not possible here (not under Wine, not root).
bool MountSmallDisk(const std::string& folder, uint32_t bytes);
// Makes a mounted small disk read-only and waits until no file can be made on it.
bool RemountReadOnly(const std::string& folder);
void UnmountSmallDisk(const std::string& folder);

}  // namespace kestrane
