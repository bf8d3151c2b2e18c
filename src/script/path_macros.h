#pragma once
// System folders and the expansion of path macros in script values. Every directory returned
// here ends in exactly one backslash; one that cannot be determined is the empty string.

#include <optional>
#include <string>

#include <windows.h>

#include "script/path_text.h"

namespace vorlatch {

// Special folders the stub asks for.
inline constexpr int kCsidlPrograms = 2;
inline constexpr int kCsidlProgramFiles = 38;
// Size of the buffer that GetSpecialFolder fills.
inline constexpr int kSpecialFolderBufferSize = 260;

std::string CurrentDirectory();
std::string WindowsDirectory();
std::string SystemDirectory();
// The temporary folder that the system reports (GetTempPathA), not the Tmp/Temp one the
// installer uses.
std::string SystemTemporaryDirectory();
// CSIDL_PROGRAM_FILES, else "Program Files" on the Windows drive (C when that is unknown).
std::string ProgramFilesDirectory();

// Fills `buffer` (kSpecialFolderBufferSize bytes) with the path of the folder `csidl`.
// Uses SHGetSpecialFolderPathA from Shell32.dll (loaded on first use and kept until exit),
// else the item-list way below. COM must be initialised.
bool GetSpecialFolder(HWND owner, char* buffer, int csidl, bool create);
// The way without SHGetSpecialFolderPathA: a shell link object must be available, then the
// folder's item list is turned into a path. `create` has no meaning here.
bool GetSpecialFolderFromItemList(char* buffer, int csidl);
// GetSpecialFolder into a string; none when the lookup fails.
std::optional<std::string> SpecialFolderPath(int csidl, bool create = false);

// The folder that kNamedFolderMacros[index] stands for, with one trailing backslash; empty
// when the shell does not know it.
std::string NamedFolder(int index);

// A destination as typed, in BID or /D=: %NAME% environment variables expanded, and a
// leading folder macro (any case; not [BID]) replaced by its folder. Not made full here.
std::string ExpandDestinationText(const std::string& text);

// The script value Target<n> of `section`, upper-cased, with a leading macro replaced by its
// folder; the destination directory when no macro starts it. One trailing backslash.
std::string ExpandTarget(const std::string& section, int n);
// The same for a value already read from the script.
std::string ExpandTargetValue(const std::string& value);

// A value that is exactly one macro (any case) becomes what the macro stands for; any other
// value is returned unchanged. `[Date]` uses `now` when given, else the local clock.
std::string ExpandValueMacro(const std::string& value,
                             const std::optional<SYSTEMTIME>& now = std::nullopt);

}  // namespace vorlatch
