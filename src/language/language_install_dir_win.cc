// Binds the language lookups to the discovered install folder. Kept apart from the lookups
// so that the portable code does not depend on environment discovery: native builds give
// the lookups a folder of their own instead.
#include "environment/install_environment.h"
#include "language/language_files.h"

namespace kestrane {

const std::string& LanguageInstallDir() { return g_installEnvironment.InstallDir; }

}  // namespace kestrane
