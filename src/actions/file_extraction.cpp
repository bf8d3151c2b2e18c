#include "actions/file_extraction.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include <windows.h>

#include "actions/com_registration.h"
#include "actions/file_in_use.h"
#include "actions/installed_targets.h"
#include "actions/overwrite_rules.h"
#include "actions/termination.h"
#include "package/format.h"
#include "package/item_extraction.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "package/run_folder.h"
#include "package/unattended.h"
#include "resources/resource.h"
#include "script/directories.h"
#include "script/install_scope.h"
#include "script/keys.h"
#include "script/path_macros.h"
#include "script/path_text.h"
#include "script/script_access.h"
#include "ui/confirm_dialog.h"
#include "ui/progress_dialog.h"

namespace vorlatch {
namespace {

enum class Outcome { kWritten, kAtRestart, kSkipped, kLeftOut, kFatal };

// What the package says for file n about a target that is there already or held open.
struct FileRules {
  int n = 0;
  OverwriteRule overwrite = OverwriteRule::kAsk;
  bool restartWhenHeld = false;
};

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
    const bool ask = !InTemporaryDirectory(target);
    if (ask) {
      SaveReplacedTargets();
    }
    const int answer = ask ? ShowConfirmDialog(OverwriteQuestion(target)) : IDYES;
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

enum class Removal { kGone, kStays, kHeld };

// Cancel leaves the file in place; the inflation then overwrites it or fails. kHeld (no
// question): another program holds it and the package puts such files in place at restart.
Removal RemoveExisting(const std::string& target, const FileRules& rules) {
  for (;;) {
    const DWORD error = ::DeleteFileA(target.c_str()) ? ERROR_SUCCESS : ::GetLastError();
    if (!Exists(target)) {
      return Removal::kGone;
    }
    const bool held = IsHeldError(error);
    if (held && rules.restartWhenHeld) {
      return Removal::kHeld;
    }
    SaveReplacedTargets();
    if (AskUser(CantRemoveText(target, held), kErrorCaption,
                MB_RETRYCANCEL | MB_ICONERROR | MB_TASKMODAL, IDCANCEL) != IDRETRY) {
      return Removal::kStays;
    }
  }
}

// A target that another program holds: the new file waits beside it for the next restart, or,
// where that cannot be or the package asks instead, it is left out (its own exit code, since
// the package itself is sound).
Outcome HeldTarget(Bytes item, const std::string& target, PieceObserver* observer,
                   const FileRules& rules, std::string& note) {
  if (rules.restartWhenHeld && ReplaceAtRestart(item, target, rules.n, observer)) {
    return Outcome::kAtRestart;
  }
  note = "in use by another program";
  g_state.extractionError = true;
  NoteResult(RunResult::kFileInUse);
  return Outcome::kLeftOut;
}

std::string DirectoryOf(const std::string& target) {
  const std::size_t last = ActiveCodePage().FindLast(target, '\\');
  return last == std::string::npos ? std::string() : target.substr(0, last + 1);
}

// `mayExist` false: the caller has just found no file at the target, which spares looking
// again (a miss costs a scan of the folder under Wine).
Outcome ExtractOne(Bytes item, const std::string& target, PieceObserver* observer, bool mayExist,
                   const FileRules& rules, std::string& note) {
  bool existed = false;
  bool decided = false;
  if (rules.overwrite != OverwriteRule::kAsk) {
    existed = mayExist && Exists(target);
    const RuleDecision decision = existed ? DecideByRule(rules.overwrite, target, item)
                                          : RuleDecision{RuleAnswer::kReplace, {}};
    note = decision.why;
    if (decision.answer == RuleAnswer::kKeep) {
      return Outcome::kSkipped;
    }
    decided = decision.answer == RuleAnswer::kReplace;
  }
  switch (decided ? OverwriteMode::kYesToAll : g_state.overwriteMode) {
    case OverwriteMode::kYesToAll:
      break;  // overwritten in place by the inflation
    case OverwriteMode::kNoToAll:
      return Outcome::kSkipped;
    case OverwriteMode::kAsk:
      existed = mayExist && Exists(target);
      if (existed && !DecideToOverwrite(target)) {
        return Outcome::kSkipped;
      }
      break;
  }
  if (existed && RemoveExisting(target, rules) == Removal::kHeld) {
    return HeldTarget(item, target, observer, rules, note);
  }
  // No pause between the levels here: the system makes each level before CreateDirectoryA
  // returns, and a pause per level made thousands of files in new folders take many seconds.
  if (EnsureDirectory(DirectoryOf(target), nullptr, 0)) {
    std::uint32_t written = InflateItemInto(item, target, false, observer);
    if (written == 0 && mayExist && HeldByAnotherProgram(target)) {
      // Written over in place (Yes to All, unattended): the removal step is due now.
      const Removal removal = existed ? Removal::kStays : RemoveExisting(target, rules);
      if (removal == Removal::kGone) {
        written = InflateItemInto(item, target, false, observer);
      }
      if (removal == Removal::kHeld || (written == 0 && HeldByAnotherProgram(target))) {
        return HeldTarget(item, target, observer, rules, note);
      }
    }
    g_state.installedBytes += written;
    return written != 0 ? Outcome::kWritten : Outcome::kFatal;
  }
  g_state.extractionError = true;
  NoteResult(RunResult::kInstalledWithErrors);
  std::string text = kCantExtractPrefix;
  text.append(target).append(kCantExtractSuffix);
  SaveReplacedTargets();
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
    case Outcome::kAtRestart:
      return "in use; the new file is put in place at the next restart";
    case Outcome::kSkipped:
      return "kept as it was";
    case Outcome::kLeftOut:
      return "not extracted";
    case Outcome::kFatal:
      break;
  }
  return "failed";
}

// Item n's packed bytes in the package. Positions come from the script, so they are checked
// against the package before a byte is read; an item that is not in it names no file in the
// archive error, never the file before.
std::optional<Bytes> ItemInPackage(int position, int length) {
  g_state.currentOutputFile.clear();
  if (g_state.packageView == nullptr || g_state.packageSize <= 0 || position < 0 || length <= 0) {
    return std::nullopt;
  }
  const Bytes package(g_state.packageView, static_cast<std::size_t>(g_state.packageSize));
  return SliceOf(package, static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(length));
}

// The size an item's tail states; 0 without a tail.
std::uint32_t StatedSize(Bytes item) {
  const auto tail = ReadItemTailOf(item);
  return tail ? tail->size : 0;
}

// Moves the progress bar with the bytes of the whole installation and, while a large file
// is written, keeps the windows answering between its pieces. Notes whether the file written
// begins as a program image does.
class ProgressFeed : public PieceObserver {
 public:
  void Start(const IniSection& files, int count) {
    std::uint64_t total = 0;
    for (int n = 1; n <= count; ++n) {
      const auto item =
          ItemInPackage(files.Int(NumberedName(kPos, n), 0), files.Int(NumberedName(kZip, n), 0));
      total += item ? StatedSize(*item) : 0;
    }
    SetProgressTotal(total);
  }
  void ItemStarted(Bytes item) {
    itemSize_ = StatedSize(item);
    startsLikeImage_ = true;  // unknown until a piece is written
  }
  void FirstPieceWritten(Bytes piece) override {
    if (piece.size() >= 2) {
      startsLikeImage_ = piece[0] == 'M' && piece[1] == 'Z';
    }
  }
  void PieceWritten(std::uint64_t itemBytesWritten) override {
    SetProgressDone(done_ + itemBytesWritten);
    // After a file's last piece the loop pumps anyway, before the next file.
    if (itemBytesWritten < itemSize_) {
      PumpMessagesNowAndThen();
    }
  }
  bool StartsLikeImage() const { return startsLikeImage_; }
  // A file written, kept or left out counts with its stated size, so the bar ends full.
  void ItemFinished() {
    done_ += itemSize_;
    SetProgressDone(done_);
  }

