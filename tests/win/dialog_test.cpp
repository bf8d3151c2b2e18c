#include "ui/dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "resources/resource.h"
#include "support/screenshot.h"
#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

constexpr COLORREF kProbeColour = RGB(0, 200, 0);

// A control on the confirmation template's text field that makes it clickable, counts what
// the dialog reflects to it, paints it green and refuses one text.
class ProbeControl : public Control {
 public:
  ProbeControl() : brush_(CreateSolidBrush(kProbeColour)) {}

  std::atomic<int> attachCalls{0};
  std::atomic<int> clicks{0};
  std::atomic<int> colourRequests{0};

 protected:
  void OnAttach() override {
    ++attachCalls;
    SetWindowLongPtrA(hwnd(), GWL_STYLE, GetWindowLongPtrA(hwnd(), GWL_STYLE) | SS_NOTIFY);
  }
  bool OnReflectedCommand(int notifyCode) override {
    if (notifyCode == STN_CLICKED) {
      ++clicks;
      return true;
    }
    return false;
  }
  HBRUSH OnReflectedCtlColor(HDC dc) override {
    ++colourRequests;
    SetBkColor(dc, kProbeColour);
    return static_cast<HBRUSH>(brush_.get());
  }
  bool OnMessage(UINT message, WPARAM, LPARAM lParam, LRESULT& result) override {
    if (message == WM_SETTEXT && std::string(reinterpret_cast<const char*>(lParam)) == "refused") {
      result = FALSE;
      return true;
    }
    return false;
  }

 private:
  UniqueGdiObject brush_;
};

class ProbeDialog : public Dialog {
 public:
  ProbeDialog() : Dialog(IDD_CONFIRM) { AddControl(probe, IDC_CONFIRM_TEXT); }

  ProbeControl probe;
  HWND windowAtInit = nullptr;
  bool probeAttachedAtInit = false;
  std::atomic<int> textCommands{0};

 protected:
  bool OnInitDialog() override {
    windowAtInit = hwnd();
    probeAttachedAtInit = probe.hwnd() == Item(IDC_CONFIRM_TEXT) && probe.hwnd() != nullptr;
    SetItemText(IDC_CONFIRM_TEXT, "probe");
    return Dialog::OnInitDialog();
  }
  bool OnCommand(int id, int notifyCode, HWND control) override {
    if (id == IDC_CONFIRM_TEXT) {
      ++textCommands;
    }
    if (id == IDYES) {
      EndDialog(42);
      return true;
    }
    return Dialog::OnCommand(id, notifyCode, control);
  }
};

HWND WaitForConfirm() {
  WindowQuery query;
  query.caption = "Confirm";
  return WaitForWindow(query);
}

bool WaitFor(const std::atomic<int>& counter) {
  const ULONGLONG end = GetTickCount64() + kRobotTimeoutMs;
  while (counter.load() == 0 && GetTickCount64() < end) {
    Sleep(20);
  }
  return counter.load() > 0;
}

TEST(Dialog, RunsModallyAndReturnsTheEndDialogValueWithItsControlsBoundFirst) {
  ProbeDialog dialog;
  HWND seenWindow = nullptr;
  RobotThread robot([&] {
    seenWindow = WaitForConfirm();
    if (seenWindow != nullptr) {
      PressButton(seenWindow, IDYES);
    }
  });
  EXPECT_EQ(dialog.RunModal(), 42);
  robot.Join();
  EXPECT_EQ(dialog.windowAtInit, seenWindow);
  EXPECT_TRUE(dialog.probeAttachedAtInit);
  EXPECT_EQ(dialog.probe.attachCalls.load(), 1);
  // Once the window is gone, neither the dialog nor its control holds a handle.
  EXPECT_EQ(dialog.hwnd(), nullptr);
  EXPECT_FALSE(dialog.probe.IsAttached());
  EXPECT_FALSE(IsWindow(seenWindow));
}

