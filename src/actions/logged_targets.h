#pragma once
// How the uninstaller reads the targets of a log: where its macros are on this system, and which
// of them are the installation's own. Apart from the installer's bookkeeping of its targets, so
// that the uninstaller carries only these.

#include <string>

#include "uninstaller/uninstall_text.h"

namespace vorlatch {

// The folders of the path macros on this system, with `installationFolder` made absolute as
// the file calls resolve it ("[BID]").
MacroFolders MacroFoldersOfSystem(const std::string& installationFolder);

// Entry n of a log: the target is to be removed by the uninstaller. A pre-existing target
// only when it was replaced.
bool IsTargetOurs(bool existed, bool replaced);

}  // namespace vorlatch