 private:
  std::uint64_t done_ = 0;
  std::uint32_t itemSize_ = 0;
  bool startsLikeImage_ = true;
};

// The folders that this extraction made and the names written into them since: any other
// name cannot be there, which spares looking for it (under Wine a miss reads the whole folder).
// Only plain names are vouched for; one that the file system could take for another (a short
// name, a trailing dot or blank, a stream, a level up) is looked for on the disk.
class FreshFolders {
 public:
  // Whether the target surely is not there: its folder is missing, or was made by this
  // extraction and the name was not written since.
  bool Vouches(const std::string& target) {
    pending_.clear();
    const std::string folder = DirectoryOf(target);
    if (folder.empty() || !Plain(target)) {
      return false;
    }
    if (Holds(folders_, folder)) {
      return !Holds(written_, Capitals(target));
    }
    if (!Insert(checked_, folder) || IsDirectory(folder)) {
      return false;
    }
    pending_ = folder;
    return true;
  }
  // After the target of the last Vouches: a folder that was missing is fresh once the file
  // went in (the extraction made it); otherwise it is looked at again next time.
  void Written(const std::string& target, bool written) {
    if (!pending_.empty()) {
      if (written) {
        Insert(folders_, pending_);
      } else {
        const auto place = std::lower_bound(checked_.begin(), checked_.end(), pending_);
        if (place != checked_.end() && *place == pending_) {
          checked_.erase(place);
        }
      }
      pending_.clear();
    }
    Insert(written_, Capitals(target));
  }
  // Foreign code may have written anything.
  void Forget() { folders_.clear(); }

