#include "actions/file_extraction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>

#include "package/opening.h"
#include "package/process_state.h"
#include "resources/resource.h"
#include "script/script_access.h"
#include "support/installer_test.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "ui/progress_dialog.h"

namespace vorlatch {
namespace {

using test::ScopedEnvironment;
using test::TempFolder;

// What the robot saw of one prompt.
struct Prompt {
  std::string caption;
  std::string text;
  std::string progressText;  // the progress window's text while the prompt was up
  std::vector<int> buttons;
  HICON icon = nullptr;
};

// One answer: the button to press, and something to do just before pressing it.
struct Answer {
  int button;
  std::function<void()> before = {};
};

bool IsPromptCaption(const std::string& caption) {
  return caption == "Confirm" || caption == "Error" || caption == "Uninstall" ||
         caption == "I/O Error";
}

// Answers the prompts of this process in turn, on a helper thread, until Finish. A prompt
// beyond the scripted answers fails the test and is answered No (or Cancel, or OK), so that
// the code under test does not wait for ever.
class PromptRobot {
 public:
  explicit PromptRobot(std::vector<Answer> answers)
      : answers_(std::move(answers)), thread_([this] { Run(); }) {}

  // Waits until the robot has stopped; the prompts it saw are then safe to read.
  // Windows of the calling thread keep answering while it waits: the robot reads them.
  const std::vector<Prompt>& Finish() {
    done_ = true;
    while (!stopped_) {
      MSG message;
      while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
      }
      ::Sleep(1);
    }
    thread_.Join();
    return seen_;
  }

 private:
  void Run() {
    std::size_t next = 0;
    while (!done_) {
      const HWND prompt = FindPrompt();
      if (prompt == nullptr) {
        ::Sleep(5);
        continue;
      }
      const WindowSnapshot window = Snapshot(prompt);
      Prompt seen;
      seen.caption = window.caption;
      seen.text = window.HasControl(IDC_CONFIRM_TEXT) ? window.ControlText(IDC_CONFIRM_TEXT)
                                                      : window.MessageText();
      seen.buttons = window.ButtonIds();
      seen.icon = window.MessageBoxIcon();
      for (const HWND other : TopLevelWindows(0, true)) {
        if (Snapshot(other).caption == "Extracting") {
          seen.progressText = ReadControlText(other, IDC_PROGRESS_TEXT);
        }
      }
      seen_.push_back(seen);
      if (next < answers_.size()) {
        if (answers_[next].before) {
          answers_[next].before();
        }
        PressButton(prompt, answers_[next].button);
        ++next;
      } else {
        ADD_FAILURE() << "unexpected prompt: " << window.Describe();
        PressButton(prompt, window.HasControl(IDNO)       ? IDNO
                            : window.HasControl(IDCANCEL) ? IDCANCEL
                                                          : IDOK);
      }
      WaitForWindowGone(prompt);
    }
    EXPECT_EQ(next, answers_.size()) << "answers left unused";
    stopped_ = true;
  }

  static HWND FindPrompt() {
    for (const HWND window : TopLevelWindows(0, true)) {
      const WindowSnapshot snapshot = Snapshot(window);
      if (snapshot.className == "#32770" && IsPromptCaption(snapshot.caption)) {
        return window;
      }
    }
    return nullptr;
  }

  std::vector<Answer> answers_;
  std::vector<Prompt> seen_;
  std::atomic<bool> done_{false};
  std::atomic<bool> stopped_{false};
  RobotThread thread_;
};

struct Item {
  std::string name;
  std::string content;
  std::string target = "[BID]";
};

std::string Quoted(const std::string& prefix, const std::string& path, const std::string& suffix) {
  std::string text = prefix;
  text.append(path).append(suffix);
  return text;
}

class FileExtractionTest : public test::InstallerTest {
 protected:
  // Packs the items (File1 is the first) with the packer, opens the package and extracts the
  // script, as start-up does.
  void Package(const std::vector<Item>& items) {
    std::string project = "[General]\r\nProduct=Extraction Test\r\n[File]\r\nFile=";
    project.append(std::to_string(items.size())).append("\r\n");
    const std::string sources = folder_.Subfolder("sources");
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      const std::string source = sources + "source" + n + ".txt";
      ASSERT_TRUE(test::WriteTextFile(source, items[i].content));
      project.append("File").append(n).append("=").append(items[i].name).append("\r\n");
      project.append("Target").append(n).append("=").append(items[i].target).append("\r\n");
      project.append("Source").append(n).append("=").append(source).append("\r\n");
    }
    test::OpenTestPackage(folder_, project);
  }

