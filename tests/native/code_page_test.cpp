#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/association_text.h"
#include "actions/shortcut_names.h"
#include "package/command_line.h"
#include "script/path_text.h"
#include "uninstaller/uninstall_text.h"
#include "win/code_page.h"

namespace vorlatch {
namespace {

// Every code page the helpers know, each with one character: its trail byte is a backslash
// where the code page has such characters (949 has none: its trail bytes are letters and
// 0x81 up); the single-byte row uses a plain accented letter.
struct CodePageCase {
  unsigned number;
  std::string ch;
};

const CodePageCase kCases[] = {
    {1252, "\xE9"},   // é
    {932, "\x95\\"},  // 表
    {936, "\xBB\\"},  // 籠
    {949,
     "\x81"
     "a"},            // 갵
    {950, "\xA5\\"},  // 功
};

class ScopedCodePage {
 public:
  explicit ScopedCodePage(unsigned number) { SetActiveCodePage(CodePage::Numbered(number)); }
  ~ScopedCodePage() { SetActiveCodePage(CodePage()); }
};

TEST(CodePages, PathHelpersStepOverWholeCharacters) {
  for (const CodePageCase& c : kCases) {
    SCOPED_TRACE(c.number);
    const ScopedCodePage codePage(c.number);
    const bool doubleByte = c.number != 1252;
    const std::string& ch = c.ch;
    // A final backslash that is a trail byte is part of the name, not a separator; under a
    // single-byte code page the same bytes are a letter and a backslash, as always.
    EXPECT_EQ(WithoutTrailingBackslash("C:\\\x95\\"), doubleByte ? "C:\\\x95\\" : "C:\\\x95");
    const std::string dir = "C:\\Apps\\" + ch;
    EXPECT_EQ(WithoutTrailingBackslash(dir), dir);
    EXPECT_EQ(WithTrailingBackslash(dir + "\\\\"), dir + "\\");
    EXPECT_EQ(FileNameOf(dir), ch);
    EXPECT_EQ(FileNameOf(dir + "\\" + ch + ".txt"), ch + ".txt");
    EXPECT_EQ(CollapseBackslashes(dir + "\\\\" + ch + "a.txt"), dir + "\\" + ch + "a.txt");
    EXPECT_EQ(ShortcutFileName("Co\\" + ch + "\\" + ch + ".exe"),
              "Co\\" + ch + "\\" + ch + " exe.lnk");
    EXPECT_EQ(ProgramGroupOf("Co" + ch, ch), "Co" + ch + "\\" + ch + "\\");

    std::string key = "Software\\" + ch + "\\x";
    EXPECT_EQ(NextItem(key, "\\"), "Software");
    EXPECT_EQ(NextItem(key, "\\"), ch);
    EXPECT_EQ(key, "x");

    // Case: letters of single-byte characters fold, trail bytes never do (0x82 'a' and
    // 0x82 'A' are two different characters in every double-byte code page).
    EXPECT_TRUE(EqualsIgnoringCase(ch + "abc", ch + "ABC"));
    EXPECT_EQ(IsSamePath("C:\\\x82"
                         "a\\",
                         "C:\\\x82"
                         "A"),
              !doubleByte);

    // The uninstaller's reading of logged places and its safety checks.
    MacroFolders folders;
    folders.bid = dir + "\\";
    const auto file = ExpandLoggedFile("[BID]" + ch + "\\" + ch + ".txt", folders);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->path, dir + "\\" + ch + "\\" + ch + ".txt");
    EXPECT_EQ(FoldersBetween(folders.bid, file->path),
              std::vector<std::string>{dir + "\\" + ch + "\\"});
    EXPECT_TRUE(IsSameOrInside(file->path, dir));
    // 表x is not inside 表 (but \x95 x is inside \x95 under a single-byte code page).
    EXPECT_EQ(IsSameOrInside("C:\\\x95\\x", "C:\\\x95\\"), !doubleByte);
    // ポ in 932 ends in a bar; only a bar of its own makes a name unusable.
    EXPECT_EQ(IsPlainRelativePath("\x83|"), doubleByte);

    // A value cut to a size ends between characters (the registry's uninstall entry).
    const CodePage& active = ActiveCodePage();
    EXPECT_EQ(active.WholeCharactersWithin("ab" + ch, 3), doubleByte ? 2u : 3u);
    EXPECT_EQ(active.WholeCharactersWithin("ab" + ch, 9), ("ab" + ch).size());

    // Switches and quotes are below the lowest trail byte: the command line splits the same.
    const StubCommandLine command = ParseStubCommandLine("\"setup.exe\" /S /D=" + dir + "\\");
    EXPECT_TRUE(command.error.empty()) << command.error;
    EXPECT_EQ(command.destination.value_or(""), dir + "\\");
  }
}

}  // namespace
}  // namespace vorlatch
