#include "ui/about_dialog.h"

#include "resources/resource.h"

namespace vorlatch {

AboutDialog::AboutDialog() : Dialog(IDD_ABOUT) {
  AddControl(createdBy_, IDC_CREATED_BY);
  AddControl(makerLink_, IDC_HOME_LINK);
  AddControl(zlibLink_, IDC_ZLIB_LINK);
  // Before the window exists, so that the attach step builds the fonts without underline.
  makerLink_.SetURL(kMakerHomePage);
  makerLink_.SetUnderline(false);
  zlibLink_.SetURL(kZlibHomePage);
  zlibLink_.SetUnderline(false);
}

void ShowAboutBox(HWND parent) {
  AboutDialog about;
  about.RunModal(parent);
}

}  // namespace vorlatch
