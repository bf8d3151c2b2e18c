#include "actions/install_driver.h"

namespace vorlatch {

// Stand-in until the install driver is built: nothing to install.
int RunInstallation() { return 1; }

}  // namespace vorlatch
