#pragma once
// The window in which the user chooses where the product is installed. The start-up sequence
// makes it once and shows it again whenever the existing-installation check asks for another
// location; each showing proposes the script's directory afresh.

#include <string>

#include <windows.h>

#include "ui/dialog.h"
#include "ui/hyperlink_label.h"

namespace vorlatch {

// Parts of the caption when the script leaves them out, and the folder browser's title.
inline constexpr char kDefaultCaptionCompany[] = "Vorlatch";
inline constexpr char kDefaultCaptionProduct[] = "...";
inline constexpr char kCaptionInstalling[] = " installing ";
inline constexpr char kSelectDirectoryTitle[] = "Select Directory";
// BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS.
inline constexpr UINT kBrowseFlags = 9;
// The start of the message for a destination that cannot be made (caption "Error").
inline constexpr char kTextCantCreateFolder[] = "Can't create the folder";
// Why a destination that is not a full path is refused.
inline constexpr char kTextNotFullPath[] =
    "This is not a full path. Name a drive (C:\\...) or a network share (\\\\server\\share\\...).";

class DestinationDialog : public Dialog {
 public:
  DestinationDialog();

  // Runs the dialog modally: IDOK when the user accepted a directory that exists now (stored
  // in g_state.destinationDirectory), IDCANCEL otherwise, also when the window could not be
  // made.
  INT_PTR Show(HWND parent = nullptr);

  HyperlinkLabel& homeLink() { return homeLink_; }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;

 private:
  void OnBrowse();
  void OnNext();

  HyperlinkLabel homeLink_;
  Control note_;
};

// The caption for the script's company and product values.
std::string DestinationCaption(const std::string& company, const std::string& product);

// The first directory proposed: the command line's /D= when it gave one, else the script's
// value as it stands (not yet expanded, no backslash rule).
std::string ProposedDestination();

// Takes a directory as Next takes the typed one (leading white space removed, variables and a
// leading folder macro expanded, the current directory when nothing is left; refused when it
// is then not a full path) into g_state.destinationDirectory and makes sure it exists.
// When it cannot, `reason` (when given) receives the system's words for why.
bool AcceptDestination(const std::string& typed, std::string* reason = nullptr);

// "Can't create the folder\n\n<folder>\n\n<reason>".
std::string CantCreateFolderText(const std::string& folder, const std::string& reason);

// The destination stage of the start-up sequence: shows `dialog` once and returns its answer
// (IDOK goes on to the existing-installation check; anything else stops the run). When the
// check asks for another location, call it again with the same dialog.
INT_PTR RunDestinationDialog(DestinationDialog& dialog);

}  // namespace vorlatch
