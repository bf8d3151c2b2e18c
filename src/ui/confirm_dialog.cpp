#include "ui/confirm_dialog.h"

#include "resources/resource.h"

namespace vorlatch {

ConfirmDialog::ConfirmDialog() : Dialog(IDD_CONFIRM) {}

bool ConfirmDialog::OnInitDialog() {
  const bool result = Dialog::OnInitDialog();
  SetItemText(IDC_CONFIRM_TEXT, text_);
  // The dialog manager puts the focus on the first tab stop, Yes.
  return result;
}

bool ConfirmDialog::OnCommand(int id, int notifyCode, HWND control) {
  if (notifyCode == BN_CLICKED) {
    switch (id) {
      case IDYES:
      case IDNO:
      case IDYESTOALL:
      case IDNOTOALL:
        EndDialog(id);
        return true;
      default:
        break;
    }
  }
  // Cancel and Esc (IDCANCEL) end the dialog with IDCANCEL in the base.
  return Dialog::OnCommand(id, notifyCode, control);
}

bool ConfirmDialog::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message == WM_CLOSE) {
    EndDialog(IDCANCEL);
    result = 0;
    return true;
  }
  return false;
}

int ShowConfirmDialog(const std::string& text) {
  ConfirmDialog dialog;
  dialog.SetText(text);
  return static_cast<int>(dialog.RunModal(nullptr));
}

}  // namespace vorlatch
