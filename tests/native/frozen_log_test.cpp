#include "uninstaller/frozen_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vorlatch {
namespace {

void PutU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes.at(at) = static_cast<std::uint8_t>(value & 0xFF);
  bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// The headers of a small program: a DOS header pointing to the PE header at 0x40, a 32-bit
// optional header with SizeOfHeaders 0x400, and the sections given as (raw pointer, raw size).
std::vector<std::uint8_t> ProgramHeaders(
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& sections) {
  std::vector<std::uint8_t> bytes(0x400, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  PutU32(bytes, 0x3C, 0x40);
  bytes[0x40] = 'P';
  bytes[0x41] = 'E';
  PutU16(bytes, 0x46, static_cast<std::uint16_t>(sections.size()));
  PutU16(bytes, 0x54, 0xE0);        // size of the optional header
  PutU32(bytes, 0x58 + 60, 0x400);  // SizeOfHeaders
  std::size_t table = 0x58 + 0xE0;
  for (const auto& [pointer, size] : sections) {
    PutU32(bytes, table + 16, size);
    PutU32(bytes, table + 20, pointer);
    table += 40;
  }
  return bytes;
}

TEST(FrozenLog, PlaceFromTheLengthAtTheEnd) {
  TailProblem problem = TailProblem::kUnreadable;
  const auto place = PlaceOfFrozenLog(1000, 100, problem);
  ASSERT_TRUE(place.has_value());
  EXPECT_EQ(problem, TailProblem::kNone);
  EXPECT_EQ(place->offset, 896u);
  EXPECT_EQ(place->length, 100u);
}

TEST(FrozenLog, LengthsThatCannotBeTrusted) {
  TailProblem problem = TailProblem::kNone;
  EXPECT_FALSE(PlaceOfFrozenLog(4, 0, problem));
  EXPECT_EQ(problem, TailProblem::kFileTooShort);
  EXPECT_FALSE(PlaceOfFrozenLog(0, 0, problem));
  EXPECT_EQ(problem, TailProblem::kFileTooShort);
  EXPECT_FALSE(PlaceOfFrozenLog(1000, 0, problem));
  EXPECT_EQ(problem, TailProblem::kNoLog);
  // The program needs at least one byte before the log.
  EXPECT_FALSE(PlaceOfFrozenLog(1000, 996, problem));
  EXPECT_EQ(problem, TailProblem::kLengthTooLarge);
  EXPECT_TRUE(PlaceOfFrozenLog(1000, 995, problem));
  EXPECT_FALSE(PlaceOfFrozenLog(1000, 0xFFFFFFFFu, problem));
  EXPECT_EQ(problem, TailProblem::kLengthTooLarge);
  // However large the file, no log is larger than the limit.
  EXPECT_FALSE(PlaceOfFrozenLog(std::uint64_t{1} << 40, kMaxFrozenLogLength + 1, problem));
  EXPECT_EQ(problem, TailProblem::kLengthTooLarge);
  EXPECT_TRUE(PlaceOfFrozenLog(std::uint64_t{1} << 40, kMaxFrozenLogLength, problem));
}

TEST(FrozenLog, ProgramImageEndIsTheFurthestSection) {
  const auto headers = ProgramHeaders({{0x400, 0x200}, {0x600, 0x1000}, {0x1600, 0}});
  EXPECT_EQ(ProgramImageEnd(Bytes(headers.data(), headers.size())), 0x1600u);
  // Without sections the headers end the program.
  const auto bare = ProgramHeaders({});
  EXPECT_EQ(ProgramImageEnd(Bytes(bare.data(), bare.size())), 0x400u);
}

TEST(FrozenLog, DamagedProgramHeadersGiveNoEnd) {
  auto headers = ProgramHeaders({{0x400, 0x200}});
  EXPECT_FALSE(ProgramImageEnd(Bytes(headers.data(), 0x3F)));
  // Cut inside the section table.
  EXPECT_FALSE(ProgramImageEnd(Bytes(headers.data(), 0x58 + 0xE0 + 20)));
  auto notMz = headers;
  notMz[0] = 'X';
  EXPECT_FALSE(ProgramImageEnd(Bytes(notMz.data(), notMz.size())));
  auto notPe = headers;
  notPe[0x41] = 'X';
  EXPECT_FALSE(ProgramImageEnd(Bytes(notPe.data(), notPe.size())));
  auto farHeader = headers;
  PutU32(farHeader, 0x3C, 0xFFFFFFF0u);
  EXPECT_FALSE(ProgramImageEnd(Bytes(farHeader.data(), farHeader.size())));
  auto tooManySections = headers;
  PutU16(tooManySections, 0x46, 97);
  EXPECT_FALSE(ProgramImageEnd(Bytes(tooManySections.data(), tooManySections.size())));
  // Raw data near the end of the 32-bit range does not wrap around.
  auto huge = ProgramHeaders({{0xFFFFFF00u, 0xFFFFFF00u}});
  EXPECT_EQ(ProgramImageEnd(Bytes(huge.data(), huge.size())), 0xFFFFFF00ull * 2);
}

TEST(FrozenLog, LogTextStartsWithASectionAndHasNoZeroBytes) {
  EXPECT_TRUE(LooksLikeLogText("[General]\r\nProduct=Tool\r\n"));
  EXPECT_TRUE(LooksLikeLogText("\r\n[Registry]\r\nNumber=0\r\n"));
  EXPECT_FALSE(LooksLikeLogText("Product=Tool\r\n[General]\r\n"));
  EXPECT_FALSE(LooksLikeLogText(""));
  EXPECT_FALSE(LooksLikeLogText(" \r\n"));
  EXPECT_FALSE(LooksLikeLogText(std::string_view("[General]\0x", 11)));
}

TEST(FrozenLog, EveryProblemHasItsOwnWords) {
  std::vector<std::string> texts;
  for (const TailProblem problem :
       {TailProblem::kUnreadable, TailProblem::kFileTooShort, TailProblem::kNoLog,
        TailProblem::kLengthTooLarge, TailProblem::kNotAProgram, TailProblem::kNotText,
        TailProblem::kNoDestination}) {
    const std::string text = TailProblemText(problem);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.push_back(text);
  }
}

}  // namespace
}  // namespace vorlatch
