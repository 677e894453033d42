// Environment discovery on the running system: the folders Windows names, the shell folders
// and the host's uninstall registration read through the process's registry handle.
#pragma once

#include <string>

#include "environment/install_environment.h"
#include "startup/registry_win.h"

namespace kestrane {

// Fills *environment for the host application program_name, reading the registry through
// registry. Returns false after reporting a registry failure while reading the user's shell
// folders; true otherwise. Lets a RegistryError of any other value pass.
bool DiscoverEnvironment(RegistryHandle& registry, const std::string& program_name,
                         InstallEnvironment* environment);

}  // namespace kestrane
