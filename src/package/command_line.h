#pragma once
// The stub's command line: the package file it names and the switches of an unattended run.
// Pure: no <windows.h>, so that the native tests reach it.

#include <optional>
#include <string>
#include <string_view>

namespace vorlatch {

// What a command line asks for. A command line whose first argument is one of the switches
// (/S, /LOG=, /PASSWORD=, /D=, any letter case) opens the program's own file and takes the
// switches; any other keeps the plain rules of PackagePathFromCommandLine.
struct StubCommandLine {
  std::string packagePath;
  // Empty when the command line is sound; otherwise what is wrong with it.
  std::string error;
  bool silent = false;                     // /S
  std::optional<std::string> logFile;      // /LOG=<file>
  std::optional<std::string> password;     // /PASSWORD=<password>
  std::optional<std::string> destination;  // /D=<directory>, the rest of the line
};

StubCommandLine ParseStubCommandLine(std::string_view commandLine);

// The package path that a command line names: the argument after a quoted program path,
// else the quoted program path without its quotes; a command line that does not start with
// a quote is the path as a whole. Empty when there is none (a quote that never closes).
// With switches, the program's own path.
std::string PackagePathFromCommandLine(std::string_view commandLine);

}  // namespace vorlatch
