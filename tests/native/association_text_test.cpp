#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/association_text.h"

namespace vorlatch {
namespace {

using Items = std::vector<std::string>;

TEST(AssociationText, NextItemTakesOneItemAndItsSeparator) {
  std::string list = "txt;;doc";
  EXPECT_EQ(NextItem(list, ";"), "txt");
  EXPECT_EQ(list, ";doc");
  EXPECT_EQ(NextItem(list, ";"), "");
  EXPECT_EQ(list, "doc");
  EXPECT_EQ(NextItem(list, ";"), "doc");
  EXPECT_EQ(list, "");
  EXPECT_EQ(NextItem(list, ";"), "");
  // Any of several separators ends an item.
  std::string path = "Software\\Acme/Tool";
  EXPECT_EQ(NextItem(path, "/\\"), "Software");
  EXPECT_EQ(NextItem(path, "/\\"), "Acme");
  EXPECT_EQ(NextItem(path, "/\\"), "Tool");
}

TEST(AssociationText, NormalisedExtensionsHaveOneDotAndKeepTheirCase) {
  EXPECT_EQ(NormaliseExtension("txt"), ".txt");
  EXPECT_EQ(NormaliseExtension(".txt"), ".txt");
  EXPECT_EQ(NormaliseExtension("..txt"), ".txt");
  EXPECT_EQ(NormaliseExtension(" \ttxt \r\n"), ".txt");
  EXPECT_EQ(NormaliseExtension(".TXT"), ".TXT");
  // A blank after the separator does not hide the dot behind it.
  EXPECT_EQ(NormaliseExtension(" .doc"), ".doc");
  EXPECT_EQ(NormaliseExtension("tar gz"), ".tar gz");
  EXPECT_EQ(NormaliseExtension(". . "), "");
  EXPECT_EQ(NormaliseExtension(""), "");
  // Codes above 32 are not blanks, even when the char type is signed.
  EXPECT_EQ(NormaliseExtension("\xE4t"), ".\xE4t");
}

TEST(AssociationText, ListEndsAtTheFirstEmptyItem) {
  EXPECT_EQ(AssociationExtensions("txt;doc", 260), (Items{".txt", ".doc"}));
  EXPECT_EQ(AssociationExtensions("txt;;doc", 260), (Items{".txt"}));
  EXPECT_EQ(AssociationExtensions(";txt", 260), Items{});
  EXPECT_EQ(AssociationExtensions("txt;doc;", 260), (Items{".txt", ".doc"}));
  // An item of blanks only is skipped, not the end.
  EXPECT_EQ(AssociationExtensions(" .TXT ; ;doc", 260), (Items{".TXT", ".doc"}));
  EXPECT_EQ(AssociationExtensions("txt;txt", 260), (Items{".txt", ".txt"}));
  EXPECT_EQ(AssociationExtensions("", 260), Items{});
}

TEST(AssociationText, ListIsCutAtTheLimit) {
  std::string list;
  for (int i = 0; i < 300; ++i) {
    list.append("e").append(std::to_string(i)).append(";");
  }
  const Items items = AssociationExtensions(list, kMaxExtensionItems);
  ASSERT_EQ(items.size(), 260u);
  EXPECT_EQ(items.front(), ".e0");
  EXPECT_EQ(items.back(), ".e259");
  EXPECT_EQ(AssociationExtensions("a;b;c", 2), (Items{".a", ".b"}));
  EXPECT_EQ(AssociationExtensions("a;b;c", 0), Items{});
}

TEST(AssociationText, ProgramIdentifierAndCommand) {
  EXPECT_EQ(ProgramIdentifier("tool.exe"), "tool_file");
  EXPECT_EQ(ProgramIdentifier("bin\\app.tar.exe"), "app_file");
  EXPECT_EQ(ProgramIdentifier("README"), "_file");
  EXPECT_EQ(ProgramIdentifier(".hidden"), "_file");
  EXPECT_EQ(ProgramIdentifier(""), "_file");
  EXPECT_EQ(OpenCommand("D:\\Apps\\Tool\\tool.exe"), "D:\\Apps\\Tool\\tool.exe %1");
}

}  // namespace
}  // namespace vorlatch
