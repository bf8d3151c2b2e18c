#include <gtest/gtest.h>

#include <string>

#include <windows.h>
#include <objbase.h>
#include <commctrl.h>

#include "app/destination_dialog.h"
#include "package/process_state.h"
#include "resources/resource.h"
#include "support/test_files.h"
#include "support/screenshot.h"
#include "support/ui_robot.h"
#include "ui/about_dialog.h"

namespace vorlatch {
namespace {

using test::ScopedCurrentDirectory;
using test::ScopedEnvironment;
using test::TempFolder;
using test::WriteTextFile;

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A script of its own in a temporary directory of its own.
class DestinationDialogTest : public ::testing::Test {
 protected:
  DestinationDialogTest() : tmp_("Tmp", folder_.path()), temp_("Temp", folder_.path()) {
    ResetProcessState();
  }
  void WriteScript(const std::string& general) {
    ASSERT_TRUE(WriteTextFile(folder_.File("Vorlatch.ini"), "[General]\r\n" + general));
  }
  WindowSnapshot WaitForDialog(const std::string& caption) {
    return WaitForSnapshot({.caption = caption, .className = "#32770"});
  }

  TempFolder folder_;
  ScopedEnvironment tmp_;
  ScopedEnvironment temp_;
};

TEST_F(DestinationDialogTest, CaptionProposalTopmostAboutAndCancel) {
  const std::string bid = folder_.path() + "Acme Zap";  // used as it stands
  WriteScript("Company=Acme\r\nProduct=Zap\r\nBID=" + bid + "\r\n");
  WindowSnapshot seen;
  bool iconShown = false;
  bool aboutShown = false;
  bool saved = false;
  bool linkBound = false;
  const std::string picture = ScreenshotFolder() + "destination_dialog.png";
  DeleteFileA(picture.c_str());
  DestinationDialog dialog;
  RobotThread robot([&] {
    seen = WaitForDialog("Acme installing Zap");
    if (seen.hwnd == nullptr) {
      return;
    }
    linkBound = Control::FromWindow(GetDlgItem(seen.hwnd, IDC_HOME_LINK)) == &dialog.homeLink();
    iconShown = SendMessageA(GetDlgItem(seen.hwnd, IDC_HOME_LINK), STM_GETICON, 0, 0) != 0;
    PressButton(seen.hwnd, IDC_ABOUT);
    const HWND about = WaitForWindow({.caption = "About this installation"});
    aboutShown = about != nullptr && GetWindow(about, GW_OWNER) == seen.hwnd;
    if (about != nullptr) {
      SendKey(about, VK_ESCAPE);
      WaitForWindowGone(about);
    }
    saved = SaveScreenPicture(seen.hwnd, picture);
    PressButton(seen.hwnd, IDCANCEL);
  });
  const INT_PTR result = RunDestinationDialog(dialog);
  robot.Join();
  SCOPED_TRACE(seen.Describe());
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(seen.ControlText(IDC_DESTINATION_PATH), bid);
  EXPECT_TRUE(seen.HasControl(IDC_DESTINATION_NOTE));
  EXPECT_EQ(seen.ControlText(IDC_DESTINATION_NOTE), "");
  EXPECT_TRUE(seen.IsTopmost());
  EXPECT_TRUE(iconShown);
  EXPECT_TRUE(linkBound);
  EXPECT_TRUE(aboutShown);
  EXPECT_TRUE(saved);
  EXPECT_EQ(dialog.homeLink().url(), kMakerHomePage);
  // Cancel leaves the directory as last set: the proposal, not created.
  EXPECT_EQ(g_state.destinationDirectory, bid);
  EXPECT_FALSE(IsDirectory(bid));
}

TEST_F(DestinationDialogTest, WithoutKeysProposesTheCurrentDirectoryAndAcceptsAnEmptyField) {
  WriteScript("Package=p\r\n");
  const std::string current = folder_.Subfolder("here");
  ScopedCurrentDirectory inside(current);
  WindowSnapshot seen;
  RobotThread robot([&] {
    seen = WaitForDialog("Vorlatch installing ...");
    if (seen.hwnd != nullptr) {
      SetControlText(seen.hwnd, IDC_DESTINATION_PATH, "");
      PressButton(seen.hwnd, IDC_NEXT);
    }
  });
  DestinationDialog dialog;
  EXPECT_EQ(dialog.Show(), IDOK);
  robot.Join();
  SCOPED_TRACE(seen.Describe());
  EXPECT_EQ(seen.ControlText(IDC_DESTINATION_PATH), current);
  EXPECT_EQ(g_state.destinationDirectory, current);
}

TEST_F(DestinationDialogTest, TypedPathLosesLeadingBlanksKeepsItsEndAndIsCreated) {
  WriteScript("BID=" + folder_.path() + "\r\n");
  const std::string typed = folder_.path() + "new\\deeper";
  RobotThread robot([&] {
    const WindowSnapshot seen = WaitForDialog("Vorlatch installing ...");
    if (seen.hwnd != nullptr) {
      SetControlText(seen.hwnd, IDC_DESTINATION_PATH, "  " + typed);
      PressButton(seen.hwnd, IDC_NEXT);
    }
  });
  DestinationDialog dialog;
  EXPECT_EQ(dialog.Show(), IDOK);
  robot.Join();
  EXPECT_EQ(g_state.destinationDirectory, typed);
  EXPECT_TRUE(IsDirectory(typed));
}

TEST_F(DestinationDialogTest, DirectoryThatCannotBeMadeIsNamedWithItsReasonAndTheDialogStays) {
  WriteScript("Product=Zap\r\n");
  // No such drive in the prefix.
  const std::string impossible = "Q:\\nowhere\\app";
  bool stillOpen = false;
  std::string message;
  RobotThread robot([&] {
    const WindowSnapshot seen = WaitForDialog("Vorlatch installing Zap");
    if (seen.hwnd == nullptr) {
      return;
    }
    SetControlText(seen.hwnd, IDC_DESTINATION_PATH, impossible);
    PressButton(seen.hwnd, IDC_NEXT);
    const WindowSnapshot box = WaitForDialog("Error");
    message = box.MessageText();
    PressButton(box.hwnd, IDOK);
    stillOpen = WaitForWindowGone(box.hwnd) && IsWindowVisible(seen.hwnd) != FALSE;
    PressButton(seen.hwnd, IDCANCEL);
  });
  DestinationDialog dialog;
  EXPECT_EQ(dialog.Show(), IDCANCEL);
  robot.Join();
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(message, "Can't create the folder\n\n" + impossible + "\n\nFile not found.");
  EXPECT_EQ(g_state.destinationDirectory, impossible);
}

TEST_F(DestinationDialogTest, FolderNameOutsideTheCodePageIsRefusedWithItsReason) {
  WriteScript("Product=Zap\r\n");
  const std::wstring base(folder_.path().begin(), folder_.path().end());
  const std::wstring foreign = base + L"\u5F20\u4E09";  // not in the Western code page
  std::string message;
  bool stillOpen = false;
  RobotThread robot([&] {
    const WindowSnapshot seen = WaitForDialog("Vorlatch installing Zap");
    if (seen.hwnd == nullptr) {
      return;
    }
    SetDlgItemTextW(seen.hwnd, IDC_DESTINATION_PATH, foreign.c_str());
    PressButton(seen.hwnd, IDC_NEXT);
    const WindowSnapshot box = WaitForSnapshot({.caption = "Error"});
    message = box.MessageText();
    if (box.hwnd != nullptr) {
      PressButton(box.hwnd, IDOK);
      WaitForWindowGone(box.hwnd);
    }
    stillOpen = IsWindowVisible(seen.hwnd) != FALSE;
    PressButton(seen.hwnd, IDCANCEL);
  });
  DestinationDialog dialog;
  EXPECT_EQ(dialog.Show(), IDCANCEL);
  robot.Join();
  EXPECT_EQ(
      message.rfind("The destination folder\n\n" + folder_.path() + "??\n\ncannot be used", 0), 0u)
      << message;
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(GetFileAttributesW(foreign.c_str()), INVALID_FILE_ATTRIBUTES);
}

// What the start-up loop relies on when the existing-installation check asks for another
// location: the same dialog, shown again, proposes BID afresh.
TEST_F(DestinationDialogTest, ShownAgainProposesBidAfresh) {
  const std::string bid = folder_.path() + "proposed\\";
  const std::string other = folder_.Subfolder("other");
  WriteScript("BID=" + bid + "\r\n");
  std::string firstProposal;
  std::string secondProposal;
  RobotThread robot([&] {
    WindowSnapshot seen = WaitForDialog("Vorlatch installing ...");
    if (seen.hwnd == nullptr) {
      return;
    }
    firstProposal = seen.ControlText(IDC_DESTINATION_PATH);
    SetControlText(seen.hwnd, IDC_DESTINATION_PATH, other);
    PressButton(seen.hwnd, IDC_NEXT);
    WaitForWindowGone(seen.hwnd);
    seen = WaitForDialog("Vorlatch installing ...");
    if (seen.hwnd != nullptr) {
      secondProposal = seen.ControlText(IDC_DESTINATION_PATH);
      PressButton(seen.hwnd, IDCANCEL);
    }
  });
  DestinationDialog dialog;
  EXPECT_EQ(RunDestinationDialog(dialog), IDOK);
  EXPECT_EQ(g_state.destinationDirectory, other);
  EXPECT_EQ(RunDestinationDialog(dialog), IDCANCEL);
  robot.Join();
  EXPECT_EQ(firstProposal, bid);
  EXPECT_EQ(secondProposal, bid);
  EXPECT_EQ(g_state.destinationDirectory, bid);
}

TEST_F(DestinationDialogTest, CancelledFolderBrowserPutsBackTheStoredDirectory) {
  const std::string bid = folder_.path() + "stored\\";
  WriteScript("BID=" + bid + "\r\n");
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  std::string afterBrowse;
  bool browserSeen = false;
  RobotThread robot([&] {
    const WindowSnapshot seen = WaitForDialog("Vorlatch installing ...");
    if (seen.hwnd == nullptr) {
      return;
    }
    SetControlText(seen.hwnd, IDC_DESTINATION_PATH, "typed but not kept");
    PressButton(seen.hwnd, IDC_BROWSE);
    const WindowSnapshot browser = WaitForSnapshot({.controlText = kSelectDirectoryTitle});
    browserSeen = browser.hwnd != nullptr && GetWindow(browser.hwnd, GW_OWNER) == seen.hwnd;
    if (browser.hwnd != nullptr) {
      PressButton(browser.hwnd, IDCANCEL);
      WaitForWindowGone(browser.hwnd);
    }
    afterBrowse = ReadControlText(seen.hwnd, IDC_DESTINATION_PATH);
    PressButton(seen.hwnd, IDCANCEL);
  });
  DestinationDialog dialog;
  EXPECT_EQ(dialog.Show(), IDCANCEL);
  robot.Join();
  CoUninitialize();
  EXPECT_TRUE(browserSeen);
  EXPECT_EQ(afterBrowse, bid);
  EXPECT_EQ(g_state.destinationDirectory, bid);
}

}  // namespace
}  // namespace vorlatch

