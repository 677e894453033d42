// Native stand-in for the installer's install folder as the language lookups see it: tests
// point it at a folder of their own.
#pragma once

#include <string>

namespace kestrane {

// Ends with the path separator the lookups append "language\" to.
extern std::string g_testLanguageInstallDir;

}  // namespace kestrane
