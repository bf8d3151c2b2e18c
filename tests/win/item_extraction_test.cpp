#include "package/item_extraction.h"

#include <gtest/gtest.h>

#include "package/format.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "support/test_files.h"

namespace vorlatch {
namespace {

using test::FileTimes;
using test::TempFolder;

const FileTimes kItemTimes{test::TicksOfDate(2001, 2, 3, 4, 5, 6),
                           test::TicksOfDate(2002, 8, 9, 10, 11, 12),
                           test::TicksOfDate(2001, 6, 7, 8, 9, 10)};

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

ItemTail TailWith(std::uint32_t attributes) {
  return ItemTail{attributes, kItemTimes.creation, kItemTimes.access, kItemTimes.write, 0};
}

class ItemExtractionTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetProcessState(); }
  void TearDown() override {
    ClosePackage();
    ResetProcessState();
  }

  // An item holding `content` packed with the given attributes; `statedSize` replaces the
  // uncompressed size in its tail when given.
  static std::vector<std::uint8_t> MakeItem(const std::string& content, std::uint32_t attributes,
                                            std::optional<std::uint32_t> statedSize = {}) {
    std::vector<std::uint8_t> item;
    EXPECT_NE(AppendPackedItem(item, Bytes(content), TailWith(attributes)), 0u);
    if (statedSize) {
      item.resize(item.size() - 4);
      AppendU32(item, *statedSize);
    }
    return item;
  }

  // Checked before the content is read: reading a file moves its last-access time.
  void ExpectStoredTimes(const std::string& path) {
    const auto times = test::GetFileTimes(path);
    ASSERT_TRUE(times.has_value()) << path;
    if (test::FileSystemKeepsCreationTimes(folder_.path())) {
      EXPECT_EQ(times->creation, kItemTimes.creation);
    }
    EXPECT_EQ(times->access, kItemTimes.access);
    EXPECT_EQ(times->write, kItemTimes.write);
  }

  TempFolder folder_;
};

TEST_F(ItemExtractionTest, WriteBlockCreatesTruncatesAndAppends) {
  const std::string path = folder_.File("block.bin");
  const std::string first = "first content, long";
  ASSERT_TRUE(WriteBlock(path, reinterpret_cast<const std::uint8_t*>(first.data()),
                         static_cast<std::uint32_t>(first.size()), false));
  EXPECT_EQ(test::ReadTextFile(path), first);
  const std::uint8_t shorter[] = {'a', 'b'};
  ASSERT_TRUE(WriteBlock(path, shorter, 2, false));
  EXPECT_EQ(test::ReadTextFile(path), "ab");
  ASSERT_TRUE(WriteBlock(path, shorter, 2, true));
  EXPECT_EQ(test::ReadTextFile(path), "abab");
  ASSERT_TRUE(WriteBlock(folder_.File("new.bin"), shorter, 1, true));
  EXPECT_EQ(test::ReadTextFile(folder_.File("new.bin")), "a");
}

TEST_F(ItemExtractionTest, WriteBlockRefusesNothingToWriteAndUnwritablePaths) {
  const std::uint8_t byte = 1;
  EXPECT_FALSE(WriteBlock("", &byte, 1, false));
  EXPECT_FALSE(WriteBlock(folder_.File("a.bin"), nullptr, 1, false));
  EXPECT_FALSE(WriteBlock(folder_.File("a.bin"), &byte, 0, false));
  EXPECT_FALSE(test::FileExists(folder_.File("a.bin")));
  EXPECT_FALSE(WriteBlock(folder_.File("no-such-folder\\a.bin"), &byte, 1, false));
  // A file held open without sharing cannot be written.
  const std::string locked = folder_.File("locked.bin");
  ASSERT_TRUE(test::WriteTextFile(locked, "old"));
  HANDLE holder = ::CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteBlock(locked, &byte, 1, false));
  ::CloseHandle(holder);
  EXPECT_EQ(test::ReadTextFile(locked), "old");
}

