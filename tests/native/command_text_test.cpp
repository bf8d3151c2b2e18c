#include <gtest/gtest.h>

#include <string>

#include "stages/command_text.h"

namespace vorlatch {
namespace {

TEST(ProgramPart, QuotedProgramKeepsItsQuotesOnlyWhenItHasBlanks) {
  EXPECT_EQ(ProgramPart("\"C:\\Program Files\\My App\\view.exe\" /open \"%1\""),
            "\"C:\\Program Files\\My App\\view.exe\"");
  EXPECT_EQ(ProgramPart("  \"C:\\Tools\\view.exe\" \"%1\"\r\n"), "C:\\Tools\\view.exe");
  // No closing quote: the rest of the line is the name.
  EXPECT_EQ(ProgramPart("\"C:\\My Tools\\view.exe"), "\"C:\\My Tools\\view.exe\"");
  EXPECT_EQ(ProgramPart("\"\" x"), "");
}

TEST(ProgramPart, FirstWordWithAnExtensionIsTheProgram) {
  EXPECT_EQ(ProgramPart("notepad.exe %1"), "notepad.exe");
  EXPECT_EQ(ProgramPart("\tnotepad.exe   %1  "), "notepad.exe");
  EXPECT_EQ(ProgramPart("rundll32.exe shell32.dll,OpenAs_RunDLL %1"), "rundll32.exe");
  EXPECT_EQ(ProgramPart("C:\\Tools\\view.exe"), "C:\\Tools\\view.exe");
  EXPECT_EQ(ProgramPart("   "), "");
  EXPECT_EQ(ProgramPart(""), "");
}

TEST(ProgramPart, UnquotedPathWithBlanksInItsDirectory) {
  // No arguments: the whole path, as it stands.
  EXPECT_EQ(ProgramPart("C:\\Program Files\\My App\\view.exe"),
            "C:\\Program Files\\My App\\view.exe");
  EXPECT_EQ(ProgramPart(" C:\\Program Files\\view "), "C:\\Program Files\\view");
  // With arguments, the program ends after the first file name with an extension, so that
  // the placeholder of a registered command does not reach the program.
  EXPECT_EQ(ProgramPart("C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe \"%1\""),
            "\"C:\\Program Files\\Windows NT\\Accessories\\wordpad.exe\"");
  EXPECT_EQ(ProgramPart("C:\\My Apps v2\\my view.exe /p %1"), "\"C:\\My Apps v2\\my view.exe\"");
  // Nothing with an extension anywhere: the whole command.
  EXPECT_EQ(ProgramPart("C:\\My Apps\\view %1"), "C:\\My Apps\\view %1");
}

TEST(SplitCommand, ProgramWithoutQuotesAndTheArgumentsAfterIt) {
  const auto split = [](const std::string& command) {
    const CommandParts parts = SplitCommand(command);
    return parts.program + "|" + parts.arguments;
  };
  EXPECT_EQ(split("app.exe"), "app.exe|");
  EXPECT_EQ(split("  app.exe   /first run  "), "app.exe|/first run");
  EXPECT_EQ(split("\"my app.exe\" /x \"a b\""), "my app.exe|/x \"a b\"");
  EXPECT_EQ(split("\"app.exe\""), "app.exe|");
  EXPECT_EQ(split("\"my app.exe"), "my app.exe|");
  EXPECT_EQ(split("my app.exe"), "my app.exe|");
  EXPECT_EQ(split("my app.exe /x"), "my app.exe|/x");
  EXPECT_EQ(split("tools\\my app.exe -a -b"), "tools\\my app.exe|-a -b");
  EXPECT_EQ(split("readme"), "readme|");
  EXPECT_EQ(split("   "), "|");
}

TEST(OpenCommandLine, DocumentPathIsOneArgument) {
  EXPECT_EQ(OpenCommandLine("notepad.exe", "C:\\Docs\\readme.txt"),
            "notepad.exe C:\\Docs\\readme.txt");
  EXPECT_EQ(OpenCommandLine("\"C:\\My Apps\\view.exe\"", "C:\\My Docs\\read me.txt"),
            "\"C:\\My Apps\\view.exe\" \"C:\\My Docs\\read me.txt\"");
  EXPECT_EQ(PathArgument("\"C:\\My Docs\\a.txt\""), "\"C:\\My Docs\\a.txt\"");
  EXPECT_EQ(PathArgument("C:\\Docs\\a.txt"), "C:\\Docs\\a.txt");
  EXPECT_EQ(PathArgument(""), "");
}

}  // namespace
}  // namespace vorlatch