 private:
  // Sorted lists: a few thousand names at most, and no hashing code in the program.
  static bool Holds(const std::vector<std::string>& list, const std::string& text) {
    return std::binary_search(list.begin(), list.end(), text);
  }
  // False when it was there already.
  static bool Insert(std::vector<std::string>& list, std::string text) {
    const auto place = std::lower_bound(list.begin(), list.end(), text);
    if (place != list.end() && *place == text) {
      return false;
    }
    list.insert(place, std::move(text));
    return true;
  }
  static bool Plain(std::string_view path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(path[i]);
      const bool levelUp = c == '.' && (i + 1 == path.size() || path[i + 1] == '\\' ||
                                        path[i + 1] == '.' || path[i + 1] == ' ');
      if (c >= 0x80 || c == '~' || c == '/' || (c == ':' && i != 1) || levelUp ||
          (c == ' ' && (i + 1 == path.size() || path[i + 1] == '\\'))) {
        return false;
      }
    }
    return true;
  }
  static std::string Capitals(std::string text) {
    for (char& c : text) {
      if (c >= 'a' && c <= 'z') {
        c = static_cast<char>(c - 'a' + 'A');
      }
    }
    return text;
  }
  std::string pending_;
  std::vector<std::string> checked_;
  std::vector<std::string> folders_;
  std::vector<std::string> written_;
};

// Whether foreign code may have run.
bool OfferForRegistration(int n, const std::string& target, RegistrationOffer offer,
                          bool startsLikeImage) {
  if (offer == RegistrationOffer::kSystemName) {
    RecordStep("File " + target + ": not registered (a file of that name is in the system folder)");
  } else if (offer == RegistrationOffer::kOffered &&
             RegisterComServer(target, true, &SaveReplacedTargets, startsLikeImage)) {
    RecordStep("File " + target + ": registered");
    RecordRegisteredTarget(n);
  }
  return offer == RegistrationOffer::kOffered && startsLikeImage;
}

}  // namespace

std::string OverwriteQuestion(const std::string& target) {
  std::string text = "File ";
  text.append(target).append(" exists.\r\nOverwrite?");
  return text;
}

int ExtractOneFile(Bytes item, const std::string& target) {
  std::string note;
  return ExtractOne(item, target, nullptr, true, FileRules{}, note) == Outcome::kFatal ? 0 : 1;
}

namespace {

int ExtractListedFiles() {
  g_state.currentOutputFile.clear();
  // Read at once: nothing writes the script while the files go in.
  const IniSection files(kFile);
  const int count = files.Int(kFile, 0);
  ProgressFeed progress;
  progress.Start(files, count);
  const bool restartWhenHeld = ReplacesAtRestart(files);
  // Once for all files: each profile read opens the script again.
  const bool userScope = UserScope();
  SystemFolderNames system;
  FreshFolders fresh;
  for (int n = count; n >= 1; --n) {
    PumpMessagesNowAndThen();
    const std::string name = files.String(NumberedName(kFile, n), "");
    if (name.empty()) {
      return 0;
    }
    const int position = files.Int(NumberedName(kPos, n), 0);
    const int length = files.Int(NumberedName(kZip, n), 0);
    ShowProgress(kExtractingCaption, name);
    const std::string target =
        CollapseBackslashes(ExpandTargetValue(files.String(NumberedName(kTarget, n), "")) + name);
    const auto item = ItemInPackage(position, length);
    if (!item) {
      return 0;
    }
    g_state.currentOutputFile = target;
    // Cleared so that a read-only, hidden or system file can be replaced; a file that is
    // then kept gets them back.
    const DWORD originalAttributes =
        fresh.Vouches(target) ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesA(target.c_str());
    const RegistrationOffer offer = ShouldOfferForRegistration(files, n, target, userScope, system);
    const bool exists = originalAttributes != INVALID_FILE_ATTRIBUTES;
    if (exists) {
      ClearAttributes(target);
    }
    progress.ItemStarted(*item);
    std::string note;
    const Outcome outcome = ExtractOne(*item, target, &progress, exists,
                                       {n, OverwriteRuleOf(files, n), restartWhenHeld}, note);
    RecordStep("File " + target + ": " + OutcomeText(outcome) +
               (note.empty() ? std::string() : " (" + note + ")"));
    if (outcome == Outcome::kFatal) {
      return 0;
    }
    progress.ItemFinished();
    if (outcome == Outcome::kSkipped && exists) {
      ::SetFileAttributesA(target.c_str(), originalAttributes);
    }
    if ((outcome == Outcome::kWritten || outcome == Outcome::kAtRestart) && exists) {
      RecordReplacedTarget(n);
    }
    if (outcome == Outcome::kWritten) {
      system.Written(target);
    }
    fresh.Written(target, outcome == Outcome::kWritten);
    // Until the restart the target is still the old file. What was written is known; a kept
    // file is judged from the disk.
    if (outcome != Outcome::kAtRestart &&
        OfferForRegistration(n, target, offer,
                             outcome != Outcome::kWritten || progress.StartsLikeImage())) {
      fresh.Forget();
    }
  }
  return 1;
}

}  // namespace

int ExtractFiles() {
  const int extracted = ExtractListedFiles();
  // The run may end at the next message: Uninstall.exe must know what was written over.
  SaveReplacedTargets();
  return extracted;
}

}  // namespace vorlatch
