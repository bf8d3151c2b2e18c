#include "support/many_files.h"

#include "support/test_files.h"

namespace vorlatch::test {

ManyFiles WriteManyFiles(const std::string& sources, int folders, int perFolder) {
  ManyFiles files;
  files.fileKeys = Line("File", std::to_string(folders * perFolder));
  int n = 0;
  for (int f = 0; f < folders; ++f) {
    const std::string folder = "dir" + std::to_string(f);
    ::CreateDirectoryA((sources + folder).c_str(), nullptr);
    for (int i = 0; i < perFolder; ++i) {
      ++n;
      const std::string name = "file" + std::to_string(i) + ".txt";
      std::string text;
      while (text.size() < 200u + static_cast<unsigned>(n * 37 % 1300)) {
        text += "line " + std::to_string(text.size()) + " of file " + std::to_string(n) + "\r\n";
      }
      WriteTextFile(sources + folder + "\\" + name, text);
      const std::string number = std::to_string(n);
      files.fileKeys += Line("File" + number, name) +
                        Line("Source" + number, sources + folder + "\\" + name) +
                        Line("Target" + number, "[BID]" + folder);
      files.relativePaths.push_back(folder + "\\" + name);
      files.contents.push_back(text);
    }
  }
  return files;
}

}  // namespace vorlatch::test
