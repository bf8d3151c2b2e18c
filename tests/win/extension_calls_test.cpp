// The extension DLL of a package, for real: the fixture DLL built beside the tests is packed
// by the packer, extracted and loaded by the Before step and called with the destination
// directory; its failing functions are caught and reported while the installation goes on.

#include "stages/extension_calls.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "package/opening.h"
#include "package/process_state.h"
#include "script/script_access.h"
#include "support/installer_test.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "support/window_answers.h"

namespace vorlatch {
namespace {

using test::AnsweredWindow;
using test::AnswerWindows;
using test::Press;
using test::ScopedEnvironment;
using test::TempFolder;
using test::WindowAnswer;

class ExtensionCalls : public test::InstallerTest {
 protected:
  void SetUp() override {
    InstallerTest::SetUp();
    record_ = folder_.File("calls.txt");
    recordVariable_ = std::make_unique<ScopedEnvironment>("VORLATCH_EXTENSION_RECORD", record_);
  }

  // A package with one installed file, app.txt, the fixture DLL as ext.dll (or `dllKeys`),
  // and the given [Before] and [After] keys; `dllKeys` may add installed files after the first.
  void Package(const std::string& before, const std::string& after, const std::string& dllKeys = "",
               int files = 1) {
    const std::string source = folder_.File("app.txt");
    ASSERT_TRUE(test::WriteTextFile(source, "the program"));
    const std::string dll =
        dllKeys.empty() ? "Dll=ext.dll\r\nDllSource=" + Fixture() + "\r\n" : dllKeys;
    // Appended piece by piece: GCC 12 misreports "literal" + string as overlapping copies.
    std::string project = "[File]\r\nFile=";
    project.append(std::to_string(files)).append("\r\nFile1=app.txt\r\nSource1=");
    project.append(source).append("\r\n").append(dll);
    project.append("[Before]\r\n").append(before).append("[After]\r\n").append(after);
    test::OpenTestPackage(folder_, project);
  }

  static std::string Fixture() { return test::BesideTests("extension_fixture.dll"); }

  template <typename Step>
  int Run(Step step, const std::vector<WindowAnswer>& answers) {
    RobotThread robot([&] { seen_ = AnswerWindows(0, answers); });
    const int result = step();
    robot.Join();
    return result;
  }

  std::string Record() const { return test::ReadTextFile(record_).value_or(""); }
  bool Installed() const { return test::ReadTextFile(dest_ + "app.txt") == "the program"; }

