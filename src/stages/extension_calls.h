#pragma once

namespace vorlatch {

// Calls the package's extension function before installing, then runs the installation.
// Returns the install driver's result (nonzero: installed).
int RunBeforeExtensionAndInstall();

}  // namespace vorlatch