TEST(Dialog, EscapeEndsTheBaseDialogWithCancel) {
  ProbeDialog dialog;
  RobotThread robot([&] {
    if (HWND window = WaitForConfirm(); window != nullptr) {
      SendKey(window, VK_ESCAPE);
    }
  });
  EXPECT_EQ(dialog.RunModal(), IDCANCEL);
}

TEST(Dialog, ReflectsTheChildsClickAndColourRequestToItsControl) {
  ProbeDialog dialog;
  bool clicked = false;
  bool painted = false;
  bool refused = false;
  std::string textAfter;
  COLORREF pixel = CLR_INVALID;
  RobotThread robot([&] {
    const HWND window = WaitForConfirm();
    if (window == nullptr) {
      return;
    }
    const HWND text = GetDlgItem(window, IDC_CONFIRM_TEXT);
    painted = WaitFor(dialog.probe.colourRequests);
    // A real click on the static: it notifies its parent, which hands the click back.
    PostMessageA(text, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    PostMessageA(text, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    clicked = WaitFor(dialog.probe.clicks);
    // The control's own window procedure answers first.
    refused = SetWindowTextA(text, "refused") == FALSE;
    textAfter = ReadControlText(window, IDC_CONFIRM_TEXT);
    SaveScreenPicture(window, ScreenshotFolder() + "dialog_probe.png");
    const HDC dc = GetDC(text);
    pixel = GetPixel(dc, 1, 1);
    ReleaseDC(text, dc);
    PressButton(window, IDCANCEL);
  });
  EXPECT_EQ(dialog.RunModal(), IDCANCEL);
  robot.Join();
  EXPECT_TRUE(painted);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(dialog.textCommands.load(), 0) << "a handled reflection does not reach OnCommand";
  EXPECT_EQ(pixel, kProbeColour) << "the brush that the control returned painted it";
  EXPECT_TRUE(refused);
  EXPECT_EQ(textAfter, "probe");
}

TEST(Dialog, CreatesAndDestroysAModelessWindow) {
  HWND window = nullptr;
  {
    Dialog dialog(IDD_PROGRESS);
    ASSERT_TRUE(dialog.CreateModeless());
    window = dialog.hwnd();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(dialog.IsModal());
    EXPECT_FALSE(IsWindowVisible(window)) << "the template is not initially visible";
    EXPECT_FALSE(dialog.CreateModeless()) << "one window per object";
    dialog.SetCaption("Modeless");
    EXPECT_EQ(dialog.Caption(), "Modeless");
    dialog.SetItemText(IDC_PROGRESS_TEXT, "item");
    EXPECT_EQ(dialog.ItemText(IDC_PROGRESS_TEXT), "item");
    dialog.Destroy();
    EXPECT_EQ(dialog.hwnd(), nullptr);
    EXPECT_FALSE(IsWindow(window));
    ASSERT_TRUE(dialog.CreateModeless()) << "a new window after the old one is gone";
    window = dialog.hwnd();
  }
  EXPECT_FALSE(IsWindow(window)) << "the destructor destroys an open modeless window";
}

TEST(Dialog, AMissingTemplateFailsCleanly) {
  Dialog dialog(4711);
  EXPECT_EQ(dialog.RunModal(), -1);
  EXPECT_FALSE(dialog.CreateModeless());
  EXPECT_EQ(dialog.hwnd(), nullptr);
}

TEST(Control, AttachesOnlyToAnExistingUnboundWindow) {
  Dialog dialog(IDD_PROGRESS);
  ASSERT_TRUE(dialog.CreateModeless());
  const HWND text = dialog.Item(IDC_PROGRESS_TEXT);
  Control first;
  Control second;
  EXPECT_FALSE(first.Attach(nullptr));
  EXPECT_TRUE(first.Attach(text));
  EXPECT_EQ(Control::FromWindow(text), &first);
  EXPECT_FALSE(second.Attach(text)) << "a window has one owner";
  first.Detach();
  EXPECT_EQ(Control::FromWindow(text), nullptr);
  EXPECT_TRUE(second.Attach(text));
  dialog.Destroy();
  EXPECT_FALSE(second.IsAttached()) << "destroying the window lets go of it";
}

}  // namespace
}  // namespace vorlatch
