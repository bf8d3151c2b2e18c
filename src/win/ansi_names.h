#pragma once
// Names that the system's ANSI code page cannot hold. The programs work with 8-bit names;
// a name with a character outside the code page (a Chinese user name on a Western system)
// reaches the 8-bit calls with '?' or a look-alike letter in its place, and then names
// another file or none. The wide form of a name tells whether that happens.

#include <optional>
#include <string>

#include <windows.h>

namespace vorlatch {

// A wide text in the 8-bit code page `codePage` (CP_ACP, CP_UTF8), converted with `flags`;
// empty when it cannot be converted.
std::string NarrowOf(const std::wstring& text, UINT codePage, DWORD flags = 0,
                     BOOL* usedDefault = nullptr);
// The characters of an 8-bit text in `codePage`; empty when it cannot be converted.
std::wstring WideOf(const std::string& text, UINT codePage);

// The ANSI form of a wide text, with '?' for what it cannot hold; `fits` tells whether every
// character has its exact form there (no default character, no look-alike).
std::string AnsiFormOf(const std::wstring& text, bool& fits);
// The value of an environment variable in its wide form; none when it is not set or empty.
std::optional<std::wstring> WideEnvironment(const wchar_t* name);
// A shell folder (CSIDL) in its wide form; none when the system does not know it.
std::optional<std::wstring> WideSpecialFolder(int csidl);

// The full path of `path` as the system resolves it (current folder and drive, "." and ".."
// levels, forward slashes), however long; empty when the system cannot make one.
std::string FullPathName(const std::string& path);
// The long form of an existing path (8.3 short names expanded); empty when there is none.
std::string LongPathName(const std::string& path);

}  // namespace vorlatch