namespace vorlatch {
namespace {

std::string ItemText(HWND tree, HTREEITEM item) {
  char text[MAX_PATH] = {};
  TVITEMA description = {};
  description.mask = TVIF_TEXT;
  description.hItem = item;
  description.pszText = text;
  description.cchTextMax = sizeof(text);
  SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&description));
  return text;
}

// The first child of `parent` (expanded first) whose text contains `part`.
HTREEITEM ExpandAndFind(HWND tree, HTREEITEM parent, const std::string& part) {
  SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
  for (auto item = reinterpret_cast<HTREEITEM>(
           SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
       item != nullptr; item = reinterpret_cast<HTREEITEM>(SendMessageA(
                            tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
    if (ItemText(tree, item).find(part) != std::string::npos) {
      return item;
    }
  }
  return nullptr;
}

TEST_F(DestinationDialogTest, BrowsingToTheDriveRootGivesOneBackslash) {
  WriteScript("BID=" + folder_.path() + "\r\n");
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  std::string afterBrowse;
  std::string treeSeen;
  RobotThread robot([&] {
    const WindowSnapshot seen = WaitForDialog("Vorlatch installing ...");
    if (seen.hwnd == nullptr) {
      return;
    }
    PressButton(seen.hwnd, IDC_BROWSE);
    const HWND browser = WaitForWindow({.controlText = kSelectDirectoryTitle});
    if (browser == nullptr) {
      return;
    }
    const HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    HTREEITEM drive = nullptr;
    if (tree != nullptr) {
      const auto top =
          reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
      treeSeen = ItemText(tree, top);
      // The drive is under the computer, which is under the desktop (the root).
      for (auto computer = ExpandAndFind(tree, top, ""); computer != nullptr && drive == nullptr;
           computer = reinterpret_cast<HTREEITEM>(SendMessageA(
               tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(computer)))) {
        drive = ExpandAndFind(tree, computer, "(C:)");
      }
    }
    if (drive != nullptr) {
      SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(drive));
      PressButton(browser, IDOK);
    } else {
      ADD_FAILURE() << "no drive C in the folder browser; root " << treeSeen;
      PressButton(browser, IDCANCEL);
    }
    WaitForWindowGone(browser);
    afterBrowse = ReadControlText(seen.hwnd, IDC_DESTINATION_PATH);
    PressButton(seen.hwnd, IDCANCEL);
  });
  DestinationDialog dialog;
  EXPECT_EQ(dialog.Show(), IDCANCEL);
  robot.Join();
  CoUninitialize();
  EXPECT_EQ(afterBrowse, "C:\\");
  EXPECT_EQ(g_state.destinationDirectory, "C:\\");
}

}  // namespace
}  // namespace vorlatch
