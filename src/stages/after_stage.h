#pragma once

namespace vorlatch {

// The extension call, INI entries, success message and closing screen after installing.
// Nonzero: go on.
int AfterScreen();

// Opens or runs the After file.
void AfterRun();

}  // namespace vorlatch
