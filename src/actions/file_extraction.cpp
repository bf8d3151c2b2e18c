#include "actions/file_extraction.h"

#include <cstdint>

#include <windows.h>

#include "actions/com_registration.h"
#include "actions/installed_targets.h"
#include "actions/termination.h"
#include "package/format.h"
#include "package/item_extraction.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "package/run_folder.h"
#include "package/unattended.h"
#include "resources/resource.h"
#include "script/directories.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "ui/confirm_dialog.h"
#include "ui/progress_dialog.h"

namespace vorlatch {
namespace {

enum class Outcome { kWritten, kSkipped, kLeftOut, kFatal };

bool Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// FILE_ATTRIBUTE_NORMAL is how the file system spells "no attributes".
void ClearAttributes(const std::string& path) {
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

bool InTemporaryDirectory(const std::string& target) {
  const std::string temporary = UserTemporaryDirectory();
  return target.compare(0, temporary.size(), temporary) == 0;
}

// Asks until the user gives an answer other than Cancel (Cancel offers termination first).
// True: write the file.
bool DecideToOverwrite(const std::string& target) {
  for (;;) {
    const int answer =
        InTemporaryDirectory(target) ? IDYES : ShowConfirmDialog(OverwriteQuestion(target));
    switch (answer) {
      case IDCANCEL:
        ConfirmTermination();
        continue;
      case IDYESTOALL:
        g_state.overwriteMode = OverwriteMode::kYesToAll;
        return true;
      case IDNOTOALL:
        g_state.overwriteMode = OverwriteMode::kNoToAll;
        return false;
      case IDYES:
        g_state.overwriteMode = OverwriteMode::kAsk;
        return true;
      default:
        g_state.overwriteMode = OverwriteMode::kAsk;
        return false;
    }
  }
}

// Cancel leaves the file in place; the inflation then overwrites it or fails.
void RemoveExisting(const std::string& target) {
  std::string text = kCantRemovePrefix;
  text.append(target);
  for (;;) {
    ::DeleteFileA(target.c_str());
    if (!Exists(target)) {
      return;
    }
    if (AskUser(text, kErrorCaption, MB_RETRYCANCEL | MB_ICONERROR | MB_TASKMODAL, IDCANCEL) !=
        IDRETRY) {
      return;
    }
  }
}

std::string DirectoryOf(const std::string& target) {
  const std::size_t last = ActiveCodePage().FindLast(target, '\\');
  return last == std::string::npos ? std::string() : target.substr(0, last + 1);
}

Outcome ExtractOne(const std::string& itemFile, const std::string& target) {
  bool existed = false;
  switch (g_state.overwriteMode) {
    case OverwriteMode::kYesToAll:
      break;  // overwritten in place by the inflation
    case OverwriteMode::kNoToAll:
      return Outcome::kSkipped;
    case OverwriteMode::kAsk:
      existed = Exists(target);
      if (existed && !DecideToOverwrite(target)) {
        return Outcome::kSkipped;
      }
      break;
  }
  if (existed) {
    RemoveExisting(target);
  }
  if (EnsureDirectory(DirectoryOf(target))) {
    const std::uint32_t written = InflateItemFile(itemFile, target, false);
    g_state.installedBytes += written;
    return written != 0 ? Outcome::kWritten : Outcome::kFatal;
  }
  g_state.extractionError = true;
  NoteResult(RunResult::kInstalledWithErrors);
  std::string text = kCantExtractPrefix;
  text.append(target).append(kCantExtractSuffix);
  if (AskUser(text, kErrorCaption, MB_YESNO | MB_ICONWARNING | MB_TASKMODAL | MB_TOPMOST, IDYES) !=
      IDYES) {
    ConfirmTermination();
  }
  return Outcome::kLeftOut;
}

const char* OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::kWritten:
      return "installed";
    case Outcome::kSkipped:
      return "kept as it was";
    case Outcome::kLeftOut:
      return "not extracted";
    case Outcome::kFatal:
      break;
  }
  return "failed";
}

// Copies item n's packed bytes into the item file. Positions come from the script, so they
// are checked against the package before a byte is read. On failure the archive error names
// the item file when it could not be written (a full temporary drive), and no file when the
// item is not in the package; never the file before.
bool WriteItemFile(const std::string& itemFile, int position, int length) {
  g_state.currentOutputFile.clear();
  if (g_state.packageView == nullptr || g_state.packageSize <= 0 || position < 0 || length <= 0) {
    return false;
  }
  const Bytes package(g_state.packageView, static_cast<std::size_t>(g_state.packageSize));
  const auto item =
      SliceOf(package, static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(length));
  if (!item) {
    return false;
  }
  if (!WriteBlock(itemFile, item->data(), static_cast<std::uint32_t>(length), false)) {
    g_state.currentOutputFile = itemFile;
    return false;
  }
  return true;
}

void OfferForRegistration(int n, const std::string& target, RegistrationOffer offer) {
  if (offer == RegistrationOffer::kSystemName) {
    RecordStep("File " + target + ": not registered (a file of that name is in the system folder)");
  } else if (offer == RegistrationOffer::kOffered && RegisterComServer(target, true)) {
    RecordStep("File " + target + ": registered");
    RecordRegisteredTarget(n);
  }
}

}  // namespace

std::string OverwriteQuestion(const std::string& target) {
  std::string text = "File ";
  text.append(target).append(" exists.\r\nOverwrite?");
  return text;
}

int ExtractOneFile(const std::string& itemFile, const std::string& target) {
  return ExtractOne(itemFile, target) == Outcome::kFatal ? 0 : 1;
}

int ExtractFiles() {
  g_state.currentOutputFile.clear();
  const int count = ReadScriptInt(kFile, kFile, 0);
  const std::string itemFile = ItemFilePath();
  for (int n = count; n >= 1; --n) {
    PumpMessages();
    const std::string name = ReadScriptString(kFile, NumberedName(kFile, n), "");
    if (name.empty()) {
      return 0;
    }
    const int position = ReadScriptInt(kFile, NumberedName(kPos, n), 0);
    const int length = ReadScriptInt(kFile, NumberedName(kZip, n), 0);
    ShowProgress(kExtractingCaption, name);
    const std::string target = CollapseBackslashes(ExpandTarget(kFile, n) + name);
    ClearAttributes(itemFile);
    if (!WriteItemFile(itemFile, position, length)) {
      return 0;
    }
    g_state.currentOutputFile = target;
    // Cleared so that a read-only, hidden or system file can be replaced; a file that is
    // then kept gets them back.
    const DWORD originalAttributes = ::GetFileAttributesA(target.c_str());
    const RegistrationOffer offer = ShouldOfferForRegistration(n, target);
    ClearAttributes(target);
    const Outcome outcome = ExtractOne(itemFile, target);
    RecordStep("File " + target + ": " + OutcomeText(outcome));
    if (outcome == Outcome::kFatal) {
      return 0;
    }
    if (outcome == Outcome::kSkipped && originalAttributes != INVALID_FILE_ATTRIBUTES) {
      ::SetFileAttributesA(target.c_str(), originalAttributes);
    }
    if (outcome == Outcome::kWritten && originalAttributes != INVALID_FILE_ATTRIBUTES) {
      RecordReplacedTarget(n);
    }
    OfferForRegistration(n, target, offer);
  }
  return 1;
}

}  // namespace vorlatch
