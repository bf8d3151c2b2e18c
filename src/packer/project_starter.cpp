#include "packer/project_starter.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "packer/ini_text.h"

namespace vorlatch::packer {

namespace {

namespace fs = std::filesystem;

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && EqualNoCase(text.substr(text.size() - end.size()), end);
}

// The first file for which `wanted` holds, in the order the builder packs a folder: the files
// of a folder first, then its subfolders, each by name. Relative, with '/'; `wanted` sees
// the relative path.
template <typename Wanted>
std::string FirstFile(const fs::path& folder, const std::string& prefix, Wanted wanted,
                      int depth = 0) {
  std::error_code failed;
  std::vector<std::pair<std::string, bool>> entries;
  for (fs::directory_iterator it(folder, failed), end; !failed && it != end; it.increment(failed)) {
    entries.emplace_back(it->path().filename().string(),
                         it->is_directory(failed) && !it->is_symlink(failed));
  }
  std::sort(entries.begin(), entries.end());
  for (const bool folders : {false, true}) {
    for (const auto& [name, isFolder] : entries) {
      if (isFolder != folders) {
        continue;
      }
      if (!isFolder && wanted(prefix + name)) {
        return prefix + name;
      }
      if (isFolder && depth < 32) {
        std::string found = FirstFile(folder / name, prefix + name + "/", wanted, depth + 1);
        if (!found.empty()) {
          return found;
        }
      }
    }
  }
  return std::string();
}

std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

}  // namespace

bool WriteStarterProject(const std::string& folder, std::string& project, std::string& error) {
  std::error_code failed;
  if (!fs::is_directory(folder, failed)) {
    error = folder + ": not a folder";
    return false;
  }
  const fs::path root = fs::weakly_canonical(folder, failed);
  const std::string product = root.filename().string();
  if (failed || product.empty()) {
    error = folder + ": cannot tell its name";
    return false;
  }
  if (project.empty()) {
    project = product + ".vlp";
  }
  if (fs::exists(project, failed)) {
    error = project + ": exists already; name another project file with -o";
    return false;
  }
  const fs::path projectFolder = fs::weakly_canonical(fs::absolute(project).parent_path(), failed);
  std::string relative = fs::relative(root, projectFolder, failed).generic_string();
  if (failed || relative.empty()) {
    relative = root.generic_string();
  }
  const std::string program =
      FirstFile(root, "", [](const std::string& name) { return EndsWithNoCase(name, ".exe"); });
  // A licence at the top of the folder.
  const std::string licence = FirstFile(root, "", [](const std::string& path) {
    return path.find('/') == std::string::npos &&
           (path.starts_with("LICENSE") || path.starts_with("LICENCE") ||
            path.starts_with("COPYING"));
  });

  std::string text;
  auto line = [&text](const std::string& content) { text.append(content).append("\r\n"); };
  line("; Installer project for " + product + ", written by vorlatch-pack new. Build it with");
  line(";   vorlatch-pack build " + fs::path(project).filename().string());
  line("; Every section and key is described in docs/script.md; paths in this file are");
  line("; relative to its folder. Lines starting with ; are comments.");
  line("");
  line("[Build]");
  line("; The installer to write.");
  line("Output=" + product + "-setup.exe");
  line("; Uncomment to let warnings fail the build too.");
  line(";Strict=1");
  line("");
  line("[General]");
  line("Product=" + product);
  line("Company=" + product);
  line("Version=1.0");
  line("; The destination folder that the installer proposes.");
  line("BID=C:\\Program Files\\" + product + "\\");
  line("Package=" + product);
  line("");
  line("[Before]");
  line("; A licence to accept before the installation, its text read from a file.");
  const std::string licenceLine = licence.empty() ? ";" : "";
  line(licenceLine + "Dialog=1");
  line(licenceLine + "Button=2");
  line(licenceLine + "Caption=" + product + " licence");
  line(licenceLine + "Footer=Do you accept these terms?");
  line(licenceLine +
       "TextFile=" + Backslashed(licence.empty() ? "LICENSE.txt" : relative + "/" + licence));
  line("");
  line("[File]");
  if (!program.empty()) {
    const std::size_t slash = program.rfind('/');
    const std::string name = program.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string subfolder = slash == std::string::npos ? "" : program.substr(0, slash + 1);
    line("; The program, named here for its Start Menu shortcut; the folder below adds the");
    line("; rest (it leaves out files named by hand).");
    line("File1=" + name);
    line("Source1=" + Backslashed(relative + "/" + program));
    line("Target1=[BID]" + Backslashed(subfolder));
    line("Shortcut1=1");
    line("ShortcutName1=" + product);
    line("; A Desktop shortcut to it, without asking first.");
    line(";Desktop=" + name);
    line(";AskD=0");
  } else {
    line("; No .exe was found in the folder: name a program as File1 (with Source1, Target1");
    line("; and Shortcut1=1) for a Start Menu shortcut.");
  }
  line("; Everything in the folder, with its subfolders, into the destination folder.");
  line("Folder1=" + Backslashed(relative));
  line("FolderTarget1=[BID]");
  line("FolderExclude1=*.pdb;.git");
  line("; Install Uninstall.exe and register the product with the system.");
  line("Uninstall=1");
  line("");
  line("[After]");
  line("; Uncomment to start the program when the installation is done.");
  line(";Run=1");
  const std::size_t slash = program.rfind('/');
  line(";File=" + (program.empty() ? std::string("program.exe")
                                   : program.substr(slash == std::string::npos ? 0 : slash + 1)));

  std::ofstream file(project, std::ios::binary);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!file.flush()) {
    error = project + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace vorlatch::packer
