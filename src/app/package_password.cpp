#include "app/package_password.h"

#include <cstdint>
#include <utility>

#include "package/format.h"
#include "package/opening.h"
#include "package/password_text.h"
#include "package/process_state.h"
#include "package/unattended.h"
#include "resources/resource.h"
#include "script/keys.h"
#include "script/script_access.h"

namespace vorlatch {
namespace {

Bytes PackageBytes() {
  if (g_state.packageView == nullptr || g_state.packageSize <= 0) {
    return Bytes();
  }
  return Bytes(g_state.packageView, static_cast<std::size_t>(g_state.packageSize));
}

}  // namespace

PasswordDialog::PasswordDialog(std::string title, std::string expected)
    : Dialog(IDD_PASSWORD), title_(std::move(title)), expected_(std::move(expected)) {
  AddControl(field_, IDC_PASSWORD);
}

bool PasswordDialog::OnInitDialog() {
  SetCaption(title_);
  FocusField();
  // The focus stays in the field; the dialog manager must not move it to the first button.
  return false;
}

bool PasswordDialog::OnCommand(int id, int notifyCode, HWND control) {
  if (id == IDOK) {
    OnOk();
    return true;
  }
  return Dialog::OnCommand(id, notifyCode, control);
}

void PasswordDialog::OnOk() {
  // Exact and case-sensitive, byte for byte.
  if (ItemText(IDC_PASSWORD) == expected_) {
    EndDialog(IDOK);
    return;
  }
  SetItemText(IDC_PASSWORD, "");
  FocusField();
}

void PasswordDialog::FocusField() {
  if (field_.IsAttached()) {
    // Through the dialog manager, so that the default button and the focus agree.
    SendMessageA(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field_.hwnd()), TRUE);
  }
}

int AskPassword(const std::string& title, const std::string& expected) {
  PasswordDialog dialog(title, expected);
  return dialog.RunModal() == IDOK ? 1 : 0;
}

int CheckPackagePassword() {
  if (ReadScriptInt(kBefore, kProtect, 0) == 0) {
    return 1;
  }
  // A package too short to hold the block before its script cannot be read as protected.
  const auto block = LocateProtectionBlock(PackageBytes());
  if (!block) {
    g_state.currentOutputFile.clear();
    ShowArchiveError();
    return 0;
  }
  const std::string title = ReadScriptString(kGeneral, kCompany, kDefaultPasswordTitle);
  const std::string key = ReadScriptString(kBefore, kPassword, "");
  const std::string expected = RebuildPassword(*block, key);
  if (g_state.commandLinePassword && *g_state.commandLinePassword == expected) {
    RecordStep("Password: accepted");
    return 1;
  }
  if (Unattended()) {
    RecordStep(g_state.commandLinePassword ? "Password: wrong" : "Password: missing (/PASSWORD=)");
    NoteResult(RunResult::kPasswordRefused);
    return 0;
  }
  return AskPassword(title, expected);
}

}  // namespace vorlatch
