#pragma once
// A package of many small files in many folders, the load under which the per-file cost of
// the installer and the uninstaller shows: the sources are written and the [File] keys
// returned, for a project of the caller's.

#include <string>
#include <vector>

namespace vorlatch::test {

struct ManyFiles {
  std::string fileKeys;  // "File=<count>" and File<n>, Source<n>, Target<n> of every file
  // Per file, where the installation puts it below its folder and what it holds.
  std::vector<std::string> relativePaths;
  std::vector<std::string> contents;
};

// Writes `folders` x `perFolder` files of a few hundred to about 1,500 bytes, each of its
// own content, into `sources`; target n goes to [BID]dir<f>.
ManyFiles WriteManyFiles(const std::string& sources, int folders, int perFolder);

}  // namespace vorlatch::test
