#pragma once
// The password gate of a protected package: the expected password is rebuilt from the
// package's protection block and the script's key, and the user must type it before anything
// else happens.

#include <string>

#include <windows.h>

#include "ui/dialog.h"

namespace vorlatch {

// The dialog's title when the script names no company.
inline constexpr char kDefaultPasswordTitle[] = "Password";

// The modal password dialog. OK closes it only for exactly the expected password; a wrong
// entry empties the field and leaves the dialog open, as often as the user likes.
class PasswordDialog : public Dialog {
 public:
  PasswordDialog(std::string title, std::string expected);

  Control& field() { return field_; }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void OnOk();
  void FocusField();

  std::string title_;
  std::string expected_;
  Control field_;
};

// Runs the password dialog: 1 when it ended with OK (the right password), else 0.
int AskPassword(const std::string& title, const std::string& expected);

// Asks for the package password when the script marks the package as protected. 1: not
// protected, or the right password was entered; 0: the user cancelled, or the protection
// block lies outside the package file (after the archive error).
int CheckPackagePassword();

}  // namespace vorlatch
