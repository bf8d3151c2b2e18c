// Installers locked with [Build] Password: what the builder writes, read back with the
// installer's own rules.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "package/password_text.h"
#include "aligned_end.h"
#include "package/format.h"
#include "packer/ini_text.h"
#include "packer/packer.h"
#include "packer/password_protection.h"
#include "temp_folder.h"

namespace vorlatch {
namespace {

using packer::IniText;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteFile;

struct Locked {
  IniText script;
  std::string scriptText;
  std::string rebuilt;  // the password as the installer rebuilds it
};

class PackerPasswordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    WriteFile(dir / "stub.exe", "MZ stand-in stub");
    WriteFile(dir / "a.txt", "alpha");
    std::filesystem::create_directories(dir / "out");
  }

  bool Build(const std::string& project, std::string& error) {
    WriteFile(dir / "app.vlp", project);
    packer::BuildOptions options;
    options.project = dir / "app.vlp";
    options.stub = dir / "stub.exe";
    options.output = output;
    return packer::BuildInstaller(options, error);
  }

  // Reads the installer back: the script, and the password from its protection block and key.
  std::optional<Locked> Read() {
    const auto bytes = ReadBytes(output);
    const auto scriptBlock = LocateScriptBlock(bytes);
    if (!scriptBlock) {
      return std::nullopt;
    }
    const auto text = InflateItem(*scriptBlock);
    const auto block = LocateProtectionBlock(bytes);
    if (!text || !block) {
      return std::nullopt;
    }
    Locked locked;
    locked.scriptText.assign(text->begin(), text->end());
    locked.script = IniText::Parse(locked.scriptText);
    locked.rebuilt = RebuildPassword(*block, locked.script.GetString("Before", "Password"));
    // The reserved byte sits before the block, and the only item ends right there (but for
    // the gap that aligns the installer's length).
    if (!ReservedByteFollowsItems(bytes,
                                  static_cast<std::uint64_t>(locked.script.GetInt("File", "Pos1") +
                                                             locked.script.GetInt("File", "Zip1")),
                                  true)) {
      return std::nullopt;
    }
    return locked;
  }

  TempFolder dir;
  std::string output = dir / "out/setup.exe";
};

constexpr char kFiles[] = "[File]\nFile=1\nFile1=a.txt\n";

TEST_F(PackerPasswordTest, BuiltInstallerRebuildsExactlyThePassword) {
  const std::string passwords[] = {"x", "Fifteen chars!!", "Sixteen-chars-16", "\xE9t\xE9 caf\xE9",
                                   "with = and ;"};
  for (const std::string& password : passwords) {
    SCOPED_TRACE(password);
    std::string error;
    ASSERT_TRUE(
        Build("[General]\nProduct=Locked\n[Build]\nPassword=" + password + "\n" + kFiles, error))
        << error;
    const auto locked = Read();
    ASSERT_TRUE(locked);
    EXPECT_EQ(locked->rebuilt, password);
    EXPECT_EQ(locked->script.GetInt("Before", "Protect"), 1);
    // The password itself is in no script key (a one-letter one may occur anywhere), and
    // the builder's own section is gone.
    if (password.size() > 1) {
      EXPECT_EQ(locked->scriptText.find(password), std::string::npos) << locked->scriptText;
    }
    EXPECT_FALSE(locked->script.Get("Build", "Password"));

    const std::string key = locked->script.GetString("Before", "Password");
    EXPECT_EQ(key.size(), packer::kPasswordKeyLength);
    EXPECT_TRUE(std::all_of(key.begin(), key.end(), IsPasswordKeyCharacter)) << key;
    // The script holds the key exactly as written, as the profile functions will read it.
    EXPECT_NE(locked->scriptText.find("\r\nPassword=" + key + "\r\n"), std::string::npos);
  }
}

TEST_F(PackerPasswordTest, EveryBuildChoosesANewKey) {
  std::set<std::string> keys;
  for (int i = 0; i < 4; ++i) {
    std::string error;
    ASSERT_TRUE(Build(std::string("[Build]\nPassword=same\n") + kFiles, error)) << error;
    const auto locked = Read();
    ASSERT_TRUE(locked);
    EXPECT_EQ(locked->rebuilt, "same");
    keys.insert(locked->script.GetString("Before", "Password"));
  }
  EXPECT_EQ(keys.size(), 4u);
}

