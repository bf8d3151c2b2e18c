#include "app/existing_installation.h"

namespace vorlatch {

// Stand-in until the check is built: every directory is new.
int CheckExistingInstallation() { return 1; }

}  // namespace vorlatch
