#include "stages/after_stage.h"

#include <string>
#include <utility>

#include <windows.h>

#include "package/item_extraction.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "package/run_folder.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/script_access.h"
#include "stages/before_stage.h"
#include "stages/command_text.h"
#include "stages/extension_calls.h"
#include "stages/ini_entries.h"
#include "stages/launching.h"
#include "stages/stage_items.h"

namespace vorlatch {
namespace {

// Line1 ... Line<count>, each followed by a line feed.
std::string ClosingText(int count) {
  std::string text;
  for (int n = 1; n <= count; ++n) {
    text += ReadScriptString(kAfter, NumberedName(kLine, n), "");
    text += '\n';
  }
  return text;
}

}  // namespace

int AfterScreen() {
  const bool extensionReturned = RunAfterExtension() != 0;
  WriteIniFileEntries();
  // Without a working uninstaller the summary of errors has been shown instead.
  if (extensionReturned && !g_state.uninstallerFailed) {
    const std::string product = ReadScriptString(kGeneral, kProduct, "");
    AskUser(kSuccessfullyInstalled, product, MB_OK | MB_TASKMODAL, IDOK);
  }
  // The closing screen is for someone at the screen.
  if (Unattended()) {
    return 1;
  }
  if (ReadScriptInt(kAfter, kDialog, 0) == 0) {
    return 1;
  }
  const ScreenStyle style = ScreenStyleFor(ReadScriptInt(kAfter, kButton, 0));
  const std::string caption = ScreenCaption(kAfter, style);
  const int count = ReadScriptInt(kAfter, kLine, 0);
  if (count == 0) {
    return 1;
  }
  const int answer = AskUser(ClosingText(count), caption, style.flags, IDOK);
  return answer == IDOK || answer == IDYES ? 1 : 0;
}

void AfterRun() {
  if (ReadScriptInt(kAfter, kRun, 0) == 0) {
    return;
  }
  // Nobody is there to use the program; a deployment tool waits for the installer alone.
  if (Unattended()) {
    RecordStep("Program " + ReadScriptString(kAfter, kFile, "") + ": not started (unattended)");
    return;
  }
  // The program may be quoted and followed by arguments: the file to extract and to look for
  // is the program alone, and the arguments go to it when it is started.
  const CommandParts command = SplitCommand(ReadScriptString(kAfter, kFile, ""));
  if (command.program.empty()) {
    return;
  }
  // An installed file is extracted once more where the installation put it; anything else
  // goes into the temporary directory.
  const PackedItemRef installed = FindPackedItem(command.program);
  std::string path;
  StageItemPlace place;
  if (installed.found) {
    path = CollapseBackslashes(ExpandTarget(kFile, installed.index) + command.program);
    place.position = installed.position;
    place.length = installed.length;
  } else {
    path = TemporaryFilePath(command.program);
    place.position = static_cast<std::uint32_t>(ReadScriptInt(kAfter, kFilePos, 0));
    place.length = static_cast<std::uint32_t>(ReadScriptInt(kAfter, kFileZip, 0));
  }
  if (ExtractStageItem(place.position, place.length, path) == StageItem::kFailed) {
    return;
  }
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  UniqueHandle started;
  if (command.arguments.empty()) {
    OpenDocument(path, 0, &started);
  } else {
    RunProgram(PathArgument(path) + ' ' + command.arguments, 0, &started);
  }
  // Started from the run's folder: the folder stays until the program is done with it.
  if (!installed.found && started) {
    KeepRunFolderFor(std::move(started));
  }
}

}  // namespace vorlatch