TEST_F(PackerPasswordTest, BuilderOwnsProtectAndPasswordOfTheScript) {
  // A stale key and an explicit Protect=0 in the project give way to the builder's.
  std::string error;
  ASSERT_TRUE(Build(std::string("[Before]\nProtect=0\nPassword=stale\n[Build]\nPassword=\"  blanks "
                                "kept \"\n") +
                        kFiles,
                    error))
      << error;
  const auto locked = Read();
  ASSERT_TRUE(locked);
  EXPECT_EQ(locked->script.GetInt("Before", "Protect"), 1);
  EXPECT_NE(locked->script.GetString("Before", "Password"), "stale");
  // Quotes let the password keep blanks at its ends, as with every value.
  EXPECT_EQ(locked->rebuilt, "  blanks kept ");

  // Without [Build] Password the [Before] keys pass through and no block is written.
  ASSERT_TRUE(Build(std::string("[Before]\nPassword=not a lock\n") + kFiles, error)) << error;
  const auto bytes = ReadBytes(output);
  const auto text = InflateItem(*LocateScriptBlock(bytes));
  ASSERT_TRUE(text);
  const IniText script = IniText::Parse(std::string(text->begin(), text->end()));
  EXPECT_EQ(script.GetInt("Before", "Protect"), 0);
  EXPECT_EQ(script.GetString("Before", "Password"), "not a lock");
  EXPECT_TRUE(ReservedByteFollowsItems(
      bytes,
      static_cast<std::uint64_t>(script.GetInt("File", "Pos1") + script.GetInt("File", "Zip1"))));
}

TEST_F(PackerPasswordTest, UnusablePasswordsAreRefusedWithoutOutput) {
  const std::string cases[] = {
      std::string(17, 'p'),      // one character too many
      "",                        // protects nothing
      std::string("ab\0cd", 5),  // a zero byte would end it early
      "tab\there",               // cannot be typed into the field
      "del\x7F",
  };
  for (const std::string& password : cases) {
    std::string error;
    EXPECT_FALSE(Build("[Build]\nPassword=" + password + "\n" + kFiles, error)) << password;
    EXPECT_EQ(error.rfind(dir / "app.vlp: [Build] Password: ", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    // The message does not repeat the password.
    if (password.size() > 3) {
      EXPECT_EQ(error.find(password), std::string::npos) << error;
    }
    EXPECT_EQ(testing::NamesIn(dir / "out"), std::vector<std::string>{}) << password;
  }
  std::string error;
  EXPECT_FALSE(
      Build(std::string("[Build]\nPassword=") + std::string(17, 'p') + "\n" + kFiles, error));
  EXPECT_NE(error.find("17 characters"), std::string::npos) << error;
}

TEST_F(PackerPasswordTest, InspectSaysProtectedWithoutThePassword) {
  std::string error;
  ASSERT_TRUE(Build(std::string("[Build]\nPassword=Hush-Hush 42\n") + kFiles, error)) << error;
  std::ostringstream report;
  ASSERT_TRUE(packer::InspectInstaller(output, report, error)) << error << report.str();
  EXPECT_NE(report.str().find("password: required (not shown)"), std::string::npos) << report.str();
  EXPECT_EQ(report.str().find("Hush-Hush 42"), std::string::npos) << report.str();

  ASSERT_TRUE(Build(kFiles, error)) << error;
  std::ostringstream plain;
  ASSERT_TRUE(packer::InspectInstaller(output, plain, error)) << error;
  EXPECT_NE(plain.str().find("password: none"), std::string::npos) << plain.str();
}

TEST(PasswordProtection, KeysCoverTheWholeAlphabet) {
  // Many keys together use every allowed character and nothing else.
  std::set<char> seen;
  for (int i = 0; i < 200; ++i) {
    packer::Protection protection;
    std::string problem;
    ASSERT_TRUE(packer::ProtectPassword("pw", protection, problem)) << problem;
    ASSERT_EQ(RebuildPassword(protection.block, protection.key), "pw");
    seen.insert(protection.key.begin(), protection.key.end());
  }
  for (char c : seen) {
    EXPECT_TRUE(IsPasswordKeyCharacter(c)) << static_cast<int>(c);
  }
  EXPECT_EQ(seen.size(), 90u);
}

}  // namespace
}  // namespace vorlatch
