#pragma once
// The About box of the installer: who made it, and the compression library it uses.

#include <windows.h>

#include "ui/dialog.h"
#include "ui/hyperlink_label.h"

namespace vorlatch {

// The web pages the About box points at. The maker's address also belongs to the icon of the
// destination dialog.
inline constexpr char kMakerHomePage[] = "https://vorlatch.example.org/";
inline constexpr char kZlibHomePage[] = "https://zlib.net/";

class AboutDialog : public Dialog {
 public:
  AboutDialog();

  HyperlinkLabel& makerLink() { return makerLink_; }
  HyperlinkLabel& zlibLink() { return zlibLink_; }
  Control& createdBy() { return createdBy_; }

 private:
  HyperlinkLabel makerLink_;
  HyperlinkLabel zlibLink_;
  Control createdBy_;
};

// Shows the About box modally; Escape or the close box ends it. The answer is not used.
void ShowAboutBox(HWND parent = nullptr);

}  // namespace vorlatch
