#pragma once
// Writing an installer's packed items back out as files, for audits and for checking a build.
// Portable.

#include <iosfwd>
#include <string>

namespace vorlatch::packer {

// Writes every item that the installer's script names into `folder` (which must be absent
// or empty), under the folder the installer would put it in: BID/<target>/<name> for the
// installed files and Uninstall.exe ([SYSTEM] targets under SYSTEM/ and so on), TEMP/<name>
// for the DLL and the Before and After files, and the script as Vorlatch.ini. Each file gets
// its item's times and, as far as the system holds them, its attributes; one line per file
// goes to `out`. False with `error` for a damaged installer or a name that would leave the
// folder.
bool ExtractInstaller(const std::string& installer, const std::string& folder, std::ostream& out,
                      std::string& error);

}  // namespace vorlatch::packer
