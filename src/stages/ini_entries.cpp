#include "stages/ini_entries.h"

#include <string>

#include <windows.h>

#include "package/opening.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/script_access.h"

namespace vorlatch {
namespace {

void FlushProfile(const std::string& file) {
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
}

// The entries of script section [Section<file>_<section>] into `targetSection` of `target`.
void WriteSectionEntries(const std::string& target, const std::string& targetSection,
                         const std::string& entryList) {
  const int entries = ReadScriptInt(entryList, kNumber, 0);
  for (int k = 1; k <= entries; ++k) {
    const std::string key = ReadScriptString(entryList, NumberedName(kKey, k), "");
    if (key.empty()) {
      continue;
    }
    const std::string value = ReadScriptString(entryList, NumberedName(kValue, k), "");
    // The previous value is looked up but kept nowhere: the uninstall log is already frozen
    // into the uninstaller when this runs.
    static_cast<void>(ReadScriptString(targetSection, key, kIniValueNotSet, target));
    // Written as it is: an empty value stays an empty value, the key is not removed.
    const bool written = ::WritePrivateProfileStringA(targetSection.c_str(), key.c_str(),
                                                      value.c_str(), target.c_str()) != FALSE;
    RecordStep("INI entry " + target + " [" + targetSection + "] " + key + "=" + value +
               (written ? ": written" : ": not written"));
    if (!written) {
      NoteResult(RunResult::kInstalledWithErrors);
    }
  }
}

}  // namespace

void WriteIniFileEntries() {
  const int files = ReadScriptInt(kIni, kNumber, 0);
  for (int i = 1; i <= files; ++i) {
    const std::string fileName = ReadScriptString(kIni, NumberedName(kFile, i), "");
    if (fileName.empty()) {
      continue;
    }
    const std::string target = ExpandTarget(kIni, i) + fileName;
    const std::string sectionList = NumberedName(kSection, i);
    const int sections = ReadScriptInt(sectionList, kNumber, 0);
    for (int j = 1; j <= sections; ++j) {
      const std::string targetSection =
          ReadScriptString(sectionList, NumberedName(kSection, j), "");
      WriteSectionEntries(target, targetSection, NumberedName(kSection, i, j));
    }
    FlushProfile(target);
  }
  FlushProfile(UninstallLogTempPath());
}

}  // namespace vorlatch