  // Runs ExtractFiles on this thread while the robot gives the answers.
  int Extract(std::vector<Answer> answers, std::vector<Prompt>* seen = nullptr) {
    PromptRobot robot(std::move(answers));
    const int result = ExtractFiles();
    const std::vector<Prompt>& prompts = robot.Finish();
    if (seen != nullptr) {
      *seen = prompts;
    }
    return result;
  }

  std::string Dest(const std::string& name) const { return dest_ + name; }
  std::string Text(const std::string& path) const { return test::ReadTextFile(path).value_or(""); }
};

TEST_F(FileExtractionTest, ExistingFilesAreAskedAboutLastFirstAndReplaced) {
  Package({{"one.txt", "new one"}, {"two.txt", "new two"}, {"three.txt", "new three"}});
  for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
    ASSERT_TRUE(test::WriteTextFile(Dest(name), "old"));
  }
  // A read-only target is replaced all the same.
  ASSERT_TRUE(test::SetAttributes(Dest("two.txt"), FILE_ATTRIBUTE_READONLY));

  std::vector<Prompt> seen;
  EXPECT_EQ(Extract({{IDYES}, {IDYES}, {IDYES}}, &seen), 1);
  ASSERT_EQ(seen.size(), 3u);
  const char* order[] = {"three.txt", "two.txt", "one.txt"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(seen[i].caption, "Confirm");
    EXPECT_EQ(seen[i].progressText, order[i]);
    EXPECT_EQ(seen[i].text, Quoted("File ", Dest(order[i]), " exists.\r\nOverwrite?"));
  }
  EXPECT_EQ(Text(Dest("one.txt")), "new one");
  EXPECT_EQ(Text(Dest("two.txt")), "new two");
  EXPECT_EQ(Text(Dest("three.txt")), "new three");
  EXPECT_EQ(test::GetAttributes(Dest("two.txt")) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(g_state.overwriteMode, OverwriteMode::kAsk);
  EXPECT_EQ(g_state.currentOutputFile, Dest("one.txt"));
  EXPECT_FALSE(g_state.extractionError);
}

TEST_F(FileExtractionTest, YesToAllOverwritesLaterFilesWithoutAsking) {
  Package({{"one.txt", "new one"}, {"two.txt", "new two"}, {"three.txt", "new three"}});
  for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
    ASSERT_TRUE(test::WriteTextFile(Dest(name), "old"));
  }
  std::vector<Prompt> seen;
  EXPECT_EQ(Extract({{IDYESTOALL}}, &seen), 1);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(g_state.overwriteMode, OverwriteMode::kYesToAll);
  EXPECT_EQ(Text(Dest("one.txt")), "new one");
  EXPECT_EQ(Text(Dest("two.txt")), "new two");
  EXPECT_EQ(Text(Dest("three.txt")), "new three");
}

