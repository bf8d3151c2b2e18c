#include <gtest/gtest.h>

#include <optional>
#include <string>

#include <windows.h>
#include <commctrl.h>

#include "resources/resource.h"
#include "support/test_files.h"
#include "ui/dialog.h"
#include "ui/hyperlink_label.h"
#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

using test::ReadTextFile;
using test::TempFolder;
using test::WriteTextFile;

// Lets messages that the click posted (and the started program's start-up) pass until `path`
// holds a whole line (the batch file's echo ends with one).
std::optional<std::string> WaitForFile(const std::string& path) {
  const ULONGLONG end = GetTickCount64() + kRobotTimeoutMs;
  while (GetTickCount64() < end) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (std::optional<std::string> text = ReadTextFile(path); text && text->ends_with("\r\n")) {
      return text;
    }
    Sleep(50);
  }
  return std::nullopt;
}

std::string ToolText(HWND tooltip, HWND control) {
  char text[1024] = {};
  TTTOOLINFOA tool = {};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = control;
  tool.uId = kLinkToolId;
  tool.lpszText = text;
  SendMessageA(tooltip, TTM_GETTEXTA, sizeof(text), reinterpret_cast<LPARAM>(&tool));
  return text;
}

// The colour the dialog paints the link's text with, as its colour request answers it.
COLORREF PaintedColour(HWND dialog, HWND control, HBRUSH* brush = nullptr) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  SetTextColor(dc, RGB(1, 2, 3));
  const auto answer = reinterpret_cast<HBRUSH>(SendMessageA(
      dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
  const COLORREF colour = GetTextColor(dc);
  if (brush != nullptr) {
    *brush = answer;
  }
  DeleteDC(dc);
  return colour;
}

// The help viewer's own hand cursor, when this system has one.
bool HelpViewerHasHandCursor() {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  const UniqueModule viewer(LoadLibraryA((std::string(windows) + "\\winhlp32.exe").c_str()));
  return viewer && LoadCursorA(viewer.get(), MAKEINTRESOURCEA(kHelpViewerHandCursor)) != nullptr;
}

TEST(HyperlinkLabel, AddressNeverSetOpensItsOwnCaption) {
  TempFolder folder;
  const std::string marker = folder.File("opened.txt");
  const std::string opener = folder.File("open_me.cmd");
  ASSERT_TRUE(WriteTextFile(opener, "@echo opened>\"" + marker + "\"\r\n"));

  Dialog dialog(IDD_ABOUT);
  ASSERT_TRUE(dialog.CreateModeless());
  // The caption is the batch file's path; the address stays unset.
  dialog.SetItemText(IDC_ZLIB_LINK, opener);
  HyperlinkLabel link;
  ASSERT_TRUE(link.Attach(dialog.Item(IDC_ZLIB_LINK)));
  const HWND control = link.hwnd();
  EXPECT_EQ(link.url(), opener);
  EXPECT_NE(GetWindowLongPtrA(control, GWL_STYLE) & SS_NOTIFY, 0);
  ASSERT_NE(link.tooltip(), nullptr);
  EXPECT_EQ(ToolText(link.tooltip(), control), opener);
  // The left-aligned control was fitted to its (longer) text.
  RECT rect;
  GetWindowRect(control, &rect);
  SIZE extent = {};
  HDC dc = GetDC(control);
  SelectObject(dc, link.linkFont());
  GetTextExtentPoint32A(dc, opener.c_str(), static_cast<int>(opener.size()), &extent);
  ReleaseDC(control, dc);
  EXPECT_EQ(rect.right - rect.left, extent.cx);
  EXPECT_EQ(rect.bottom - rect.top, extent.cy);
  EXPECT_FALSE(link.IsVisited());

  // A real click on the control: the static sends its notification, the dialog reflects it.
  SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  const std::optional<std::string> opened = WaitForFile(marker);
  ASSERT_TRUE(opened.has_value()) << "the caption " << opener << " was not opened";
  EXPECT_EQ(opened->substr(0, 6), "opened");
  EXPECT_TRUE(link.IsVisited());
  EXPECT_EQ(PaintedColour(dialog.hwnd(), control), RGB(100, 30, 160));
  dialog.Destroy();
  EXPECT_FALSE(link.IsAttached());
}

TEST(HyperlinkLabel, HoverColourCaptureAndHandCursor) {
  Dialog dialog(IDD_ABOUT);
  HyperlinkLabel link;
  link.SetURL("https://zlib.net/");
  dialog.AddControl(link, IDC_ZLIB_LINK);
  ASSERT_TRUE(dialog.CreateModeless());
  const HWND control = link.hwnd();
  ASSERT_NE(control, nullptr);

  HBRUSH brush = nullptr;
  EXPECT_EQ(PaintedColour(dialog.hwnd(), control, &brush), RGB(0, 0, 255));
  EXPECT_EQ(brush, static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)));
  LOGFONTA font = {};
  ASSERT_NE(GetObjectA(link.linkFont(), sizeof(font), &font), 0);
  EXPECT_TRUE(font.lfUnderline);  // underlined unless switched off before attaching
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), link.linkFont());

  SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
  EXPECT_TRUE(link.IsOver());
  EXPECT_EQ(GetCapture(), control);
  EXPECT_EQ(PaintedColour(dialog.hwnd(), control), GetSysColor(COLOR_HIGHLIGHT));

  if (HelpViewerHasHandCursor()) {
    ASSERT_NE(link.linkCursor(), nullptr);
    EXPECT_EQ(SendMessageA(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), link.linkCursor());
  } else {
    EXPECT_EQ(link.linkCursor(), nullptr);
  }

  // Still inside: nothing changes; outside: the capture goes and the link colour returns.
  SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
  EXPECT_TRUE(link.IsOver());
  SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(-3, -3));
  EXPECT_FALSE(link.IsOver());
  EXPECT_NE(GetCapture(), control);
  EXPECT_EQ(PaintedColour(dialog.hwnd(), control), RGB(0, 0, 255));
  link.SetVisited(true);
  EXPECT_EQ(PaintedColour(dialog.hwnd(), control), RGB(100, 30, 160));

  // A new address reaches the tooltip.
  link.SetURL("https://zlib.net/manual.html");
  EXPECT_EQ(ToolText(link.tooltip(), control), "https://zlib.net/manual.html");
}

