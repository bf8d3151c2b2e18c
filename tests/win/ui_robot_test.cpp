// The robot against real windows of this process: message boxes and a dialog made from a
// template in memory, answered from a helper thread while the main thread runs them modally.

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/ui_robot.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

struct BoxCase {
  UINT style;
  int press;
  std::vector<int> buttons;
};

TEST(UiRobot, ReadsAndAnswersMessageBoxes) {
  const BoxCase cases[] = {
      {MB_OK | MB_ICONINFORMATION, IDOK, {IDOK}},
      {MB_OKCANCEL | MB_ICONQUESTION, IDCANCEL, {IDOK, IDCANCEL}},
      {MB_YESNO | MB_ICONQUESTION, IDYES, {IDYES, IDNO}},
      {MB_YESNOCANCEL, IDNO, {IDYES, IDNO, IDCANCEL}},
      {MB_RETRYCANCEL | MB_ICONERROR, IDRETRY, {IDRETRY, IDCANCEL}},
      {MB_ABORTRETRYIGNORE, IDIGNORE, {IDABORT, IDRETRY, IDIGNORE}},
  };
  int round = 0;
  for (const BoxCase& box : cases) {
    // Appended rather than concatenated: GCC 12 warns falsely about operator+ at -O3 on i686.
    std::string caption = "Robot box ";
    caption += std::to_string(++round);
    std::string text = "Line one\n\nLine ";
    text += std::to_string(round);
    WindowSnapshot seen;
    RobotThread robot([&] {
      seen = WaitForSnapshot({.caption = caption, .className = "#32770"});
      if (seen.hwnd != nullptr) {
        PressButton(seen.hwnd, box.press);
      }
    });
    const int result = MessageBoxA(nullptr, text.c_str(), caption.c_str(), box.style);
    robot.Join();
    SCOPED_TRACE(seen.Describe());
    EXPECT_EQ(result, box.press);
    EXPECT_EQ(seen.caption, caption);
    EXPECT_EQ(seen.MessageText(), text);
    EXPECT_EQ(seen.ButtonIds(), box.buttons);
    EXPECT_FALSE(seen.IsTopmost());
  }
}

TEST(UiRobot, FindsABoxByItsTextAndSeesSystemModalAsTopmost) {
  WindowSnapshot seen;
  RobotThread robot([&] {
    seen = WaitForSnapshot({.controlText = "unique 7f3a"});
    if (seen.hwnd != nullptr) {
      PressButton(seen.hwnd, IDOK);
    }
  });
  const int result =
      MessageBoxA(nullptr, "A text with unique 7f3a inside", "", MB_OK | MB_SYSTEMMODAL);
  robot.Join();
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(seen.caption, "");
  EXPECT_TRUE(seen.IsTopmost()) << seen.Describe();
}

TEST(UiRobot, KeysAnswerMessageBoxes) {
  struct KeyCase {
    UINT style;
    WORD key;
    int expected;
  };
  const KeyCase cases[] = {
      {MB_OKCANCEL, VK_ESCAPE, IDCANCEL},
      {MB_OKCANCEL, VK_RETURN, IDOK},
      {MB_YESNO | MB_DEFBUTTON2, VK_RETURN, IDNO},
  };
  for (const KeyCase& keyCase : cases) {
    RobotThread robot([&] {
      if (HWND box = WaitForWindow({.caption = "Robot keys"})) {
        SendKey(box, keyCase.key);
      }
    });
    EXPECT_EQ(MessageBoxA(nullptr, "Press a key", "Robot keys", keyCase.style), keyCase.expected);
  }
}

TEST(UiRobot, TimeOutFailsWithTheWindowsOnScreenAndClosesThem) {
  static int result = -1;
  EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
      {
        RobotThread robot([] { WaitForWindow({.caption = "Never shown", .timeoutMs = 300}); });
        result = MessageBoxA(nullptr, "Decoy text", "Robot decoy", MB_OKCANCEL);
      },
      "Robot decoy");
  // The robot closed the box it did not want, so the main thread was not left waiting.
  EXPECT_EQ(result, IDCANCEL);
}

// A dialog template built in memory: caption, an edit control, a check box, OK and Cancel.
constexpr int kEditId = 101;
constexpr int kCheckId = 102;

class TemplateBuilder {
 public:
  TemplateBuilder(const char* caption, DWORD style, short cx, short cy) {
    Dword(style);
    Dword(0);             // extended style
    words_.push_back(0);  // item count, set by Item
    Short(0), Short(0), Short(cx), Short(cy);
    words_.push_back(0);  // no menu
    words_.push_back(0);  // default class
    Text(caption);
    words_.push_back(8);  // DS_SETFONT point size
    Text("MS Shell Dlg");
  }

  void Item(DWORD style, short x, short y, short cx, short cy, int id, WORD atom,
            const char* text) {
    if (words_.size() % 2 != 0) {
      words_.push_back(0);  // items start on a DWORD boundary
    }
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Short(x), Short(y), Short(cx), Short(cy);
    words_.push_back(static_cast<WORD>(id));
    words_.push_back(0xFFFF);
    words_.push_back(atom);
    Text(text);
    words_.push_back(0);  // no creation data
    ++words_[4];
  }

  // The template in DWORD-aligned storage.
  std::vector<DWORD> Build() const {
    std::vector<DWORD> storage((words_.size() + 1) / 2);
    std::memcpy(storage.data(), words_.data(), words_.size() * sizeof(WORD));
    return storage;
  }

