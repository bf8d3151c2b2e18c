#pragma once
// Targets that another program holds open: the message names the program where the system
// can tell (Restart Manager), and [File] InUse=restart (the unattended default) writes the new
// file beside the old one and puts it in place at the next restart instead of asking.

#include <string>

#include <windows.h>

#include "package/format.h"
#include "package/item_extraction.h"
#include "script/script_access.h"

namespace vorlatch {

// Whether a failed delete or open of an existing file means that another program holds it.
bool IsHeldError(DWORD error);

// Whether another program holds `path` so that it cannot be written now.
bool HeldByAnotherProgram(const std::string& path);

// The programs that hold `path` as the Restart Manager names them ("a, b"); empty where the
// system cannot tell (also where rstrtmgr.dll is missing).
std::string ProgramsHolding(const std::string& path);

// "Can't remove <target>", with a second line that says why when another program holds it.
std::string CantRemoveText(const std::string& target, bool held);

// InUse=restart, or an unattended run without InUse=ask.
bool ReplacesAtRestart(const IniSection& files);

// Writes `item` beside `target` under a new name and asks the system to put it in place at the
// next restart; the uninstall log learns the new file's name (Pending<n>), so that an
// uninstallation before the restart removes it. False, with nothing left behind, when either
// step fails.
bool ReplaceAtRestart(Bytes item, const std::string& target, int n, PieceObserver* observer);

}  // namespace vorlatch
