#pragma once

namespace vorlatch {

// The installation proper: uninstaller, log, registry, shortcuts, files. Nonzero: installed.
int RunInstallation();

}  // namespace vorlatch