 private:
  void Dword(DWORD value) {
    words_.push_back(LOWORD(value));
    words_.push_back(HIWORD(value));
  }
  void Short(short value) { words_.push_back(static_cast<WORD>(value)); }
  void Text(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
      words_.push_back(static_cast<unsigned char>(*p));
    }
    words_.push_back(0);
  }

  std::vector<WORD> words_;
};

struct DialogResult {
  std::string editText;
  bool checked = false;
};

INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    SetDlgItemTextA(dialog, kEditId, "initial");
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    auto* result = reinterpret_cast<DialogResult*>(GetWindowLongPtrA(dialog, DWLP_USER));
    char text[256] = {};
    GetDlgItemTextA(dialog, kEditId, text, sizeof text);
    result->editText = text;
    result->checked = IsDlgButtonChecked(dialog, kCheckId) == BST_CHECKED;
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

INT_PTR RunTestDialog(DialogResult& result) {
  TemplateBuilder builder(
      "Robot dialog",
      DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_CENTER, 200,
      90);
  builder.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 10, 10, 180, 14, kEditId, 0x0081, "");
  builder.Item(BS_AUTOCHECKBOX | WS_TABSTOP, 10, 30, 180, 12, kCheckId, 0x0080, "Check me");
  builder.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 40, 60, 50, 14, IDOK, 0x0080, "OK");
  builder.Item(BS_PUSHBUTTON | WS_TABSTOP, 110, 60, 50, 14, IDCANCEL, 0x0080, "Cancel");
  std::vector<DWORD> storage = builder.Build();
  return DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                                 reinterpret_cast<LPCDLGTEMPLATEA>(storage.data()), nullptr,
                                 TestDialogProc, reinterpret_cast<LPARAM>(&result));
}

TEST(UiRobot, TypesIntoADialogAndPressesItsButtons) {
  WindowSnapshot seen;
  std::string readBack;
  RobotThread robot([&] {
    seen = WaitForSnapshot({.caption = "Robot dialog", .className = "#32770"});
    if (seen.hwnd == nullptr) {
      return;
    }
    SetControlText(seen.hwnd, kEditId, "typed by the robot");
    readBack = ReadControlText(seen.hwnd, kEditId);
    PressButton(seen.hwnd, kCheckId);
    PressButton(seen.hwnd, IDOK);
  });
  DialogResult result;
  const INT_PTR code = RunTestDialog(result);
  robot.Join();
  EXPECT_EQ(code, IDOK);
  EXPECT_EQ(result.editText, "typed by the robot");
  EXPECT_TRUE(result.checked);
  EXPECT_EQ(readBack, "typed by the robot");

  // The snapshot shows the dialog as it was before the robot touched it.
  EXPECT_EQ(seen.ControlText(kEditId), "initial");
  ASSERT_TRUE(seen.HasControl(kCheckId));
  EXPECT_EQ(seen.Control(kCheckId)->text, "Check me");
  EXPECT_EQ(seen.Control(kEditId)->className, "Edit");
  EXPECT_EQ(seen.ButtonIds(), (std::vector<int>{kCheckId, IDOK, IDCANCEL}));
  EXPECT_NE(seen.style & WS_CAPTION, 0u);
}

TEST(UiRobot, EnterEscapeAndCloseEndTheDialog) {
  struct Ending {
    int kind;  // 0: Enter, 1: Esc, 2: WM_CLOSE
    INT_PTR expected;
  };
  for (const Ending ending : {Ending{0, IDOK}, Ending{1, IDCANCEL}, Ending{2, IDCANCEL}}) {
    RobotThread robot([&] {
      HWND dialog = WaitForWindow({.caption = "Robot dialog"});
      if (dialog == nullptr) {
        return;
      }
      if (ending.kind == 0) {
        SendKey(dialog, VK_RETURN);
      } else if (ending.kind == 1) {
        SendKey(dialog, VK_ESCAPE);
      } else {
        RequestClose(dialog);
      }
      WaitForWindowGone(dialog);
    });
    DialogResult result;
    EXPECT_EQ(RunTestDialog(result), ending.expected) << "ending " << ending.kind;
    EXPECT_EQ(result.editText, "initial");
  }
}

TEST(UiRobot, SavesAScreenshotAsPng) {
  const std::string path = ScreenshotFolder() + "robot_test_message_box.png";
  DeleteFileA(path.c_str());
  bool saved = false;
  RECT rect = {};
  RobotThread robot([&] {
    if (HWND box = WaitForWindow({.caption = "Robot picture"})) {
      GetWindowRect(box, &rect);
      saved = SaveScreenshot(box, path);
      PressButton(box, IDOK);
    }
  });
  MessageBoxA(nullptr, "Smile", "Robot picture", MB_OK | MB_ICONINFORMATION);
  robot.Join();
  ASSERT_TRUE(saved);

  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  unsigned char head[24] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(file.get(), head, sizeof head, &read, nullptr));
  ASSERT_EQ(read, sizeof head);
  EXPECT_EQ(std::memcmp(head, "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), 0);
  auto bigEndian = [&](int at) {
    return (head[at] << 24) | (head[at + 1] << 16) | (head[at + 2] << 8) | head[at + 3];
  };
  EXPECT_EQ(bigEndian(16), rect.right - rect.left);
  EXPECT_EQ(bigEndian(20), rect.bottom - rect.top);
  // A blank capture compresses to a few hundred bytes; frame, icon and text take more.
  EXPECT_GT(GetFileSize(file.get(), nullptr), 1000u);
  file.reset();
  DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace vorlatch
