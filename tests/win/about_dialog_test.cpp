#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <windows.h>

#include "resources/resource.h"
#include "support/screenshot.h"
#include "support/ui_robot.h"
#include "ui/about_dialog.h"

namespace vorlatch {
namespace {

COLORREF PaintedColour(HWND dialog, HWND control) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(control));
  const COLORREF colour = GetTextColor(dc);
  DeleteDC(dc);
  return colour;
}

bool Underlined(HFONT font) {
  LOGFONTA description = {};
  return GetObjectA(font, sizeof(description), &description) != 0 && description.lfUnderline;
}

TEST(AboutDialog, LinksCarryTheirAddressesWithoutUnderlineInBlue) {
  AboutDialog about;
  ASSERT_TRUE(about.CreateModeless());
  EXPECT_EQ(about.Caption(), "About this installation");
  EXPECT_EQ(about.ItemText(IDC_CREATED_BY), "Created by");
  EXPECT_TRUE(about.createdBy().IsAttached());

  struct Expected {
    HyperlinkLabel* link;
    int id;
    const char* caption;
    const char* address;
  };
  const Expected links[] = {{&about.makerLink(), IDC_HOME_LINK, "Vorlatch", kMakerHomePage},
                            {&about.zlibLink(), IDC_ZLIB_LINK, "zLib", kZlibHomePage}};
  for (const Expected& expected : links) {
    SCOPED_TRACE(expected.caption);
    ASSERT_EQ(expected.link->hwnd(), about.Item(expected.id));
    EXPECT_EQ(about.ItemText(expected.id), expected.caption);
    EXPECT_EQ(expected.link->url(), expected.address);
    ASSERT_NE(expected.link->linkFont(), nullptr);
    EXPECT_FALSE(Underlined(expected.link->linkFont()));
    EXPECT_EQ(PaintedColour(about.hwnd(), expected.link->hwnd()), RGB(0, 0, 255));
  }
  // The centred maker's name keeps its middle while it is fitted to its text.
  RECT dialogUnits = {71, 5, 71 + 38, 5 + 8};
  MapDialogRect(about.hwnd(), &dialogUnits);
  RECT rect;
  GetWindowRect(about.makerLink().hwnd(), &rect);
  MapWindowPoints(nullptr, about.hwnd(), reinterpret_cast<POINT*>(&rect), 2);
  EXPECT_LE(std::abs((rect.left + rect.right) - (dialogUnits.left + dialogUnits.right)), 1);
  EXPECT_LT(rect.right - rect.left, dialogUnits.right - dialogUnits.left);
  about.Destroy();
}

TEST(AboutDialog, ShowsModallyAndEndsWithEscape) {
  WindowSnapshot seen;
  bool saved = false;
  const std::string picture = ScreenshotFolder() + "about_dialog.png";
  DeleteFileA(picture.c_str());
  RobotThread robot([&] {
    seen = WaitForSnapshot({.caption = "About this installation", .className = "#32770"});
    if (seen.hwnd != nullptr) {
      saved = SaveScreenPicture(seen.hwnd, picture);
      SendKey(seen.hwnd, VK_ESCAPE);
    }
  });
  ShowAboutBox();
  robot.Join();
  SCOPED_TRACE(seen.Describe());
  EXPECT_EQ(seen.ControlText(IDC_HOME_LINK), "Vorlatch");
  EXPECT_EQ(seen.ControlText(IDC_ZLIB_LINK), "zLib");
  EXPECT_TRUE(seen.ButtonIds().empty());
  EXPECT_TRUE(saved);
  EXPECT_NE(GetFileAttributesA(picture.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace vorlatch
