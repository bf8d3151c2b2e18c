#include "actions/file_associations.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "actions/association_text.h"
#include "actions/registry_entries.h"
#include "package/opening.h"
#include "script/install_scope.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"

namespace vorlatch {

namespace {

constexpr char kOpenCommandKey[] = "\\Shell\\Open\\Command";

// A file of the package that names extensions.
struct AssociatedFile {
  int number = 0;
  std::vector<std::string> extensions;
  bool hasCommand = false;
};

// One registry entry of the script with a single default value. Whatever an earlier script
// left under the same number goes first, so that no stray value or keep flag joins it.
void WriteScriptEntry(int k, const std::string& keyPath, const std::string& value) {
  const std::string section = NumberedName(kKey, k);
  WriteIniString(kRegistry, NumberedName(kKey, k), keyPath, "");
  WriteIniString(kRegistry, NumberedName(kKeep, k), std::nullopt, "");
  WriteIniString(section, std::nullopt, std::nullopt, "");
  WriteIniInt(section, kNumber, 1, 0);
  WriteIniString(section, NumberedName(kName, 1), std::string(kDefaultValueName), "");
  WriteIniString(section, NumberedName(kValue, 1), value, "");
}

}  // namespace

void RegisterAssociations() {
  // Read at once: key by key, a large package would read the script thousands of times.
  const IniSection fileSection(kFile);
  const int count = fileSection.Int(kFile, 0);
  if (count <= 0) {
    return;
  }

  // The extension list, kept per file in the order of the files; items beyond the limit
  // are ignored, also when they repeat an earlier extension.
  std::vector<AssociatedFile> files;
  std::vector<std::string> extensionList;
  for (int n = 1; n <= count && extensionList.size() < kMaxExtensionItems; ++n) {
    const std::string list = fileSection.String(NumberedName(kAssociations, n), "");
    std::vector<std::string> extensions =
        AssociationExtensions(list, kMaxExtensionItems - extensionList.size());
    if (extensions.empty()) {
      continue;
    }
    extensionList.insert(extensionList.end(), extensions.begin(), extensions.end());
    files.push_back({n, std::move(extensions), false});
  }
  if (extensionList.empty()) {
    return;
  }

  // A negative count in the script has no entries below it.
  const int first = std::max(0, ReadScriptInt(kRegistry, kNumber, 0));
  int made = 0;
  // A per-user installation registers its types for the user alone, where no administrator
  // is needed.
  const std::string classesRoot = std::string(FileTypesRoot(UserScope())) + "\\";
  // Entry numbers stop short of the int range; a script that large has nothing sane left.
  const auto roomFor = [&](int entries) { return made <= INT_MAX - first - entries; };

  for (const std::string& extension : extensionList) {
    for (AssociatedFile& file : files) {
      for (const std::string& item : file.extensions) {
        if (!EqualNoCase(item, extension) || !roomFor(2)) {
          continue;
        }
        const std::string name =
            CollapseBackslashes(ReadScriptString(kFile, NumberedName(kFile, file.number), ""));
        const std::string identifier = ProgramIdentifier(name);
        ++made;
        WriteScriptEntry(first + made, classesRoot + extension, identifier);
        if (file.hasCommand) {
          continue;
        }
        ++made;
        WriteScriptEntry(first + made, classesRoot + identifier + kOpenCommandKey,
                         OpenCommand(ExpandTarget(kFile, file.number) + name));
        file.hasCommand = true;
      }
    }
  }

  if (made > 0) {
    WriteIniInt(kRegistry, kNumber, first + made, 0);
  }
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
}

}  // namespace vorlatch
