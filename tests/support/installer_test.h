#pragma once
// The frame of the in-process tests that run the installer's steps: a private folder with a
// temporary directory (the installer's Tmp) and a destination directory, the process state
// reset before and after, and everything the steps may leave open released afterwards.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "package/opening.h"
#include "package/process_state.h"
#include "support/test_files.h"
#include "ui/progress_dialog.h"

namespace vorlatch::test {

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    g_state.destinationDirectory = dest_;
  }

  void TearDown() override {
    CloseProgress();
    ClosePackage();
    // The installer keeps the extension DLL until it ends; the test lets it go so that its
    // folder can.
    if (g_state.extensionDll != nullptr) {
      ::FreeLibrary(g_state.extensionDll);
    }
    ResetProcessState();
  }

  // Writes the script as the installer would have extracted it, with no stale profile cache.
  void Script(const std::string& text) {
    ASSERT_TRUE(WriteTextFile(ScriptPath(), text));
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  std::string dest_ = folder_.Subfolder("dest");
  ScopedEnvironment tmp_{"Tmp", temp_};
};

}  // namespace vorlatch::test