  std::string record_;
  std::unique_ptr<ScopedEnvironment> recordVariable_;
  std::vector<AnsweredWindow> seen_;
};

TEST_F(ExtensionCalls, BothFunctionsGetTheDestinationDirectory) {
  Package("Advanced=1\r\nFunction=RecordBefore\r\n", "Advanced=1\r\nFunction=RecordAfter\r\n");
  EXPECT_EQ(Run(RunBeforeExtensionAndInstall, {}), 1);
  EXPECT_EQ(Record(), "RecordBefore|" + dest_ + "\r\n");
  EXPECT_TRUE(Installed());
  ASSERT_NE(g_state.extensionDll, nullptr);
  EXPECT_EQ(test::ReadFileBytes(temp_ + "ext.dll"), test::ReadFileBytes(Fixture()));

  EXPECT_EQ(Run(RunAfterExtension, {}), 1);
  EXPECT_EQ(Record(), "RecordBefore|" + dest_ + "\r\nRecordAfter|" + dest_ + "\r\n");
}

TEST_F(ExtensionCalls, AnEmptyFunctionLoadsTheDllAndCallsNothing) {
  Package("Advanced=1\r\n", "Advanced=1\r\nFunction=NotExported\r\n");
  EXPECT_EQ(Run(RunBeforeExtensionAndInstall, {}), 1);
  EXPECT_NE(g_state.extensionDll, nullptr);
  EXPECT_TRUE(Installed());
  // A name that the DLL does not export is skipped as silently.
  EXPECT_EQ(Run(RunAfterExtension, {}), 1);
  EXPECT_EQ(Record(), "");
}

TEST_F(ExtensionCalls, WithoutTheBeforeStepTheAfterFunctionIsNotCalled) {
  Package("Advanced=0\r\nFunction=RecordBefore\r\n", "Advanced=1\r\nFunction=RecordAfter\r\n");
  EXPECT_EQ(Run(RunBeforeExtensionAndInstall, {}), 1);
  EXPECT_EQ(g_state.extensionDll, nullptr);
  EXPECT_FALSE(test::FileExists(temp_ + "ext.dll"));
  EXPECT_EQ(Run(RunAfterExtension, {}), 1);
  EXPECT_EQ(Record(), "");
  EXPECT_TRUE(Installed());
}

TEST_F(ExtensionCalls, AnAccessViolationIsReportedAndTheInstallationRuns) {
  Package("Advanced=1\r\nFunction=DereferenceNull\r\n",
          "Advanced=1\r\nFunction=ThrowException\r\n");
  EXPECT_EQ(Run(RunBeforeExtensionAndInstall, {Press(IDOK)}), 1);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(test::BoxSummary(seen_[0]), "Error: Error calling 'DereferenceNull' from 'ext.dll'");
  EXPECT_EQ(seen_[0].window.ButtonIds(), std::vector<int>{IDOK});
  EXPECT_EQ(seen_[0].icon, ::LoadIconA(nullptr, IDI_HAND));
  EXPECT_TRUE(Installed());

  // A C++ exception out of the After function: the same message, and the step says so.
  EXPECT_EQ(Run(RunAfterExtension, {Press(IDOK)}), 0);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(test::BoxSummary(seen_[0]), "Error: Error calling 'ThrowException' from 'ext.dll'");
  EXPECT_EQ(Record(), "DereferenceNull|" + dest_ + "\r\nThrowException|" + dest_ + "\r\n");
}

TEST_F(ExtensionCalls, WithoutDllZipTheDllIsTheInstalledFileOfThatName) {
  // The DLL is installed file 2, named in another letter case: the packer gives it no item
  // of its own.
  Package("Advanced=1\r\nFunction=RecordBefore\r\n", "",
          "File2=Ext.Dll\r\nSource2=" + Fixture() + "\r\nDll=EXT.DLL\r\n", 2);
  ASSERT_EQ(ReadScriptInt("File", "DllZip", 0), 0);
  EXPECT_EQ(Run(RunBeforeExtensionAndInstall, {}), 1);
  EXPECT_NE(g_state.extensionDll, nullptr);
  EXPECT_EQ(Record(), "RecordBefore|" + dest_ + "\r\n");
}

TEST_F(ExtensionCalls, AnOlderCopyInTheTemporaryDirectoryIsNeverLoaded) {
  // The script names a DLL that the package does not carry; a DLL of that name left behind
  // by another installer must not run.
  Package("Advanced=1\r\nFunction=RecordBefore\r\n", "", "Uninstall=0\r\n");
  ::WritePrivateProfileStringA("File", "Dll", "ext.dll", ScriptPath().c_str());
  ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
  ASSERT_TRUE(::CopyFileA(Fixture().c_str(), (temp_ + "ext.dll").c_str(), FALSE));
  EXPECT_EQ(Run(RunBeforeExtensionAndInstall, {}), 1);
  EXPECT_EQ(g_state.extensionDll, nullptr);
  EXPECT_EQ(Record(), "");
  EXPECT_TRUE(Installed());
}

TEST(ExtensionErrorText, NamesFunctionAndDll) {
  EXPECT_EQ(ExtensionErrorText("Setup", "helper.dll"), "Error calling 'Setup' from 'helper.dll'");
}

}  // namespace
}  // namespace vorlatch
