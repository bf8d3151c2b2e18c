// Self-registration of the fixture COM servers: what the user sees (the real message box, read
// by the robot) or that nothing is shown, and that the run goes on afterwards.

#include "actions/com_registration.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>
#include <thread>
#include <vector>

#include "actions/file_extraction.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "ui/progress_dialog.h"
#include "silent_call.h"

namespace vorlatch {
namespace {

using test::BesideTests;
using test::ReadTextFile;
using test::ScopedEnvironment;
using test::TempFolder;

struct SeenBox {
  WindowSnapshot window;
  HICON icon = nullptr;
};

class ComRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  }
  void TearDown() override {
    // OLE stays initialised for the rest of the process, as in the installer.
    CoUninitialize();
    ResetProcessState();
  }

  // Registers (or unregisters) and expects no message box at all.
  void ExpectSilent(const std::string& path, bool registerServer = true) {
    SCOPED_TRACE(path);
    test::ExpectNoDialog([&] { RegisterComServer(path, registerServer); });
    EXPECT_FALSE(g_state.extractionError);
  }

  // Registers (or unregisters) while the robot waits for the message box containing this
  // text, records it and answers OK.
  SeenBox ExpectMessage(const std::string& path, const std::string& textStart,
                        bool registerServer = true) {
    SeenBox seen;
    RobotThread robot([&] {
      seen.window = WaitForSnapshot({.className = "#32770", .controlText = textStart});
      if (seen.window.hwnd == nullptr) {
        return;
      }
      seen.icon = seen.window.MessageBoxIcon();
      PressButton(seen.window.hwnd, IDOK);
    });
    RegisterComServer(path, registerServer);
    robot.Join();
    EXPECT_FALSE(g_state.extractionError);
    return seen;
  }

  // The information box of a failed entry point: empty caption, OK only, system-modal.
  static void ExpectFailureBox(const SeenBox& seen, const std::string& text) {
    SCOPED_TRACE(seen.window.Describe());
    EXPECT_EQ(seen.window.MessageText(), text);
    EXPECT_EQ(seen.window.caption, "");
    EXPECT_EQ(seen.window.ButtonIds(), std::vector<int>{IDOK});
    EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_INFORMATION));
    EXPECT_TRUE(seen.window.IsTopmost());
    EXPECT_EQ(GetWindow(seen.window.hwnd, GW_OWNER), nullptr);
  }

  // What the good server recorded so far.
  std::string Marker() const { return ReadTextFile(markerPath_).value_or(""); }
  static bool IsLoaded(const std::string& path) {
    return GetModuleHandleA(path.c_str()) != nullptr;
  }

  TempFolder folder_;
  std::string markerPath_ = folder_.File("com_ok.log");
  ScopedEnvironment marker_{"VORLATCH_COM_MARKER", markerPath_};
};

TEST_F(ComRegistration, WorkingServerIsRegisteredSilentlyAndUnloaded) {
  const std::string path = BesideTests("com_ok.dll");
  ExpectSilent(path);
  EXPECT_EQ(Marker(), "register\n");
  EXPECT_FALSE(IsLoaded(path));
  EXPECT_TRUE(g_state.oleInitialised);

  ExpectSilent(path, false);
  EXPECT_EQ(Marker(), "register\nunregister\n");
}

TEST_F(ComRegistration, QuotedPathIsTheTextBetweenFirstAndLastQuote) {
  const std::string path = BesideTests("com_ok.dll");
  std::string quoted = "\"";
  quoted.append(path).append("\" /s");
  ExpectSilent(quoted);
  EXPECT_EQ(Marker(), "register\n");

  // One quote only: the path is used as it is, and no such file loads.
  std::string oneQuote = path;
  oneQuote.append("\"");
  ExpectSilent(oneQuote);
  EXPECT_EQ(Marker(), "register\n");

  // The message names the path without its quotes.
  const std::string failing = BesideTests("com_fails.dll");
  std::string quotedFailing = "\"";
  quotedFailing.append(failing).append("\"");
  const SeenBox seen = ExpectMessage(quotedFailing, "There was error");
  ExpectFailureBox(seen, "There was error registering COM-server\n" + failing);
}

TEST_F(ComRegistration, FilesThatAreNoComServersArePassedOverSilently) {
  const std::string text = folder_.File("readme.txt");
  ASSERT_TRUE(test::WriteTextFile(text, "Just some text.\r\n"));
  ExpectSilent(text);
  const std::string fakeLibrary = folder_.File("fake.dll");
  ASSERT_TRUE(test::WriteTextFile(fakeLibrary, "MZ but nothing more"));
  ExpectSilent(fakeLibrary);
  ExpectSilent(folder_.File("missing.dll"));

  const std::string noExport = BesideTests("no_export.dll");
  ExpectSilent(noExport);
  EXPECT_FALSE(IsLoaded(noExport));
  // The throwing server has no unregistration entry point.
  const std::string throws = BesideTests("com_throws.dll");
  ExpectSilent(throws, false);
  EXPECT_FALSE(IsLoaded(throws));
}

TEST_F(ComRegistration, FailureCodeIsReportedAndTheNextFileIsStillRegistered) {
  const std::string failing = BesideTests("com_fails.dll");
  ExpectFailureBox(ExpectMessage(failing, "There was error"),
                   "There was error registering COM-server\n" + failing);
  EXPECT_FALSE(IsLoaded(failing));
  ExpectFailureBox(ExpectMessage(failing, "There was error", false),
                   "There was error unregistering COM-server\n" + failing);

  ExpectSilent(BesideTests("com_ok.dll"));
  EXPECT_EQ(Marker(), "register\n");
}

