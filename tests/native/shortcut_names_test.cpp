#include "actions/shortcut_names.h"

#include <gtest/gtest.h>

#include <string>

namespace vorlatch {
namespace {

TEST(ShortcutNames, ProgramGroupFromCompanyAndProduct) {
  EXPECT_EQ(ProgramGroupOf("Acme", "Tool"), "Acme\\Tool\\");
  EXPECT_EQ(ProgramGroupOf("Acme\\\\", "Tool\\"), "Acme\\Tool\\");
  // An empty company leaves the product folder alone, and the other way round.
  EXPECT_EQ(ProgramGroupOf("", "Tool"), "Tool\\");
  EXPECT_EQ(ProgramGroupOf("Acme", ""), "Acme\\");
  EXPECT_EQ(ProgramGroupOf("\\", "Tool"), "Tool\\");
  EXPECT_EQ(ProgramGroupOf("", ""), "");
}

TEST(ShortcutNames, InstanceSuffix) {
  EXPECT_EQ(InstanceSuffix(0), "");
  EXPECT_EQ(InstanceSuffix(1), " 1");
  EXPECT_EQ(InstanceSuffix(10), " 10");
}

TEST(ShortcutNames, FileNameFromLinkName) {
  EXPECT_EQ(ShortcutFileName("app.exe"), "app exe.lnk");
  EXPECT_EQ(ShortcutFileName("APP.EXE"), "APP EXE.lnk");
  EXPECT_EQ(ShortcutFileName("read.me.txt"), "read me.txt.lnk");
  // No full stop: the blank stays before .lnk.
  EXPECT_EQ(ShortcutFileName("Uninstall"), "Uninstall .lnk");
  // Only the last component is cut; folders with full stops stay whole.
  EXPECT_EQ(ShortcutFileName("Acme.Inc\\Tool 2\\run.exe"), "Acme.Inc\\Tool 2\\run exe.lnk");
  EXPECT_EQ(ShortcutFileName("Acme.Inc\\Tool\\Uninstall"), "Acme.Inc\\Tool\\Uninstall .lnk");
  // One leading full stop of the extension text goes; a quote after its start ends it.
  EXPECT_EQ(ShortcutFileName("a..b"), "a b.lnk");
  EXPECT_EQ(ShortcutFileName("a.exe\"x"), "a exe.lnk");
  EXPECT_EQ(ShortcutFileName(".profile"), " profile.lnk");
}

TEST(ShortcutNames, Questions) {
  EXPECT_EQ(StartMenuQuestion(1), "Would you like to create shortcut in Start Menu, Programs?");
  EXPECT_EQ(StartMenuQuestion(2), "Would you like to create shortcuts in Start Menu, Programs?");
  EXPECT_EQ(DesktopQuestion("APP.EXE"),
            "Would you like to create shortcut for \nAPP.EXE\non Desktop?");
  EXPECT_EQ(QuickLaunchQuestion("app.exe"),
            "Would you like to create shortcut for \napp.exe\non Quick Launch bar?");
}

}  // namespace
}  // namespace vorlatch
