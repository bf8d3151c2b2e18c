// Both forms of the archive error, as the user sees them: the real message box read by the
// robot.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/opening.h"
#include "package/process_state.h"
#include "support/ui_robot.h"

namespace vorlatch {
namespace {

struct SeenBox {
  WindowSnapshot window;
  HICON icon = nullptr;
};

// Shows the archive error for this output file and answers it with OK.
SeenBox ShowAndAnswer(const std::string& currentOutputFile) {
  ResetProcessState();
  g_state.currentOutputFile = currentOutputFile;
  SeenBox seen;
  RobotThread robot([&] {
    seen.window = WaitForSnapshot({.caption = "I/O Error", .className = "#32770"});
    if (seen.window.hwnd == nullptr) {
      return;
    }
    seen.icon = seen.window.MessageBoxIcon();
    PressButton(seen.window.hwnd, IDOK);
  });
  ShowArchiveError();
  robot.Join();
  ResetProcessState();
  return seen;
}

// MB_OK | MB_ICONERROR, owner none, neither system-modal nor topmost.
void ExpectErrorBoxWithOkOnly(const SeenBox& seen) {
  SCOPED_TRACE(seen.window.Describe());
  EXPECT_EQ(seen.window.caption, "I/O Error");
  EXPECT_EQ(seen.window.ButtonIds(), std::vector<int>{IDOK});
  EXPECT_EQ(seen.window.ControlText(IDOK), "OK");
  ASSERT_NE(seen.icon, nullptr);
  EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_ERROR));
  EXPECT_EQ(GetWindow(seen.window.hwnd, GW_OWNER), nullptr);
  EXPECT_FALSE(seen.window.IsTopmost());
}

TEST(ArchiveError, ShortFormWithoutAnOutputFile) {
  const SeenBox seen = ShowAndAnswer("");
  EXPECT_EQ(seen.window.MessageText(), "Possibly corrupted archive.");
  ExpectErrorBoxWithOkOnly(seen);
}

TEST(ArchiveError, LongFormNamesTheFileBeingWritten) {
  const SeenBox seen = ShowAndAnswer("C:\\Program Files\\Zap\\zap.exe");
  EXPECT_EQ(seen.window.MessageText(),
            "Writing\n\nC:\\Program Files\\Zap\\zap.exe\n\nPossibly corrupted archive or file "
            "locked.");
  ExpectErrorBoxWithOkOnly(seen);
}

TEST(ArchiveError, FileNameIsShownLiterallyEvenWithFormatCharacters) {
  const SeenBox seen = ShowAndAnswer("C:\\100%s %d%n\\x.txt");
  EXPECT_EQ(seen.window.MessageText(),
            "Writing\n\nC:\\100%s %d%n\\x.txt\n\nPossibly corrupted archive or file locked.");
}

}  // namespace
}  // namespace vorlatch
