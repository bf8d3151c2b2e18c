#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "package/format.h"

namespace vorlatch {
namespace {

std::vector<std::uint8_t> Text(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Text that compresses well but not to nothing.
std::vector<std::uint8_t> SampleContent(std::size_t size) {
  std::vector<std::uint8_t> content(size);
  std::uint32_t state = 12345;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    content[i] = static_cast<std::uint8_t>(i % 7 == 0 ? (state >> 16) : 'a' + (i % 13));
  }
  return content;
}

ItemTail SampleTail() {
  ItemTail tail;
  tail.attributes = 0x21;
  tail.creation = 0x01D0000011112222ULL;
  tail.access = 0x01D0000033334444ULL;
  tail.write = 0x01D0000055556666ULL;
  return tail;
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// A package: a fake stub image, one item, and the end with the given script.
struct Package {
  std::vector<std::uint8_t> bytes;
  std::uint32_t itemPos = 0;
  std::uint32_t itemLength = 0;
};

Package MakePackage(const std::vector<std::uint8_t>& item, const std::string& script,
                    const std::uint8_t* protection = nullptr) {
  Package p;
  p.bytes = Text("MZ stub image");
  p.itemPos = static_cast<std::uint32_t>(p.bytes.size());
  p.itemLength = AppendPackedItem(p.bytes, item, SampleTail());
  const auto text = Text(script);
  EXPECT_TRUE(AppendPackageEnd(p.bytes, text, SampleTail(), protection));
  return p;
}

TEST(FormatItem, RoundTripKeepsContentAndTailInTheirPlaces) {
  const auto content = SampleContent(5000);
  std::vector<std::uint8_t> out = Text("prefix");
  const std::uint32_t length = AppendPackedItem(out, content, SampleTail());
  ASSERT_GT(length, kItemTailSize);
  ASSERT_EQ(out.size(), 6 + length);
  const Bytes item = Bytes(out).subspan(6);
  EXPECT_EQ(item[0], 0x78);  // zlib header at the default level
  EXPECT_EQ(item[1], 0x9C);
  // Fields counted from the end of the item.
  EXPECT_EQ(ReadU32(item.data() + length - 4), 5000u);
  EXPECT_EQ(ReadU64(item.data() + length - 12), SampleTail().write);
  EXPECT_EQ(ReadU64(item.data() + length - 20), SampleTail().access);
  EXPECT_EQ(ReadU64(item.data() + length - 28), SampleTail().creation);
  EXPECT_EQ(ReadU32(item.data() + length - 32), 0x21u);
  const auto tail = ReadItemTailOf(item);
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->size, 5000u);
  const auto inflated = InflateItem(item);
  ASSERT_TRUE(inflated);
  EXPECT_EQ(*inflated, content);
}

TEST(FormatItem, IncompressibleAndTinyContentStillPack) {
  for (std::size_t size : {1u, 2u, 17u, 70000u}) {
    std::vector<std::uint8_t> content(size);
    std::uint32_t state = 7;
    for (auto& b : content) {
      state = state * 2654435761u + 1;
      b = static_cast<std::uint8_t>(state >> 24);
    }
    std::vector<std::uint8_t> out;
    ASSERT_NE(AppendPackedItem(out, content, {}), 0u) << size;
    const auto inflated = InflateItem(out);
    ASSERT_TRUE(inflated) << size;
    EXPECT_EQ(*inflated, content);
  }
}

TEST(FormatItem, TailSizeDecidesWhetherTheStreamFits) {
  const auto content = SampleContent(1000);
  std::vector<std::uint8_t> item;
  AppendPackedItem(item, content, {});
  const std::size_t sizeAt = item.size() - 4;

  PutU32(item, sizeAt, 4000);  // larger than the output: still inflates, to the real length
  auto larger = InflateItem(item);
  ASSERT_TRUE(larger);
  EXPECT_EQ(*larger, content);
  EXPECT_EQ(InflateItem(item, 7), content);  // in small pieces too

  PutU32(item, sizeAt, 999);  // one byte too small
  EXPECT_FALSE(InflateItem(item));
  PutU32(item, sizeAt, 0);
  EXPECT_FALSE(InflateItem(item));
}

TEST(FormatItem, HighestRatioStreamsAndOverstatedSizesInflate) {
  // Zeros compress near deflate's limit; they still inflate whole.
  const std::vector<std::uint8_t> zeros(16u << 20, 0);
  std::vector<std::uint8_t> item;
  ASSERT_NE(AppendPackedItem(item, zeros, {}), 0u);
  const auto inflated = InflateItem(item);
  ASSERT_TRUE(inflated);
  EXPECT_EQ(inflated->size(), zeros.size());

  // A tail that claims 4 GiB for a small stream gives the stream's real output.
  std::vector<std::uint8_t> small;
  AppendPackedItem(small, Text("just a few bytes"), {});
  PutU32(small, small.size() - 4, 0xFFFFFFFFu);
  EXPECT_EQ(InflateItem(small), Text("just a few bytes"));
}

TEST(FormatItem, BrokenItemsFailWithoutReadingOutside) {
  const auto content = SampleContent(3000);
  std::vector<std::uint8_t> item;
  AppendPackedItem(item, content, {});

  auto corrupt = item;
  corrupt[corrupt.size() / 2] ^= 0x55;
  EXPECT_FALSE(InflateItem(corrupt));
  auto badCheck = item;
  badCheck[item.size() - 33] ^= 0x01;  // last byte of the Adler-32
  EXPECT_FALSE(InflateItem(badCheck));
  auto truncated = item;
  truncated.erase(truncated.begin() + 20, truncated.end() - 32);
  EXPECT_FALSE(InflateItem(truncated));

  // Shorter than a tail, and a tail with no stream before it.
  EXPECT_FALSE(ReadItemTailOf(Bytes(item).first(31)));
  EXPECT_FALSE(InflateItem(Bytes(item).first(31)));
  EXPECT_FALSE(InflateItem(Bytes(item).last(32)));
  EXPECT_EQ(ItemInflater(Bytes(), 10).state(), ItemInflater::State::kFailed);
}

TEST(FormatSlice, RejectsEveryRangeThatLeavesThePackage) {
  const std::vector<std::uint8_t> bytes(100, 1);
  const Bytes package(bytes);
  EXPECT_TRUE(SliceOf(package, 0, 100));
  EXPECT_TRUE(SliceOf(package, 100, 0));
  ASSERT_TRUE(SliceOf(package, 40, 60));
  EXPECT_EQ(SliceOf(package, 40, 60)->data(), bytes.data() + 40);
  EXPECT_FALSE(SliceOf(package, 40, 61));
  EXPECT_FALSE(SliceOf(package, 101, 0));
  EXPECT_FALSE(SliceOf(package, 1, UINT64_MAX));  // would wrap around
  EXPECT_FALSE(SliceOf(package, UINT64_MAX, 2));
}

TEST(FormatPackage, ScriptOnlyPackageHasItsReservedByteBeforeTheScript) {
  std::vector<std::uint8_t> bytes = Text("MZ");
  const auto script = Text("[General]\r\nProduct=Only the script\r\n");
  ASSERT_TRUE(AppendPackageEnd(bytes, script, SampleTail()));
  const Bytes package(bytes);
  const auto block = LocateScriptBlock(package);
  ASSERT_TRUE(block);
  const std::uint64_t e = bytes.size();
  const std::uint32_t l = ReadU32(bytes.data() + e - 4);
  EXPECT_EQ(block->size(), l);
  EXPECT_EQ(block->data(), bytes.data() + e - 4 - l);
  EXPECT_EQ(ReadU32(bytes.data() + e - 8), script.size());
  ASSERT_EQ(ReservedBytePosition(package, false), e - 4 - l - 1);
  EXPECT_EQ(bytes[e - 4 - l - 1], kReservedByteValue);
  EXPECT_EQ(e - 4 - l - 1, 2u);  // directly after the stub image
  const auto inflated = InflateItem(*block);
  ASSERT_TRUE(inflated);
  EXPECT_EQ(*inflated, script);
}

TEST(FormatPackage, ProtectionBlockSitsBetweenReservedByteAndScript) {
  std::array<std::uint8_t, kProtectionBlockSize> protection;
  for (std::size_t i = 0; i < protection.size(); ++i) {
    protection[i] = static_cast<std::uint8_t>(0xA0 + i);
  }
  const Package p = MakePackage(SampleContent(200), "[Before]\r\nProtect=1\r\n", protection.data());
  const Bytes package(p.bytes);
  const std::uint64_t e = p.bytes.size();
  const std::uint32_t l = ReadU32(p.bytes.data() + e - 4);
  const auto block = LocateProtectionBlock(package);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->data(), p.bytes.data() + e - 4 - l - 16);
  EXPECT_TRUE(std::equal(block->begin(), block->end(), protection.begin()));
  ASSERT_EQ(ReservedBytePosition(package, true), e - 4 - l - 17);
  EXPECT_EQ(p.bytes[e - 4 - l - 17], kReservedByteValue);
  // The reserved byte follows the last item directly.
  EXPECT_EQ(p.itemPos + p.itemLength, e - 4 - l - 17);
  const auto item = SliceOf(package, p.itemPos, p.itemLength);
  ASSERT_TRUE(item);
  EXPECT_EQ(InflateItem(*item), SampleContent(200));

