#include "app/existing_installation.h"

#include <windows.h>

#include <algorithm>

#include "actions/uninstaller_interface.h"
#include "package/process_state.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "ui/progress_dialog.h"

namespace vorlatch {
namespace {

// A file, not a folder of that name.
bool IsExistingFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The path up to its last backslash, with one trailing backslash; empty when it has none.
std::string DirectoryPartOf(const std::string& path) {
  const std::string::size_type slash = ActiveCodePage().FindLast(path, '\\');
  return slash == std::string::npos ? std::string()
                                    : WithTrailingBackslash(path.substr(0, slash + 1));
}

// How many listed files are present directly in the destination directory. Every file is
// looked at, so that the count can be weighed against the whole list.
int CountFilesPresent(int count) {
  const std::string destination = WithTrailingBackslash(g_state.destinationDirectory);
  // Read at once: key by key, a large package would read the script thousands of times.
  const IniSection files(kFile);
  int found = 0;
  for (int n = 1; n <= count; ++n) {
    PumpMessagesNowAndThen();
    const std::string name = files.String(NumberedName(kFile, n), "");
    if (name.empty()) {
      continue;
    }
    const std::string path = ExpandTargetValue(files.String(NumberedName(kTarget, n), "")) + name;
    // The directory is taken as written; the file is looked for at the collapsed path.
    if (EqualNoCase(DirectoryPartOf(path), destination) &&
        IsExistingFile(CollapseBackslashes(path))) {
      ++found;
    }
  }
  return found;
}

}  // namespace

std::string RepairPromptText(const std::string& destinationDirectory) {
  std::string text = kRepairPromptStart;
  text.append(destinationDirectory);
  text.append(kRepairPromptEnd);
  return text;
}

int CheckExistingInstallation() {
  // A negative count lists no files; it must not make half of it a match.
  const int count = std::max(0, ReadScriptInt(kFile, kFile, 0));
  const int found = CountFilesPresent(count);
  if (found <= count / 2 && !IsExistingFile(UninstallerPath())) {
    return 1;
  }
  // Unattended, an existing installation is repaired.
  const int answer = AskUser(RepairPromptText(g_state.destinationDirectory), kRepairPromptCaption,
                             MB_YESNOCANCEL | MB_ICONQUESTION | MB_TASKMODAL | MB_TOPMOST, IDYES);
  g_state.repairMode = answer == IDYES;
  switch (answer) {
    case IDYES:
      return 1;
    case IDNO:
      return -1;
    default:
      return 0;
  }
}

}  // namespace vorlatch
