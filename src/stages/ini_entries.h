#pragma once
// Keys that a successful installation sets in INI files of the installed program (or any
// INI file reachable through the path macros), as the script's [Ini] section lists them.

namespace vorlatch {

// What reading a target key answers when the key is missing.
inline constexpr char kIniValueNotSet[] = "[value not set]";

// For each listed file, each of its sections and each entry with a key name: writes the
// value (an empty one too) into the target file, then flushes that file; finally flushes the
// temporary uninstall log. Nothing is reported; a file whose directory is missing is simply
// not written.
void WriteIniFileEntries();

}  // namespace vorlatch