  // Unprotected, the reserved byte moves next to the script block.
  const Package plain = MakePackage(SampleContent(200), "[Before]\r\nProtect=0\r\n");
  const std::uint64_t plainL = ReadU32(plain.bytes.data() + plain.bytes.size() - 4);
  EXPECT_EQ(ReservedBytePosition(plain.bytes, false), plain.bytes.size() - 4 - plainL - 1);
  EXPECT_EQ(plain.itemPos + plain.itemLength, plain.bytes.size() - 4 - plainL - 1);
}

TEST(FormatPackage, TrailerThatDoesNotFitIsRejected) {
  Package p = MakePackage(SampleContent(64), "[File]\r\nFile=0\r\n");
  const std::size_t e = p.bytes.size();
  ASSERT_TRUE(LocateScriptBlock(p.bytes));

  auto bytes = p.bytes;
  PutU32(bytes, e - 4, static_cast<std::uint32_t>(e - 3));  // one byte more than the file
  EXPECT_FALSE(LocateScriptBlock(bytes));
  EXPECT_FALSE(LocateProtectionBlock(bytes));
  EXPECT_FALSE(ReservedBytePosition(bytes, false));
  PutU32(bytes, e - 4, 0xFFFFFFFFu);
  EXPECT_FALSE(LocateScriptBlock(bytes));
  PutU32(bytes, e - 4, 31);  // shorter than an item tail
  EXPECT_FALSE(LocateScriptBlock(bytes));
  PutU32(bytes, e - 4, 0);
  EXPECT_FALSE(LocateScriptBlock(bytes));
  PutU32(bytes, e - 4, static_cast<std::uint32_t>(e - 4));  // the whole file: fits, no room left
  EXPECT_TRUE(LocateScriptBlock(bytes));
  EXPECT_FALSE(LocateProtectionBlock(bytes));
  EXPECT_FALSE(ReservedBytePosition(bytes, false));

  EXPECT_FALSE(LocateScriptBlock(Bytes(bytes).first(3)));
  EXPECT_FALSE(LocateScriptBlock(Bytes()));
}

TEST(FormatPackage, ProtectionBlockNeedsSixteenBytesBeforeTheScript) {
  std::vector<std::uint8_t> bytes(15, 0);
  ASSERT_TRUE(AppendPackageEnd(bytes, Text("[General]\r\n"), {}));
  bytes.erase(bytes.begin());  // 15 bytes before the script block: one short of 16
  EXPECT_TRUE(LocateScriptBlock(bytes));
  EXPECT_FALSE(LocateProtectionBlock(bytes));
  EXPECT_FALSE(ReservedBytePosition(bytes, true));
  EXPECT_TRUE(ReservedBytePosition(bytes, false));
}

}  // namespace
}  // namespace vorlatch
