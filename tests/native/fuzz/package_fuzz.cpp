// libFuzzer target: the package reader on arbitrary files. Finds where the package ends (a
// signed file's certificate table), locates the script through the trailer, inflates it,
// reads the Zip/Pos pairs of the script and inflates every item they name; the packer's
// inspection reads the same file. Every inflation is compared with zlib's streaming inflater.
// A disagreement, any read outside the input, a leak or undefined behaviour is a finding.
//
// Mutated bytes rarely survive inside a zlib stream, so each input is also taken as the text
// of a script and packed after a few real items: that way the fuzzer reaches the INI reader
// and aims Zip/Pos keys at every corner of a real package. What the package writer wrote
// there, the reader must find again.

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "package/format.h"
#include "package/password_text.h"
#include "package/signature_layout.h"
#include "packer/ini_text.h"
#include "packer/packer.h"

namespace {

using vorlatch::Bytes;

// What zlib's streaming inflater makes of an item, in small steps: the reader, in pieces of
// any size, must give the same. Nothing when the
// tail states 0 bytes, or the stream is empty, corrupt, unfinished or gives more than the
// tail states. Fewer bytes than stated are read here as there; the stub refuses them later.
std::optional<std::vector<std::uint8_t>> ReferenceInflation(Bytes item) {
  if (item.size() <= vorlatch::kItemTailSize) {
    return std::nullopt;
  }
  const std::uint32_t stated = vorlatch::ReadU32(item.data() + item.size() - 4);
  z_stream stream{};
  if (stated == 0 || inflateInit(&stream) != Z_OK) {
    return std::nullopt;
  }
  stream.next_in = const_cast<Bytef*>(item.data());
  stream.avail_in = static_cast<uInt>(item.size() - vorlatch::kItemTailSize);
  std::vector<std::uint8_t> content;
  int result = Z_OK;
  while (result == Z_OK && content.size() <= stated) {
    std::uint8_t step[4096];
    stream.next_out = step;
    stream.avail_out = sizeof step;
    result = inflate(&stream, Z_NO_FLUSH);
    content.insert(content.end(), step, step + (sizeof step - stream.avail_out));
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END || content.size() > stated) {
    return std::nullopt;
  }
  return content;
}

std::optional<std::vector<std::uint8_t>> Inflate(Bytes item) {
  const auto content = vorlatch::InflateItem(item);
  // Pieces of 1 to 64 bytes too, so that piece boundaries fall everywhere in the stream.
  if (content != ReferenceInflation(item) ||
      (!item.empty() && content != vorlatch::InflateItem(item, 1 + item[0] % 64))) {
    __builtin_trap();
  }
  return content;
}

void InflateNamedItem(Bytes package, long long zip, long long pos) {
  if (zip <= 0 || pos <= 0) {
    return;
  }
  if (const auto item = vorlatch::SliceOf(package, static_cast<std::uint64_t>(pos),
                                          static_cast<std::uint64_t>(zip))) {
    (void)Inflate(*item);
  }
}

std::optional<std::vector<std::uint8_t>> ReadPackage(Bytes file);

// A stub image and three items: the start of every package that wraps a fuzzed script.
const std::vector<std::uint8_t>& PackageStart() {
  static const std::vector<std::uint8_t> start = [] {
    std::vector<std::uint8_t> bytes(40, 0x90);
    const std::string contents[] = {"first item", std::string(700, 'z'), "x"};
    for (const std::string& content : contents) {
      vorlatch::AppendPackedItem(
          bytes, Bytes(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()), {});
    }
    return bytes;
  }();
  return start;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)ReadPackage(Bytes(data, size));
  {
    // The report's text is not the point, only the reading: a stream without a buffer.
    std::ostream report(nullptr);
    std::string error;
    (void)vorlatch::packer::InspectInstallerBytes("fuzz", Bytes(data, size), report, error);
  }
  std::vector<std::uint8_t> wrapped = PackageStart();
  // Odd sizes make a protected package, its block taken from the input's first bytes.
  const bool isProtected = size >= vorlatch::kProtectionBlockSize && size % 2 != 0;
  if (!vorlatch::AppendPackageEnd(wrapped, Bytes(data, size), {}, isProtected ? data : nullptr)) {
    return 0;
  }
  const auto script = ReadPackage(wrapped);
  // An empty script packs to an item that inflates to nothing, which the reader refuses.
  if (size != 0 && (!script || !std::equal(script->begin(), script->end(), data, data + size))) {
    __builtin_trap();
  }
  const auto protection = vorlatch::LocateProtectionBlock(wrapped);
  const auto reserved = vorlatch::ReservedBytePosition(wrapped, isProtected);
  if (!reserved || wrapped[*reserved] != vorlatch::kReservedByteValue ||
      (isProtected && (!protection || !std::equal(protection->begin(), protection->end(), data)))) {
    __builtin_trap();
  }
  return 0;
}

namespace {

std::optional<std::vector<std::uint8_t>> ReadPackage(Bytes file) {
  // As the stub does: a trusted certificate table ends the package.
  (void)vorlatch::LocateCertificateTable(file);
  const Bytes package = vorlatch::PackageOf(file);
  const auto protection = vorlatch::LocateProtectionBlock(package);
  (void)vorlatch::ReservedBytePosition(package, true);
  const auto block = vorlatch::LocateScriptBlock(package);
  if (!block) {
    return std::nullopt;
  }
  const auto scriptBytes = Inflate(*block);
  if (!scriptBytes) {
    return std::nullopt;
  }
  const std::string_view text(reinterpret_cast<const char*>(scriptBytes->data()),
                              scriptBytes->size());
  const auto script = vorlatch::packer::IniText::Parse(text);
  if (protection) {
    // The password the password dialog compares with.
    (void)vorlatch::RebuildPassword(*protection, script.GetString("Before", "Password"));
  }

  // Writing the parsed script and reading it again changes nothing.
  const std::string written = script.Serialize();
  if (vorlatch::packer::IniText::Parse(written).Serialize() != written) {
    __builtin_trap();
  }

  const long long files = script.GetInt("File", "File");
  for (long long n = 1; n <= files && n <= 1000; ++n) {
    const std::string number = std::to_string(n);
    InflateNamedItem(package, script.GetInt("File", "Zip" + number),
                     script.GetInt("File", "Pos" + number));
  }
  InflateNamedItem(package, script.GetInt("File", "UninstallZip"),
                   script.GetInt("File", "UninstallPos"));
  InflateNamedItem(package, script.GetInt("File", "DllZip"), script.GetInt("File", "DllPos"));
  InflateNamedItem(package, script.GetInt("Before", "FileZip"), script.GetInt("Before", "FilePos"));
  InflateNamedItem(package, script.GetInt("After", "FileZip"), script.GetInt("After", "FilePos"));
  return scriptBytes;
}

}  // namespace
