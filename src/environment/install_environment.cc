#include "environment/install_environment.h"

namespace kestrane {

InstallEnvironment g_installEnvironment;

}  // namespace kestrane
