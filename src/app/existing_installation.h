#pragma once

namespace vorlatch {

// Looks for an installation in the chosen directory and asks whether to repair it.
// 1: install, 0: stop, -1: choose another directory.
int CheckExistingInstallation();

}  // namespace vorlatch
