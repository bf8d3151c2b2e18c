#pragma once
// The question box with Yes to All and No to All besides Yes, No and Cancel.

#include <string>

#include "ui/dialog.h"

namespace vorlatch {

class ConfirmDialog : public Dialog {
 public:
  ConfirmDialog();

  void SetText(const std::string& text) { text_ = text; }
  const std::string& text() const { return text_; }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  std::string text_;
};

// Asks the question and returns the button that closed the dialog: IDYES (6, also Enter),
// IDNO (7), IDYESTOALL (1013), IDNOTOALL (1014), IDCANCEL (2, also Esc and closing the
// window), or -1 when the dialog could not be created.
int ShowConfirmDialog(const std::string& text);

}  // namespace vorlatch