// Points the ".htm" class at a class of this test and puts the previous one back afterwards.
// Both cases share one test: they change the same key of the prefix.
class WebPageClass {
 public:
  explicit WebPageClass(const std::string& className) : className_(className) {
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ".htm", 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
      char value[MAX_PATH] = {};
      DWORD size = sizeof(value) - 1;
      if (RegQueryValueExA(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                           &size) == ERROR_SUCCESS) {
        previous_ = value;
      }
    }
    SetDefault(".htm", className_);
  }
  ~WebPageClass() {
    if (previous_) {
      SetDefault(".htm", *previous_);
    } else {
      RegDeleteKeyA(HKEY_CLASSES_ROOT, ".htm");
    }
    RegDeleteTreeA(HKEY_CLASSES_ROOT, className_.c_str());
  }
  static bool SetDefault(const std::string& keyName, const std::string& value) {
    UniqueHkey key;
    return RegCreateKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                           key.put(), nullptr) == ERROR_SUCCESS &&
           RegSetValueExA(key.get(), nullptr, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  }

 private:
  std::string className_;
  std::optional<std::string> previous_;
};

TEST(HyperlinkLabel, RegisteredPageProgramWhenTheShellCannotOpen) {
  TempFolder folder;
  const std::string record = folder.File("arguments.txt");
  const std::string browser = folder.File("browser.cmd");
  // Written aside and then moved, so that the record appears whole.
  const std::string part = record + ".part";
  ASSERT_TRUE(WriteTextFile(browser, "@echo [%1]>\"" + part + "\"\r\n@echo [%2]>>\"" + part +
                                         "\"\r\n@echo [%3]>>\"" + part + "\"\r\n@move /y \"" +
                                         part + "\" \"" + record + "\" >nul\r\n"));
  const std::string unique =
      std::to_string(GetCurrentProcessId()) + "x" + std::to_string(GetTickCount());
  // A protocol that nothing handles, so that the shell fails.
  const std::string address = "vorlatchnone" + unique + ":page";
  const std::string pageClass = "VorlatchLinkTest" + unique;
  WebPageClass registered(pageClass);
  ASSERT_TRUE(WebPageClass::SetDefault(pageClass + "\\shell\\open\\command",
                                       "\"" + browser + "\" -first \"%1\" -after"));

  Dialog dialog(IDD_ABOUT);
  HyperlinkLabel link;
  link.SetURL(address);
  dialog.AddControl(link, IDC_HOME_LINK);
  ASSERT_TRUE(dialog.CreateModeless());
  SendMessageA(link.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
  SendMessageA(link.hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
  const std::optional<std::string> arguments = WaitForFile(record);
  ASSERT_TRUE(arguments.has_value()) << "the registered program was not started";
  // Cut before the quoted placeholder: what followed it is gone, the address came after a
  // blank.
  EXPECT_EQ(*arguments, "[-first]\r\n[" + address + "]\r\n[]\r\n");
  EXPECT_TRUE(link.IsVisited());

  // A page class without an open command: the click fails, beeps, and the link is no longer
  // shown as visited.
  ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, (pageClass + "\\shell").c_str()), ERROR_SUCCESS);
  EXPECT_LE(OpenLinkAddress(address, SW_SHOW), 32);
  SendMessageA(link.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
  EXPECT_FALSE(link.IsVisited());
  EXPECT_EQ(PaintedColour(dialog.hwnd(), link.hwnd()), RGB(0, 0, 255));
}

}  // namespace
}  // namespace vorlatch
