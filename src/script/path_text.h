#pragma once
// Path and macro helpers that only take and return strings, kept free of <windows.h> so
// that native tests reach them. Directory strings carry exactly one trailing backslash. They
// step over the characters of the active code page (win/code_page.h), not over bytes.

#include <optional>
#include <string>

#include "win/code_page.h"

namespace vorlatch {

// The path macros; the brackets are part of each.
inline constexpr char kMacroBid[] = "[BID]";
inline constexpr char kMacroWindows[] = "[WINDOWS]";
inline constexpr char kMacroSystem[] = "[SYSTEM]";
inline constexpr char kMacroTemp[] = "[TEMP]";
inline constexpr char kMacroProgramFiles[] = "[PROGFILES]";
inline constexpr char kMacroDate[] = "[Date]";

// Folders named after the shell's own folders, for targets and the destination: the folder
// of `csidl` followed by `below` (may be empty). [LOCALPROGRAMS] is the user's own program
// folder, which needs no administrator.
struct NamedFolderMacro {
  const char* macro;
  int csidl;
  const char* below;
};
inline constexpr NamedFolderMacro kNamedFolderMacros[] = {
    {"[LOCALAPPDATA]", 28, ""},  {"[APPDATA]", 26, ""}, {"[LOCALPROGRAMS]", 28, "Programs"},
    {"[COMMONAPPDATA]", 35, ""}, {"[DESKTOP]", 16, ""}, {"[DOCUMENTS]", 5, ""},
};
inline constexpr int kNamedFolderMacroCount =
    static_cast<int>(sizeof kNamedFolderMacros / sizeof kNamedFolderMacros[0]);

// Empty stays empty; otherwise every trailing backslash is replaced by exactly one.
std::string WithTrailingBackslash(const std::string& path);
// Every trailing backslash removed.
std::string WithoutTrailingBackslash(const std::string& path);
// The text after the last backslash, or the whole path when it has none.
std::string FileNameOf(const std::string& path);
// The text after the first full stop of the file name, cut before a double quote that
// stands after its first character; empty when the file name has no full stop.
std::string ExtensionOf(const std::string& path);
// The text before the first full stop; empty when there is none or the name starts with one.
std::string NameWithoutExtension(const std::string& name);

// Every run of backslashes collapsed to one (target paths built from directory + name).
std::string CollapseBackslashes(const std::string& path);

// Comparison without regard to case, as the system compares names.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);
// The text after `macro` when `value` starts with it exactly (case included); none otherwise.
std::optional<std::string> RestAfterLeadingMacro(const std::string& value,
                                                 const std::string& macro);

// The Program Files directory from the Windows directory and the result of the folder
// lookup (none when the lookup failed): the looked-up path, else "<drive>:\Program Files"
// on the Windows directory's drive (C when that is unknown); with one trailing backslash.
std::string ProgramFilesDirectoryFrom(const std::string& windowsDirectory,
                                      const std::optional<std::string>& lookedUpFolder);

// What a per-user installation may not ask for: a registry key under HKEY_LOCAL_MACHINE (the
// root named as the installer accepts it, any case), and a target in the system folders
// ([SYSTEM] or [WINDOWS] leading, any case).
bool NamesLocalMachineKey(const std::string& key);
bool NamesSystemFolder(const std::string& target);

// A broken-down local time, as the system clock reports it.
struct LocalTime {
  int year = 1899;
  int month = 12;  // 1..12
  int day = 30;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// OLE Automation date: days since 30 December 1899 with the time of day as the fraction
// (before that day the fraction still counts forwards from midnight, as OLE defines it).
double OleDateFromLocalTime(const LocalTime& time);
// The date in the text form that script values receive: "%.2f".
std::string FormatOleDate(double oleDate);

}  // namespace vorlatch
