#pragma once

#include <string>

namespace vorlatch {

// The repair prompt's caption and the text around the destination directory.
inline constexpr char kRepairPromptCaption[] = "Confirm";
inline constexpr char kRepairPromptStart[] = "Setup has found the program in\n'";
inline constexpr char kRepairPromptEnd[] =
    "' folder.\n\nTo repair it, press \"Yes\".\nTo select another location press \"No\".\n\n"
    "Continue?";

// Looks for an installation in the chosen directory: more than half of the listed files
// present directly in it, or its Uninstall.exe. When it finds one it asks whether to repair
// it (g_state.repairMode follows the answer). 1: install, 0: stop, -1: choose another
// directory.
int CheckExistingInstallation();

// The repair prompt for a destination directory, exactly as it was stored.
std::string RepairPromptText(const std::string& destinationDirectory);

}  // namespace vorlatch
