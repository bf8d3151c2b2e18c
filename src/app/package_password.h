#pragma once

namespace vorlatch {

// Asks for the package password when the package is protected. Nonzero: go on.
int CheckPackagePassword();

}  // namespace vorlatch
