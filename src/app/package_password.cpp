#include "app/package_password.h"

namespace vorlatch {

// Stand-in until password protection is built: no package is protected.
int CheckPackagePassword() { return 1; }

}  // namespace vorlatch
