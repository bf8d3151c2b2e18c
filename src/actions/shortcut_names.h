#pragma once
// The names and questions of the shortcut steps, as plain strings so that native tests
// reach them: the program group, its numbered variants, and the shortcut file names.

#include <string>

namespace vorlatch {

// The questions before making shortcuts.
inline constexpr char kShortcutQuestionCaption[] = "Confirm";
inline constexpr char kWouldYouLikeTo[] = "Would you like to";
inline constexpr char kCreateShortcut[] = "create shortcut";
inline constexpr char kInStartMenuPrograms[] = " in Start Menu, Programs?";
inline constexpr char kShortcutFor[] = " for ";
inline constexpr char kOnDesktop[] = "Desktop";
inline constexpr char kOnQuickLaunchBar[] = "on Quick Launch bar?";

// The link name of the uninstaller's shortcut in the program group.
inline constexpr char kUninstallLinkName[] = "Uninstall";
inline constexpr char kLinkExtension[] = ".lnk";

// The highest number a program group variant gets; that variant is reused when taken.
inline constexpr int kMaxInstanceNumber = 10;

// Company\Product\ : each name without its trailing backslashes and with one appended; a
// name that is empty (or only backslashes) contributes nothing. Empty when both are.
std::string ProgramGroupOf(const std::string& company, const std::string& product);

// What follows the group's last folder name for a variant: empty for 0, else a blank and the
// number ("Tool 2").
std::string InstanceSuffix(int instanceNumber);

// The shortcut file for a link name (the target's file name, maybe preceded by folders): the
// last component is cut at its first full stop and gets a blank, the extension text (without
// a leading full stop) and .lnk. So app.exe gives "app exe.lnk", Uninstall "Uninstall .lnk".
std::string ShortcutFileName(const std::string& linkName);

// The chosen display name of a shortcut, trimmed of blanks, when it makes a valid file name:
// none of \ / : * ? " < > |, no control character, no device name (CON, NUL, COM1, ...),
// not empty. Empty otherwise: the shortcut is then named by ShortcutFileName.
std::string ValidShortcutName(const std::string& name);

// The shortcut file for a link name and a chosen display name: the display name and .lnk when
// it is valid, else ShortcutFileName(linkName).
std::string ShortcutFileName(const std::string& linkName, const std::string& displayName);

// "Would you like to create shortcut in Start Menu, Programs?", with "shortcuts" for more
// than one.
std::string StartMenuQuestion(int shortcutCount);
// "Would you like to create shortcut for ", the name and the place, each on its own line.
std::string DesktopQuestion(const std::string& name);
std::string QuickLaunchQuestion(const std::string& name);

}  // namespace vorlatch
