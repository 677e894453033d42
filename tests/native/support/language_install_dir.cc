#include "language_install_dir.h"

#include "language/language_files.h"

namespace kestrane {

std::string g_testLanguageInstallDir;

const std::string& LanguageInstallDir() { return g_testLanguageInstallDir; }

}  // namespace kestrane
