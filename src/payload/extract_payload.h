// Writing a resource of the installer's own file to a target file.
#pragma once

#include <string>

namespace kestrane {

// Writes the resource (name, type) of the running module to target. In plain mode the bytes
// go to a temporary file beside the target that then replaces it in one step. Guarded mode
// writes a missing target directly and asks before an older file replaces a newer one
// (WriteGuarded). The write waits for other installer runs to finish theirs (InstallLock);
// a wait that runs out counts as a failed write. Every failure is reported ("Can't install
// file " + target) and leaves the target's old bytes; returns true only when the new bytes
// are in place.
bool ExtractPayload(const std::string& resource_name, const std::string& resource_type,
                    const std::string& target, bool guarded);

}  // namespace kestrane
