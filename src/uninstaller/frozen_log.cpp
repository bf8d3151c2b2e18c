#include "uninstaller/frozen_log.h"

#include <algorithm>

namespace vorlatch {

namespace {

constexpr std::uint64_t kDosHeaderSize = 0x40;
constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;
constexpr std::uint64_t kPeSignatureSize = 4;
constexpr std::uint64_t kFileHeaderSize = 20;
constexpr std::uint64_t kSectionCountField = 2;         // in the file header
constexpr std::uint64_t kOptionalHeaderSizeField = 16;  // in the file header
constexpr std::uint64_t kSizeOfHeadersField = 60;       // in the optional header, 32 and 64 bit
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kSectionRawSizeField = 16;
constexpr std::uint64_t kSectionRawPointerField = 20;
// The format allows no more.
constexpr std::uint64_t kMaxSections = 96;

std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// `length` bytes at `offset` lie inside `bytes`.
bool Fits(Bytes bytes, std::uint64_t offset, std::uint64_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

}  // namespace

std::optional<FrozenLogPlace> PlaceOfFrozenLog(std::uint64_t fileSize, std::uint32_t storedLength,
                                               TailProblem& problem) {
  problem = TailProblem::kNone;
  if (fileSize <= kLogLengthSize) {
    problem = TailProblem::kFileTooShort;
    return std::nullopt;
  }
  if (storedLength == 0) {
    problem = TailProblem::kNoLog;
    return std::nullopt;
  }
  const std::uint64_t before = fileSize - kLogLengthSize;
  if (storedLength > kMaxFrozenLogLength || storedLength >= before) {
    // The program needs at least one byte in front of the log.
    problem = TailProblem::kLengthTooLarge;
    return std::nullopt;
  }
  return FrozenLogPlace{before - storedLength, storedLength};
}

std::optional<std::uint64_t> ProgramImageEnd(Bytes headers) {
  if (!Fits(headers, 0, kDosHeaderSize) || headers[0] != 'M' || headers[1] != 'Z') {
    return std::nullopt;
  }
  const std::uint64_t peHeader = ReadU32(headers.data() + kNewHeaderOffsetField);
  if (!Fits(headers, peHeader, kPeSignatureSize + kFileHeaderSize)) {
    return std::nullopt;
  }
  const std::uint8_t* signature = headers.data() + peHeader;
  if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0) {
    return std::nullopt;
  }
  const std::uint8_t* fileHeader = signature + kPeSignatureSize;
  const std::uint64_t sections = ReadU16(fileHeader + kSectionCountField);
  const std::uint64_t optionalSize = ReadU16(fileHeader + kOptionalHeaderSizeField);
  const std::uint64_t optionalHeader = peHeader + kPeSignatureSize + kFileHeaderSize;
  if (sections > kMaxSections || optionalSize < kSizeOfHeadersField + 4 ||
      !Fits(headers, optionalHeader, optionalSize)) {
    return std::nullopt;
  }
  std::uint64_t end = ReadU32(headers.data() + optionalHeader + kSizeOfHeadersField);
  const std::uint64_t table = optionalHeader + optionalSize;
  if (!Fits(headers, table, sections * kSectionHeaderSize)) {
    return std::nullopt;
  }
  for (std::uint64_t s = 0; s < sections; ++s) {
    const std::uint8_t* section = headers.data() + table + s * kSectionHeaderSize;
    const std::uint64_t rawSize = ReadU32(section + kSectionRawSizeField);
    const std::uint64_t rawPointer = ReadU32(section + kSectionRawPointerField);
    if (rawSize != 0) {
      end = std::max(end, rawPointer + rawSize);
    }
  }
  return end;
}

bool LooksLikeLogText(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    return false;
  }
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text[first] == '[';
}

std::string TailProblemText(TailProblem problem) {
  switch (problem) {
    case TailProblem::kNone:
      return "no problem";
    case TailProblem::kUnreadable:
      return "the file cannot be read";
    case TailProblem::kFileTooShort:
      return "the file is too short to hold one";
    case TailProblem::kNoLog:
      return "the file carries no uninstall log";
    case TailProblem::kLengthTooLarge:
      return "the length recorded at its end is larger than the file";
    case TailProblem::kNotAProgram:
      return "the length recorded at its end cuts into the program";
    case TailProblem::kNotText:
      return "the text at its end is not an uninstall log";
    case TailProblem::kNoDestination:
      return "the log names no installation folder";
    case TailProblem::kTemporaryName:
      return "it is read through the temporary folder, whose name has characters that this "
             "system's code page cannot represent";
  }
  return "unknown problem";
}

}  // namespace vorlatch
