#pragma once
// Command-line text for starting programs and documents, kept free of <windows.h> so that
// native tests reach it.

#include <string>

namespace vorlatch {

// The program name at the start of a command line, without the arguments:
// - surrounding white space is trimmed;
// - a leading quoted name is taken up to its closing quote, and quoted again when it
//   contains a blank;
// - otherwise the text before the first blank when that text has an extension; failing
//   that, the shortest text up to a later blank that ends in a file name with an extension
//   (an unquoted path with blanks in its directories, as registered open commands often
//   are), quoted because it contains a blank;
// - otherwise the whole trimmed command (a path with blanks and no arguments).
std::string ProgramPart(const std::string& command);

// A command split into its program, without quotes, and the arguments after it (trimmed);
// the program is found as ProgramPart finds it.
struct CommandParts {
  std::string program;
  std::string arguments;
};
CommandParts SplitCommand(const std::string& command);

// A path as one argument of a command line: quoted when it contains a blank and is not
// quoted already, so that neither the program search nor the started program splits it.
std::string PathArgument(const std::string& path);

// The command that opens `path` with the program `openCommand`: the program, one blank and
// the path as one argument.
std::string OpenCommandLine(const std::string& openCommand, const std::string& path);

}  // namespace vorlatch
