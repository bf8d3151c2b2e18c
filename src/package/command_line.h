#pragma once
// The package file named by the stub's command line. Pure: no <windows.h>, so that the
// native tests reach it.

#include <string>
#include <string_view>

namespace vorlatch {

// The package path that a command line names: the argument after a quoted program path,
// else the quoted program path without its quotes; a command line that does not start with
// a quote is the path as a whole. Empty when there is none (a quote that never closes).
std::string PackagePathFromCommandLine(std::string_view commandLine);

}  // namespace vorlatch
