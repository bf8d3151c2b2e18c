// libFuzzer target: the package reader on arbitrary files. Locates the script through the
// trailer, inflates it, reads the Zip/Pos pairs of the script and inflates every item they
// name. Any read outside the input, leak or undefined behaviour is a finding.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "package/format.h"
#include "packer/ini_text.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes package(data, size);
  (void)vorlatch::LocateProtectionBlock(package);
  (void)vorlatch::ReservedBytePosition(package, true);
  const auto block = vorlatch::LocateScriptBlock(package);
  if (!block) {
    return 0;
  }
  const auto scriptBytes = vorlatch::InflateItem(*block);
  if (!scriptBytes) {
    return 0;
  }
  const std::string_view text(reinterpret_cast<const char*>(scriptBytes->data()),
                              scriptBytes->size());
  const auto script = vorlatch::packer::IniText::Parse(text);

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
  return 0;
}