class ComRegistrationCrash : public ComRegistration,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(ComRegistrationCrash, EscapeFromTheEntryPointIsReportedAndTheInstallerGoesOn) {
  const std::string crashing = BesideTests(GetParam());
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ExpectFailureBox(ExpectMessage(crashing, "There was error"),
                     "There was error registering COM-server\n" + crashing);
    EXPECT_FALSE(IsLoaded(crashing));
  }
  ExpectSilent(BesideTests("com_ok.dll"));
  EXPECT_EQ(Marker(), "register\n");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ComRegistrationCrash,
                         ::testing::Values("com_throws.dll", "com_faults.dll"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "com_throws.dll" ? "Throws" : "Faults";
                         });

// The installation itself: every extracted file is offered, the failures are reported one by
// one (last listed first), and the extraction runs to its end with every file in place.
TEST_F(ComRegistration, ExtractionOffersEveryFileAndGoesOnAfterEachFailure) {
  const std::vector<std::string> names = {"readme.txt",     "com_ok.dll",     "com_fails.dll",
                                          "com_throws.dll", "com_faults.dll", "no_export.dll"};
  const std::string destination = folder_.Subfolder("dest");
  const ScopedEnvironment tmp("Tmp", folder_.Subfolder("temp"));
  g_state.destinationDirectory = destination;
  ASSERT_TRUE(test::WriteTextFile(folder_.File("readme.txt"), "Read me."));
  std::string project = "[File]\r\nFile=";
  project.append(std::to_string(names.size())).append("\r\n");
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    const std::string source = i == 0 ? folder_.File(names[i]) : BesideTests(names[i]);
    project.append("File").append(n).append("=").append(names[i]).append("\r\n");
    project.append("Target").append(n).append("=[BID]\r\n");
    project.append("Source").append(n).append("=").append(source).append("\r\n");
  }
  ASSERT_NO_FATAL_FAILURE(test::OpenTestPackage(folder_, project));

  std::vector<std::string> messages;
  RobotThread robot([&] {
    for (int i = 0; i < 3; ++i) {
      const WindowSnapshot box =
          WaitForSnapshot({.className = "#32770", .controlText = "There was error"});
      if (box.hwnd == nullptr) {
        return;
      }
      messages.push_back(box.MessageText());
      PressButton(box.hwnd, IDOK);
      WaitForWindowGone(box.hwnd);
    }
  });
  const int result = ExtractFiles();
  robot.Join();
  CloseProgress();
  ClosePackage();

  EXPECT_EQ(result, 1);
  EXPECT_FALSE(g_state.extractionError);
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "There was error registering COM-server\n" + destination + names[4],
                          "There was error registering COM-server\n" + destination + names[3],
                          "There was error registering COM-server\n" + destination + names[2]}));
  for (const std::string& name : names) {
    EXPECT_TRUE(test::FileExists(destination + name)) << name;
    EXPECT_FALSE(IsLoaded(destination + name)) << name;
  }
  EXPECT_EQ(Marker(), "register\n");
}

TEST_F(ComRegistration, OleInitializeFailureIsShownOnceAndRegistrationGoesOn) {
  const std::string text = folder_.File("readme.txt");
  ASSERT_TRUE(test::WriteTextFile(text, "text"));
  // A thread of its own in the multithreaded apartment, which cannot take OLE.
  std::thread worker([&] {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    const SeenBox seen = ExpectMessage(text, "OleInitialize failed.");
    SCOPED_TRACE(seen.window.Describe());
    EXPECT_EQ(seen.window.MessageText(), "OleInitialize failed.");
    EXPECT_EQ(seen.window.caption, "Error");
    EXPECT_EQ(seen.window.ButtonIds(), std::vector<int>{IDOK});
    EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_ERROR));
    EXPECT_TRUE(seen.window.IsTopmost());
    EXPECT_TRUE(g_state.oleInitialised);

    // Not again, and registration still works.
    ExpectSilent(BesideTests("com_ok.dll"));
    EXPECT_EQ(Marker(), "register\n");
    CoUninitialize();
  });
  worker.join();
}

// The list read once answers as a look into the system folder for each name would, also for
// a file written there after the list was read.
TEST(SystemFolderNames, AnswerAsTheFileSystemDoes) {
  char folder[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(folder, MAX_PATH), 0u);
  const std::string system = std::string(folder) + "\\";
  const std::string elsewhere = "C:\\elsewhere\\";
  SystemFolderNames names;
  for (const std::string name : {"kernel32.dll", "KeRnEl32.DlL", "kernel32.dll.", "drivers",
                                 "no-such-file-here.dll", "drivers/etc", "kernel32.dll::$DATA"}) {
    EXPECT_EQ(names.Holds(elsewhere + name), HasSystemFolderName(elsewhere + name)) << name;
  }
  EXPECT_TRUE(names.Holds(elsewhere + "KERNEL32.DLL"));
  EXPECT_FALSE(names.Holds(elsewhere + "drivers"));

  const std::string fresh = "vorlatch-names-" + std::to_string(GetCurrentProcessId()) + ".dll";
  ASSERT_TRUE(test::WriteTextFile(system + fresh, "x"));
  names.Written(system + fresh);
  EXPECT_TRUE(names.Holds(elsewhere + fresh));
  ASSERT_TRUE(DeleteFileA((system + fresh).c_str()));
}

}  // namespace
}  // namespace vorlatch
