#pragma once
// A resizable message box for texts too long for one: a scrollable read-only text, an icon,
// an optional footer sentence and one or two buttons chosen by message-box style flags.

#include <cstdint>
#include <string>

#include "ui/dialog.h"

namespace vorlatch {

// The message-box flags that the dialog evaluates.
constexpr std::uint32_t kLicenceOkCancel = 0x01;     // MB_OKCANCEL
constexpr std::uint32_t kLicenceYesNo = 0x04;        // MB_YESNO
constexpr std::uint32_t kLicenceInformation = 0x40;  // MB_ICONINFORMATION

// The text with every line feed as CR LF, as a multi-line edit control wants it: carriage
// returns are removed first, so CR LF and bare LF texts come out alike.
std::string WithCrLfLineEnds(const std::string& text);

class LicenceDialog : public Dialog {
 public:
  LicenceDialog(const std::string& caption, const std::string& text, const std::string& footer,
                std::uint32_t flags);

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void RemoveTextSelection() const;
  void Layout(int clientWidth, int clientHeight) const;

  std::string caption_;
  std::string text_;
  std::string footer_;
  std::uint32_t flags_;
  Control footerLabel_;
  Control iconLabel_;
  Control textField_;
};

// Shows the dialog without a parent; 1 when the user accepted (Yes or OK), else 0.
int ShowLicenceDialog(const std::string& caption, const std::string& text,
                      const std::string& footer, std::uint32_t flags);

}  // namespace vorlatch
