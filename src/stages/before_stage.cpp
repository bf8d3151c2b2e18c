#include "stages/before_stage.h"

#include "package/opening.h"
#include "package/unattended.h"
#include "script/keys.h"
#include "script/script_access.h"
#include "stages/launching.h"
#include "stages/stage_items.h"
#include "ui/licence_dialog.h"

namespace vorlatch {
namespace {

// The document is opened and not waited for; whether it could be shown is not reported.
void OpenBeforeDocument() {
  const std::string name = ReadScriptString(kBefore, kFile, "");
  if (name.empty()) {
    return;
  }
  const StageItemPlace place = FindStageItem(kBefore, kFileZip, kFilePos, name);
  // Another program's window: not in an unattended run.
  if (Unattended()) {
    RecordStep("Document " + name + ": not opened (unattended)");
    return;
  }
  const std::string target = TemporaryFilePath(name);
  // Only what this run extracted is opened, never an older file of the same name.
  if (ExtractStageItem(place.position, place.length, target) == StageItem::kExtracted) {
    OpenDocument(target, 0);
  }
}

// Line1 ... Line<count>, joined by line feeds; an absent line still gets its separator.
std::string BeforeText(int count) {
  std::string text;
  for (int n = 1; n <= count; ++n) {
    if (n > 1) {
      text += '\n';
    }
    text += ReadScriptString(kBefore, NumberedName(kLine, n), "");
  }
  return text;
}

}  // namespace

ScreenStyle ScreenStyleFor(int button) {
  switch (button) {
    case 1:
      return {MB_OKCANCEL | MB_ICONQUESTION | MB_SYSTEMMODAL, kCaptionConfirm};
    case 2:
      return {MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL, kCaptionConfirm};
    default:
      return {MB_ICONINFORMATION | MB_SYSTEMMODAL, kCaptionInfo};
  }
}

std::string ScreenCaption(const char* section, const ScreenStyle& style) {
  const std::string caption = ReadScriptString(section, kCaption, "");
  return caption.empty() ? std::string(style.defaultCaption) : caption;
}

int RunBeforeStage() {
  if (ReadScriptInt(kBefore, kLoad, 0) != 0) {
    OpenBeforeDocument();
  }
  const ScreenStyle style = ScreenStyleFor(ReadScriptInt(kBefore, kButton, 0));
  if (ReadScriptInt(kBefore, kDialog, 0) == 0) {
    return 1;
  }
  const std::string caption = ScreenCaption(kBefore, style);
  std::string text = BeforeText(ReadScriptInt(kBefore, kLine, 0));
  const std::string footer = ReadScriptString(kBefore, kFooter, "");
  if (text.size() >= kLicenceDialogThreshold) {
    // Running unattended is the deployer's acceptance.
    if (Unattended()) {
      RecordStep("Screen \"" + caption + "\": accepted (unattended)");
      return 1;
    }
    return ShowLicenceDialog(caption, text, footer, style.flags) != 0 ? 1 : 0;
  }
  if (!footer.empty()) {
    text += '\n';
    text += footer;
  }
  const int answer =
      AskUser(text, caption, style.flags, (style.flags & MB_YESNO) != 0 ? IDYES : IDOK);
  return answer == IDOK || answer == IDYES ? 1 : 0;
}

}  // namespace vorlatch
