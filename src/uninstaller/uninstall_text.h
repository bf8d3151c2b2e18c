#pragma once
// The uninstaller's plain-string side: its command line, the places that the log's entries
// stand for (with the checks that keep every path inside the folder its macro names), the
// folders of the Start Menu group, and the texts it shows. Portable: no <windows.h>.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "script/path_text.h"

namespace vorlatch {

// The switch of the second stage of the self-removal: the copy in the temporary folder is
// started with it and the number of an inherited handle of the first process.
inline constexpr char kFinishSwitch[] = "/finish";

inline constexpr char kUninstallCaption[] = "Uninstall";
// Longest list of files in one message; the rest is counted.
inline constexpr std::size_t kMaxListedFiles = 15;

// What the command line asks for.
enum class UninstallMode {
  kInteractive,  // no argument (or one it does not know): ask, remove, report
  kRollback,     // /u: undo a terminated installation, no question, no report
  kFinish,       // /finish <handle>: the copy that removes the uninstaller and the folders
  kSilent,       // /S: remove without the question and the report; what is in use goes at restart
};

struct UninstallCommand {
  UninstallMode mode = UninstallMode::kInteractive;
  std::uint64_t handle = 0;  // kFinish: the inherited handle of the process to wait for
};

// The text after the program part of a command line (a quoted path, or up to the first
// blank), without surrounding blanks.
std::string ArgumentsOf(const std::string& commandLine);
UninstallCommand ParseUninstallCommand(const std::string& commandLine);

// The folders that the path macros stand for, each with one trailing backslash; empty when
// unknown.
struct MacroFolders {
  std::string windows;
  std::string system;
  std::string temp;
  std::string bid;
  std::string programFiles;
  // The folders of kNamedFolderMacros, in its order.
  std::string named[kNamedFolderMacroCount];
};

// A value split at its leading macro, checked in the installer's order ([WINDOWS], [SYSTEM],
// [TEMP], [BID], [PROGFILES], then the named folders) without regard to letter case; `macro` empty
// when none leads.
struct MacroSplit {
  std::string macro;
  std::string rest;
};
MacroSplit SplitLeadingMacro(const std::string& value);
std::string FolderOfMacro(const MacroFolders& folders, const std::string& macro);

// "X:\..." or "\\server\share\...".
bool IsAbsolutePath(const std::string& path);
// [General] BID as the uninstaller takes it. Installers before absolute destinations logged a
// typed destination as typed; forward slashes then become backslashes when that gives an
// absolute folder. Anything else is returned unchanged (a relative one is refused later).
std::string LoggedInstallationFolder(const std::string& bid);
// "X:\" or "\\server\share\" (trailing backslashes ignored).
bool IsRootFolder(const std::string& folder);
// A path below some folder that cannot leave it: no "." or ".." levels (nor levels of dots
// and blanks only), no drive, stream or device syntax, no wildcards, no forward slashes, no
// control characters. Empty is plain (the folder itself).
bool IsPlainRelativePath(const std::string& rest);
// `path` is `folder` or lies below it (letter case ignored, trailing backslashes ignored).
bool IsSameOrInside(const std::string& path, const std::string& folder);
bool IsSamePath(const std::string& a, const std::string& b);

// A place that a log entry names: the full path and the folder that its macro gave.
struct LoggedPlace {
  std::string path;
  std::string base;  // with one trailing backslash
};

// A file entry of [File]: its macro folder followed by the rest, or for an entry without a
// leading macro the installation folder followed by the entry's file name (the installer
// puts such files there). None when the folder is unknown or not absolute, or the rest is
// not a plain relative path naming a file.
std::optional<LoggedPlace> ExpandLoggedFile(const std::string& entry, const MacroFolders& folders);

// The folder of an [Ini] Target<i> as the installer expands it (the installation folder when
// no macro leads), with one trailing backslash; none when unsafe or unknown.
std::optional<LoggedPlace> ExpandLoggedFolder(const std::string& target,
                                              const MacroFolders& folders);

// The folders between `base` (excluded) and the file `path` below it (its own folder
// included), deepest first, each with one trailing backslash.
std::vector<std::string> FoldersBetween(const std::string& base, const std::string& path);

// The Start Menu group as the installer named it: Company\Product followed by the instance
// suffix, with one trailing backslash; empty when there is no group or a level is not plain.
std::string LoggedProgramGroup(const std::string& company, const std::string& product,
                               int instance);
// The levels of a group, deepest first ("Acme\Tool 1\", "Acme\").
std::vector<std::string> GroupLevels(const std::string& group);

// The texts.
std::string RemoveQuestion(const std::string& product);
std::string RemovedText(const std::string& product);
// Files that stayed, with the offer to remove them at the next restart.
std::string LeftOverQuestion(const std::string& product, const std::vector<std::string>& files);
std::string ScheduledText();
std::string NotScheduledText(const std::vector<std::string>& files);
std::string RefusalText(const std::string& uninstaller, const std::string& reason);
// One file a line; after kMaxListedFiles the rest is counted.
std::string FileListText(const std::vector<std::string>& files);

}  // namespace vorlatch