TEST_F(FileExtractionTest, NoAndNoToAllKeepFilesWithTheirAttributes) {
  Package({{"one.txt", "new one"}, {"two.txt", "new two"}, {"three.txt", "new three"}});
  ASSERT_TRUE(test::WriteTextFile(Dest("three.txt"), "old three"));
  ASSERT_TRUE(test::SetAttributes(Dest("three.txt"), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(test::WriteTextFile(Dest("two.txt"), "old two"));
  ASSERT_TRUE(test::SetAttributes(Dest("two.txt"), FILE_ATTRIBUTE_HIDDEN));

  std::vector<Prompt> seen;
  EXPECT_EQ(Extract({{IDNO}, {IDNOTOALL}}, &seen), 1);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(g_state.overwriteMode, OverwriteMode::kNoToAll);
  EXPECT_EQ(Text(Dest("three.txt")), "old three");
  EXPECT_EQ(Text(Dest("two.txt")), "old two");
  // Skipped files get back the attributes that were cleared for the question.
  EXPECT_EQ(test::GetAttributes(Dest("three.txt")) & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(test::GetAttributes(Dest("two.txt")) & FILE_ATTRIBUTE_HIDDEN,
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
  // No to All skips files that do not exist yet, too.
  EXPECT_FALSE(test::FileExists(Dest("one.txt")));
  // Skipping is no extraction error: the driver then shows no summary.
  EXPECT_FALSE(g_state.extractionError);
}

// The bar counts the bytes of every file, a kept one too, and ends full.
TEST_F(FileExtractionTest, TheBarCountsEveryFileAKeptOneTooAndEndsFull) {
  Package({{"one.txt", std::string(3000, '1')}, {"two.txt", "kept"}, {"three.txt", "333"}});
  ASSERT_TRUE(test::WriteTextFile(Dest("two.txt"), "old"));
  EXPECT_EQ(Extract({{IDNO}}), 1);
  ASSERT_NE(g_state.progress, nullptr);
  EXPECT_EQ(ReadControlText(g_state.progress->hwnd(), IDC_PROGRESS_BAR), "100%");
}

TEST_F(FileExtractionTest, TargetsInTheTemporaryDirectoryAreOverwrittenWithoutAsking) {
  Package({{"fresh.txt", "fresh"}, {"scratch.txt", "new scratch", "[TEMP]"}});
  ASSERT_TRUE(test::WriteTextFile(temp_ + "scratch.txt", "old scratch"));
  std::vector<Prompt> seen;
  EXPECT_EQ(Extract({}, &seen), 1);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(Text(temp_ + "scratch.txt"), "new scratch");
  EXPECT_EQ(Text(Dest("fresh.txt")), "fresh");
}

TEST_F(FileExtractionTest, WithoutATemporaryDirectoryNoTargetIsAskedAbout) {
  ScopedEnvironment tmp("Tmp", std::nullopt);
  ScopedEnvironment temp("Temp", std::nullopt);
  test::ScopedCurrentDirectory current(temp_);
  Package({{"kept.txt", "new"}});
  ASSERT_TRUE(test::WriteTextFile(Dest("kept.txt"), "old"));
  std::vector<Prompt> seen;
  EXPECT_EQ(Extract({}, &seen), 1);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(Text(Dest("kept.txt")), "new");
}

TEST_F(FileExtractionTest, CancelThenNoAsksTheSameQuestionAgain) {
  Package({{"app.txt", "new"}});
  ASSERT_TRUE(test::WriteTextFile(Dest("app.txt"), "old"));
  std::vector<Prompt> seen;
  EXPECT_EQ(Extract({{IDCANCEL}, {IDNO}, {IDYES}}, &seen), 1);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].caption, "Confirm");
  EXPECT_EQ(seen[1].text, "Are you sure you want to terminate installation?");
  EXPECT_EQ(seen[1].buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(seen[1].icon, LoadIconA(nullptr, IDI_QUESTION));
  EXPECT_EQ(seen[2].text, seen[0].text);
  EXPECT_EQ(Text(Dest("app.txt")), "new");
}

TEST_F(FileExtractionTest, TerminationEndsTheExtractionOnTheSpot) {
  Package({{"first.txt", "first"}, {"second.txt", "new second"}});
  ASSERT_TRUE(test::WriteTextFile(Dest("second.txt"), "old second"));
  std::atomic<bool> returned{false};
  PromptRobot robot(std::vector<Answer>{{IDCANCEL}, {IDYES}, {IDOK}});
  WorkerThread worker([&] {
    ExtractFiles();
    returned = true;
  });
  EXPECT_EQ(worker.Wait(), 0u);
  const std::vector<Prompt>& seen = robot.Finish();
  EXPECT_FALSE(returned);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].caption, "Uninstall");
  EXPECT_EQ(seen[2].text, "Done.");
  EXPECT_EQ(seen[2].buttons, std::vector<int>{IDOK});
  EXPECT_EQ(seen[2].icon, nullptr);
  EXPECT_EQ(seen[2].progressText, "") << "the progress window is closed before Done.";
  EXPECT_EQ(g_state.progress, nullptr);
  EXPECT_EQ(Text(Dest("second.txt")), "old second");
  EXPECT_FALSE(test::FileExists(Dest("first.txt")));
}

TEST_F(FileExtractionTest, AnEmptyNameStopsWithTheArchiveErrorForTheLastFile) {
  Package({{"one.txt", "one"}, {"two.txt", "two"}, {"three.txt", "three"}});
  ASSERT_TRUE(WriteIniString("File", std::string("File2"), std::nullopt, ""));
  EXPECT_EQ(Extract({}), 0);
  EXPECT_EQ(Text(Dest("three.txt")), "three");
  EXPECT_FALSE(test::FileExists(Dest("one.txt")));
  EXPECT_EQ(g_state.currentOutputFile, Dest("three.txt"));

  PromptRobot robot(std::vector<Answer>{{IDOK}});
  ShowArchiveError();
  const std::vector<Prompt>& seen = robot.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "I/O Error");
  EXPECT_NE(seen[0].text.find(Dest("three.txt")), std::string::npos) << seen[0].text;
}