TEST_F(ItemExtractionTest, AppendFileJoinsTwoFiles) {
  const std::string destination = folder_.File("program.exe");
  const std::string source = folder_.File("log.ini");
  ASSERT_TRUE(test::WriteTextFile(destination, "MZprogram"));
  ASSERT_TRUE(test::WriteTextFile(source, "[Log]\r\nx=1\r\n"));
  ASSERT_TRUE(AppendFile(destination, source));
  EXPECT_EQ(test::ReadTextFile(destination), "MZprogram[Log]\r\nx=1\r\n");

  const std::string empty = folder_.File("empty.ini");
  ASSERT_TRUE(test::WriteFileBytes(empty, {}));
  EXPECT_FALSE(AppendFile(destination, empty));
  EXPECT_FALSE(AppendFile(destination, folder_.File("missing.ini")));
  EXPECT_FALSE(AppendFile("", source));
  EXPECT_FALSE(AppendFile(destination, ""));
  EXPECT_EQ(test::ReadTextFile(destination), "MZprogram[Log]\r\nx=1\r\n");
}

// Records every piece it is told of.
struct PieceLog : PieceObserver {
  void PieceWritten(std::uint64_t itemBytesWritten) override { seen.push_back(itemBytesWritten); }
  std::vector<std::uint64_t> seen;
};

TEST_F(ItemExtractionTest, ALargeItemGoesInPiecesAndABadEndTakesThemBack) {
  std::string content;
  for (int i = 0; content.size() < 1000000; ++i) {
    content += "line " + std::to_string(i * 7919 % 100003) + "\r\n";
  }
  const std::string target = folder_.File("large.txt");
  PieceLog log;
  EXPECT_EQ(InflateItemInto(MakeItem(content, 0x20), target, false, &log), content.size());
  EXPECT_EQ(test::ReadTextFile(target), content);
  ASSERT_GT(log.seen.size(), 2u);
  EXPECT_EQ(log.seen.back(), content.size());

  // A wrong Adler-32 is found only after every piece: the pieces are taken back.
  auto badEnd = MakeItem(content, 0x20);
  badEnd[badEnd.size() - kItemTailSize - 1] ^= 1;
  EXPECT_EQ(InflateItemInto(badEnd, target, false), 0u);
  ExpectStoredTimes(target);
  EXPECT_EQ(test::ReadTextFile(target), "");
  ASSERT_TRUE(test::WriteTextFile(target, "kept"));
  EXPECT_EQ(InflateItemInto(badEnd, target, true), 0u);
  EXPECT_EQ(test::ReadTextFile(target), "kept");
}

