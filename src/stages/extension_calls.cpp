#include "stages/extension_calls.h"

#include "actions/install_driver.h"

namespace vorlatch {

// Stand-in until extension calls are built: no extension function, straight to installing.
int RunBeforeExtensionAndInstall() { return RunInstallation(); }

}  // namespace vorlatch