TEST_F(FileExtractionTest, AnItemOutsideThePackageOrOfNoBytesIsFatal) {
  Package({{"one.txt", "one"}, {"two.txt", "two"}});
  const int zip1 = ReadScriptInt("File", "Zip1", 0);
  ASSERT_TRUE(WriteIniInt("File", "Zip1", 0, -1));
  EXPECT_EQ(Extract({}), 0);
  EXPECT_EQ(Text(Dest("two.txt")), "two");
  EXPECT_FALSE(test::FileExists(Dest("one.txt")));
  // Item 1 is not in the package: the archive error names no file (two.txt was written well).
  EXPECT_EQ(g_state.currentOutputFile, "");

  g_state.overwriteMode = OverwriteMode::kYesToAll;
  ASSERT_TRUE(WriteIniInt("File", "Zip1", zip1, -1));
  ASSERT_TRUE(WriteIniInt("File", "Pos1", g_state.packageSize - 8, -1));
  EXPECT_EQ(Extract({}), 0);
  ASSERT_TRUE(WriteIniInt("File", "Pos1", -100, -1));
  EXPECT_EQ(Extract({}), 0);
  EXPECT_FALSE(test::FileExists(Dest("one.txt")));
}

TEST_F(FileExtractionTest, DoubledBackslashesAreCollapsed) {
  Package({{"\\sub\\\\deep.txt", "deep"}});
  EXPECT_EQ(Extract({}), 1);
  EXPECT_EQ(Text(Dest("sub\\deep.txt")), "deep");
  EXPECT_EQ(g_state.currentOutputFile, Dest("sub\\deep.txt"));
}

// A target held open without sharing cannot be deleted.
class LockedFile {
 public:
  explicit LockedFile(const std::string& path)
      : handle_(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  bool locked() const { return static_cast<bool>(handle_); }
  void Release() { handle_.reset(); }

 private:
  UniqueHandle handle_;
};

TEST_F(FileExtractionTest, ALockedTargetIsRetriedUntilItCanBeRemoved) {
  Package({{"locked.txt", "new"}});
  ASSERT_TRUE(test::WriteTextFile(Dest("locked.txt"), "old"));
  LockedFile lock(Dest("locked.txt"));
  ASSERT_TRUE(lock.locked());
  std::vector<Prompt> seen;
  EXPECT_EQ(Extract({{IDYES}, {IDRETRY}, {IDRETRY, [&] { lock.Release(); }}}, &seen), 1);
  ASSERT_EQ(seen.size(), 3u);
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(seen[i].caption, "Error");
    EXPECT_EQ(seen[i].text,
              Quoted("Can't remove ", Dest("locked.txt"), "\r\nAnother program is using it."));
    EXPECT_EQ(seen[i].buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
    EXPECT_EQ(seen[i].icon, LoadIconA(nullptr, IDI_ERROR));
  }
  EXPECT_EQ(Text(Dest("locked.txt")), "new");
}

TEST_F(FileExtractionTest, CancelLeavesALockedTargetOutAndGoesOn) {
  Package({{"next.txt", "next"}, {"locked.txt", "new"}});
  ASSERT_TRUE(test::WriteTextFile(Dest("locked.txt"), "old"));
  LockedFile lock(Dest("locked.txt"));
  ASSERT_TRUE(lock.locked());
  EXPECT_EQ(Extract({{IDYES}, {IDCANCEL}}), 1);
  lock.Release();
  EXPECT_EQ(Text(Dest("locked.txt")), "old");
  EXPECT_EQ(Text(Dest("next.txt")), "next");
  EXPECT_TRUE(g_state.extractionError);
}

TEST_F(FileExtractionTest, AnUnreadyDirectoryAsksWhetherToContinue) {
  // A file where a directory should be: the directory can never be made.
  ASSERT_TRUE(test::WriteTextFile(Dest("blocker"), "a file"));
  Package({{"ok.txt", "ok"}, {"blocker\\no.txt", "no"}, {"blocker\\yes.txt", "yes"}});
  std::vector<Prompt> seen;
  EXPECT_EQ(Extract({{IDYES}, {IDNO}, {IDNO}}, &seen), 1);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].caption, "Error");
  EXPECT_EQ(seen[0].text, Quoted("Can't extract ", Dest("blocker\\yes.txt"), ". Continue?"));
  EXPECT_EQ(seen[0].buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(seen[0].icon, LoadIconA(nullptr, IDI_WARNING));
  // MB_TOPMOST without MB_SYSTEMMODAL gives no topmost window under Wine; not checked.
  EXPECT_EQ(seen[1].text, Quoted("Can't extract ", Dest("blocker\\no.txt"), ". Continue?"));
  // No offers termination; declining it goes on with the next file.
  EXPECT_EQ(seen[2].text, "Are you sure you want to terminate installation?");
  EXPECT_TRUE(g_state.extractionError);
  EXPECT_EQ(Text(Dest("ok.txt")), "ok");
}

TEST_F(FileExtractionTest, NoFilesIsSuccess) {
  Package({});
  g_state.currentOutputFile = "left over";
  EXPECT_EQ(Extract({}), 1);
  EXPECT_EQ(g_state.currentOutputFile, "");
  EXPECT_EQ(g_state.progress, nullptr);
}

}  // namespace
}  // namespace vorlatch