TEST_F(ItemExtractionTest, InflateItemIntoWritesContentAttributesAndTimes) {
  const std::string content = "Hello from a packed item.\r\n" + std::string(5000, 'z');
  const auto item = MakeItem(content, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
  const std::string target = folder_.File("out.txt");
  EXPECT_EQ(InflateItemInto(item, target, false), content.size());
  ExpectStoredTimes(target);
  EXPECT_EQ(test::ReadTextFile(target), content);
  EXPECT_EQ(test::GetAttributes(target) & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  // Written again over a longer file of its own: truncated to the new content.
  EXPECT_EQ(InflateItemInto(MakeItem("short", FILE_ATTRIBUTE_HIDDEN), target, false), 5u);
  EXPECT_EQ(test::ReadTextFile(target), "short");
}

TEST_F(ItemExtractionTest, InflateItemIntoOnAReadOnlyItemKeepsTheStoredTimesToo) {
  const auto item = MakeItem("read-only content", FILE_ATTRIBUTE_READONLY);
  const std::string target = folder_.File("readonly.txt");
  EXPECT_EQ(InflateItemInto(item, target, false), 17u);
  ExpectStoredTimes(target);
  EXPECT_NE(test::GetAttributes(target) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(test::ReadTextFile(target), "read-only content");
}

TEST_F(ItemExtractionTest, InflateItemIntoAppendsAfterExistingContent) {
  const std::string target = folder_.File("joined.txt");
  ASSERT_TRUE(test::WriteTextFile(target, "existing;"));
  EXPECT_EQ(InflateItemInto(MakeItem("appended", FILE_ATTRIBUTE_ARCHIVE), target, true), 8u);
  EXPECT_EQ(test::ReadTextFile(target), "existing;appended");
  // Without append the target is replaced.
  EXPECT_EQ(InflateItemInto(MakeItem("new", FILE_ATTRIBUTE_ARCHIVE), target, false), 3u);
  EXPECT_EQ(test::ReadTextFile(target), "new");
}

TEST_F(ItemExtractionTest, AZeroByteItemCannotBeExtractedButLeavesAnEmptyFileWithItsTimes) {
  const std::string target = folder_.File("zero.txt");
  EXPECT_EQ(InflateItemInto(MakeItem("", FILE_ATTRIBUTE_ARCHIVE), target, false), 0u);
  ExpectStoredTimes(target);
  EXPECT_EQ(test::ReadTextFile(target), "");
}

TEST_F(ItemExtractionTest, StatedSizeLargerThanTheStreamGivesTheProducedLength) {
  const std::string target = folder_.File("shorter.txt");
  EXPECT_EQ(InflateItemInto(MakeItem("twelve bytes", FILE_ATTRIBUTE_ARCHIVE, 4096), target, false),
            12u);
  EXPECT_EQ(test::ReadTextFile(target), "twelve bytes");
}

TEST_F(ItemExtractionTest, StatedSizeSmallerThanTheStreamOrACorruptStreamFails) {
  const std::string smaller = folder_.File("smaller.txt");
  EXPECT_EQ(InflateItemInto(MakeItem("twelve bytes", FILE_ATTRIBUTE_ARCHIVE, 11), smaller, false),
            0u);
  EXPECT_EQ(test::ReadTextFile(smaller), "");

  std::vector<std::uint8_t> corrupt = {0x78, 0x9C, 0x01, 0x02, 0x03, 0x04};
  AppendItemTail(corrupt, ItemTail{FILE_ATTRIBUTE_ARCHIVE, kItemTimes.creation, kItemTimes.access,
                                   kItemTimes.write, 50});
  const std::string target = folder_.File("corrupt.txt");
  EXPECT_EQ(InflateItemInto(corrupt, target, false), 0u);
  ExpectStoredTimes(target);
}

TEST_F(ItemExtractionTest, InflateItemIntoWithoutAnItemLeavesTheTargetAlone) {
  const std::string target = folder_.File("untouched.txt");
  EXPECT_EQ(InflateItemInto({}, target, false), 0u);
  EXPECT_EQ(InflateItemInto(MakeItem("x", 0x20), "", false), 0u);
  EXPECT_EQ(InflateItemInto(std::vector<std::uint8_t>(20, 0), target, false), 0u);
  EXPECT_FALSE(test::FileExists(target));
}

// A package file of its own: filler, two items, and a script naming them.
class PackedItemTest : public ItemExtractionTest {
 protected:
  void SetUp() override {
    ItemExtractionTest::SetUp();
    std::vector<std::uint8_t> package(300, 0x90);
    firstPos_ = static_cast<std::uint32_t>(package.size());
    firstZip_ = AppendPackedItem(package, Bytes("first item"), TailWith(FILE_ATTRIBUTE_ARCHIVE));
    secondPos_ = static_cast<std::uint32_t>(package.size());
    secondZip_ = AppendPackedItem(package, Bytes("second"), TailWith(FILE_ATTRIBUTE_ARCHIVE));
    const std::string script = "[File]\r\nFile=0\r\n";
    ASSERT_TRUE(AppendPackageEnd(
        package, std::span(reinterpret_cast<const std::uint8_t*>(script.data()), script.size()),
        TailWith(FILE_ATTRIBUTE_ARCHIVE)));
    packageSize_ = static_cast<std::uint32_t>(package.size());
    packagePath_ = folder_.File("package.exe");
    ASSERT_TRUE(test::WriteFileBytes(packagePath_, package));
    temp_ = folder_.Subfolder("temp");
  }

  std::string packagePath_;
  std::string temp_;
  std::uint32_t firstPos_ = 0, firstZip_ = 0, secondPos_ = 0, secondZip_ = 0;
  std::uint32_t packageSize_ = 0;
};

TEST_F(PackedItemTest, ExtractPackedItemInflatesFromThePackageStraightIntoTheTarget) {
  test::ScopedEnvironment tmp("Tmp", temp_);
  ASSERT_TRUE(OpenPackageFile(packagePath_));
  const std::string target = folder_.File("second.txt");
  EXPECT_EQ(ExtractPackedItem(secondPos_, secondZip_, target, false), 6u);
  ExpectStoredTimes(target);
  EXPECT_EQ(test::ReadTextFile(target), "second");
  // No copy of the item on the temporary drive.
  EXPECT_EQ(test::FolderEntries(temp_), std::vector<std::string>());
  EXPECT_EQ(ExtractPackedItem(firstPos_, firstZip_, target, true), 10u);
  EXPECT_EQ(test::ReadTextFile(target), "secondfirst item");
}

TEST_F(PackedItemTest, ExtractPackedItemOutsideThePackageFails) {
  test::ScopedEnvironment tmp("Tmp", temp_);
  const std::string target = folder_.File("outside.txt");
  // No package open.
  EXPECT_EQ(ExtractPackedItem(firstPos_, firstZip_, target, false), 0u);
  ASSERT_TRUE(OpenPackageFile(packagePath_));
  EXPECT_EQ(ExtractPackedItem(packageSize_ - 10, 32, target, false), 0u);
  EXPECT_EQ(ExtractPackedItem(packageSize_, 1, target, false), 0u);
  EXPECT_EQ(ExtractPackedItem(packageSize_ + 100, 40, target, false), 0u);
  // position + length wraps around 32 bits.
  EXPECT_EQ(ExtractPackedItem(0xFFFFFFF0u, 0x40, target, false), 0u);
  EXPECT_EQ(ExtractPackedItem(firstPos_, 0xFFFFFFFFu, target, false), 0u);
  EXPECT_EQ(ExtractPackedItem(firstPos_, 0, target, false), 0u);
  EXPECT_FALSE(test::FileExists(target));
  // The whole package is still a readable range.
  EXPECT_EQ(ExtractPackedItem(firstPos_, firstZip_, target, false), 10u);
}

class FindPackedItemTest : public ::testing::Test {
 protected:
  void SetUp() override { tmp_.emplace("Tmp", folder_.path()); }
  void WriteScript(const std::string& text) {
    // Drop the profile cache's copy of the old text.
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, ScriptPath().c_str());
    ASSERT_TRUE(test::WriteTextFile(ScriptPath(), text));
  }
  TempFolder folder_;
  std::optional<test::ScopedEnvironment> tmp_;
};

TEST_F(FindPackedItemTest, NamesCompareWithoutRegardToCaseAndTheFirstMatchWins) {
  WriteScript(
      "[File]\r\nFile=3\r\nFile1=Readme.TXT\r\nZip1=40\r\nPos1=1000\r\n"
      "File2=app.exe\r\nZip2=50\r\nPos2=2000\r\nFile3=APP.EXE\r\nZip3=60\r\nPos3=3000\r\n");
  PackedItemRef ref = FindPackedItem("readme.txt");
  EXPECT_TRUE(ref.found);
  EXPECT_EQ(ref.index, 1);
  EXPECT_EQ(ref.position, 1000u);
  EXPECT_EQ(ref.length, 40u);

  ref = FindPackedItem("App.Exe");
  EXPECT_TRUE(ref.found);
  EXPECT_EQ(ref.index, 2);
  EXPECT_EQ(ref.position, 2000u);
  EXPECT_EQ(ref.length, 50u);

  ref = FindPackedItem("other.dll");
  EXPECT_FALSE(ref.found);
  EXPECT_EQ(ref.index, 0);
  EXPECT_EQ(ref.position, 0u);
  EXPECT_EQ(ref.length, 0u);
}

TEST_F(FindPackedItemTest, AMatchWithAZeroKeyIsNotFoundButKeepsItsIndex) {
  WriteScript(
      "[File]\r\nFile=2\r\nFile1=nozip.dll\r\nPos1=1000\r\n"
      "File2=nopos.dll\r\nZip2=50\r\nPos2=0\r\n");
  PackedItemRef ref = FindPackedItem("nozip.dll");
  EXPECT_FALSE(ref.found);
  EXPECT_EQ(ref.index, 1);
  EXPECT_EQ(ref.position, 1000u);
  EXPECT_EQ(ref.length, 0u);
  ref = FindPackedItem("NOPOS.DLL");
  EXPECT_FALSE(ref.found);
  EXPECT_EQ(ref.index, 2);
  EXPECT_EQ(ref.length, 50u);
}

TEST_F(FindPackedItemTest, OnlyTheCountedFilesAreSearched) {
  WriteScript(
      "[File]\r\nFile=1\r\nFile1=a.txt\r\nZip1=1\r\nPos1=1\r\n"
      "File2=b.txt\r\nZip2=2\r\nPos2=2\r\n");
  EXPECT_FALSE(FindPackedItem("b.txt").found);
  WriteScript("[File]\r\nFile1=a.txt\r\nZip1=1\r\nPos1=1\r\n");
  EXPECT_FALSE(FindPackedItem("a.txt").found);
  EXPECT_EQ(FindPackedItem("a.txt").index, 0);
}

}  // namespace
}  // namespace vorlatch
