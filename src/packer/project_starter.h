#pragma once
// The starter project of `vorlatch-pack new`: a commented project that installs a folder
// with a Start Menu shortcut to its program. Portable.

#include <string>

namespace vorlatch::packer {

// Writes the project file `project` (empty: <folder's name>.vlp in the current folder) for
// the folder tree `folder`; never writes over an existing file. `project` receives the path
// written. False with `error` when the folder is no folder or the file cannot be written.
bool WriteStarterProject(const std::string& folder, std::string& project, std::string& error);

}  // namespace vorlatch::packer
