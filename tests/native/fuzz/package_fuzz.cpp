// libFuzzer target: the package reader on arbitrary files. Finds where the package ends (a
// signed file's certificate table), locates the script through the trailer, inflates it,
// reads the Zip/Pos pairs of the script and inflates every item they name; the packer's
// inspection reads the same file. Any read outside the input, leak or undefined behaviour is
// a finding.
//
// Mutated bytes rarely survive inside a zlib stream, so each input is also taken as the text
// of a script and packed after a few real items: that way the fuzzer reaches the INI reader
// and aims Zip/Pos keys at every corner of a real package.

#include <cstddef>
#include <cstdint>
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

void InflateNamedItem(Bytes package, long long zip, long long pos) {
  if (zip <= 0 || pos <= 0) {
    return;
  }
  const auto item =
      vorlatch::SliceOf(package, static_cast<std::uint64_t>(pos), static_cast<std::uint64_t>(zip));
  if (!item) {
    return;
  }
  const auto tail = vorlatch::ReadItemTailOf(*item);
  const auto content = vorlatch::InflateItem(*item);
  if (content && (!tail || content->size() > tail->size || content->empty())) {
    __builtin_trap();  // an item never inflates beyond its tail's size
  }
}

void ReadPackage(Bytes package);

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
  ReadPackage(Bytes(data, size));
  {
    // The report's text is not the point, only the reading: a stream without a buffer.
    std::ostream report(nullptr);
    std::string error;
    (void)vorlatch::packer::InspectInstallerBytes("fuzz", Bytes(data, size), report, error);
  }
  std::vector<std::uint8_t> wrapped = PackageStart();
  // Odd sizes make a protected package, its block taken from the input's first bytes.
  const bool isProtected = size >= vorlatch::kProtectionBlockSize && size % 2 != 0;
  if (vorlatch::AppendPackageEnd(wrapped, Bytes(data, size), {}, isProtected ? data : nullptr)) {
    ReadPackage(wrapped);
  }
  return 0;
}

namespace {

void ReadPackage(Bytes file) {
  // As the stub does: a trusted certificate table ends the package.
  (void)vorlatch::LocateCertificateTable(file);
  const Bytes package = vorlatch::PackageOf(file);
  const auto protection = vorlatch::LocateProtectionBlock(package);
  (void)vorlatch::ReservedBytePosition(package, true);
  const auto block = vorlatch::LocateScriptBlock(package);
  if (!block) {
    return;
  }
  const auto scriptBytes = vorlatch::InflateItem(*block);
  if (!scriptBytes) {
    return;
  }
  const std::string_view text(reinterpret_cast<const char*>(scriptBytes->data()),
                              scriptBytes->size());
  const auto script = vorlatch::packer::IniText::Parse(text);
  if (protection) {
    // The password the password dialog compares with: never longer than the block.
    if (vorlatch::RebuildPassword(*protection, script.GetString("Before", "Password")).size() >
        vorlatch::kMaxPasswordLength) {
      __builtin_trap();
    }
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
}

}  // namespace
