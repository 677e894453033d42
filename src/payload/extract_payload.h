// Writing a resource of the installer's own file to a target file.
#pragma once

#include <string>

namespace kestrane {

// Held by the caller; the Win32 side is declared in installfolder/folder_handle_win.h.
class HeldFolder;

// Writes the resource (name, type) of the running module to target. In plain mode the bytes
// go to a temporary file beside the target that then replaces it in one step. Guarded mode
// writes a missing target directly and asks before an older file replaces a newer one
// (WriteGuarded). The write waits for other installer runs to finish theirs (InstallLock);
// a wait that runs out counts as a failed write. Every failure is reported ("Can't install
// file " + target) and leaves the target's old bytes; returns true only when the new bytes
// are in place.
//
// Every file is reached inside folder, the install folder the caller holds; a folder that is
// not held counts as a failed write, and nothing is created. The report names the target by
// its full path, folder.path() + target_name, in every character.
bool ExtractPayload(const std::string& resource_name, const std::string& resource_type,
                    const HeldFolder& folder, const std::u16string& target_name, bool guarded);

}  // namespace kestrane
