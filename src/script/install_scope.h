#pragma once
// Whom an installation is for: the whole machine (the default) or the user who runs it. A
// per-user installation needs no administrator: its uninstall entry and file types go under
// HKEY_CURRENT_USER, and it writes nothing under HKEY_LOCAL_MACHINE or the system folders.

#include <string>

#include <windows.h>

namespace vorlatch {

// The values of [General] Scope (any case).
inline constexpr char kScopeUser[] = "user";
inline constexpr char kScopeMachine[] = "machine";

// [General] Scope=user in the script.
bool UserScope();
// Start Menu group and Desktop shortcut in the folders of all users: [File] AllUsers nonzero
// in a machine-wide installation.
bool CommonShortcutFolders();

// Where the uninstall entry goes for either scope, and the root's name for the record.
HKEY UninstallEntryRoot(bool user);
const char* UninstallEntryRootName(bool user);
// Where file types go: the user's own classes, or the classes of the machine.
const char* FileTypesRoot(bool user);

// In a per-user installation, the first thing the script asks for that only an administrator
// may do ("registry key HKEY_LOCAL_MACHINE\...", "target [SYSTEM] of app.dll"); empty when
// there is none or the installation is machine-wide.
std::string MachineWidePlaceAsked();

}  // namespace vorlatch
