// Writes a few real packages (made with the package writer) as the fuzzer's seed corpus:
// a script-only package, one with files, an uninstaller, a DLL and documents, a protected
// one, a signed one (a PE image with a certificate table after the package), and a bare
// script text.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../pe_fixture.h"
#include "package/format.h"

namespace {

using vorlatch::Bytes;

Bytes AsBytes(const std::string& text) {
  return Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

bool Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

struct Item {
  std::string section;  // the section that gets the keys
  std::string key;      // "1" for Zip1/Pos1, "Uninstall" for UninstallZip/UninstallPos
  std::string content;
};

// A small stub image, the items, and the script followed by the keys that locate them.
std::vector<std::uint8_t> Package(const std::string& script, const std::vector<Item>& items,
                                  bool isProtected) {
  std::vector<std::uint8_t> bytes(64, 0x90);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  vorlatch::ItemTail tail;
  tail.attributes = 0x20;
  tail.creation = 0x01DA000000000000ULL;
  tail.access = tail.creation + 10000000;
  tail.write = tail.creation + 20000000;
  std::string keys;
  for (const Item& item : items) {
    const std::size_t position = bytes.size();
    const std::uint32_t length = vorlatch::AppendPackedItem(bytes, AsBytes(item.content), tail);
    const bool numbered = item.key.find_first_not_of("0123456789") == std::string::npos;
    const std::string zip = numbered ? "Zip" + item.key : item.key + "Zip";
    const std::string pos = numbered ? "Pos" + item.key : item.key + "Pos";
    keys += "[" + item.section + "]\r\n" + zip + "=" + std::to_string(length) + "\r\n" + pos + "=" +
            std::to_string(position) + "\r\n";
  }
  const std::uint8_t protection[vorlatch::kProtectionBlockSize] = {1, 2,  3,  4,  5,  6,  7,  8,
                                                                   9, 10, 11, 12, 13, 14, 15, 16};
  vorlatch::AppendPackageEnd(bytes, AsBytes(script + keys), tail,
                             isProtected ? protection : nullptr);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: package_fuzz_seeds FOLDER\n");
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";
  const std::string filesScript =
      "[General]\r\nProduct=Seed\r\n[File]\r\nFile=2\r\nFile1=a.txt\r\nFile2=b.dat\r\n"
      "Uninstall=1\r\nDll=x.dll\r\n[Before]\r\nLoad=1\r\nFile=readme.txt\r\n"
      "[After]\r\nRun=1\r\nFile=run.exe\r\n";
  const std::vector<Item> filesItems = {
      {"File", "1", "alpha alpha alpha alpha\r\n"},
      {"File", "2", std::string(3000, 'b') + "end"},
      {"File", "Uninstall", "MZ uninstaller"},
      {"File", "Dll", "MZ dll"},
      {"Before", "File", "Read me"},
      {"After", "File", "MZ run"},
  };
  // Script texts: the fuzzer also packs each input as the script of a small package.
  const std::string scriptText =
      "[General]\r\nProduct=Text seed\r\n[File]\r\nFile=2\r\nFile1=a.txt\r\nZip1=50\r\n"
      "Pos1=40\r\nFile2=b.txt\r\nZip2=60\r\nPos2=90\r\nUninstall=1\r\nUninstallZip=41\r\n"
      "UninstallPos=150\r\n[Before]\r\nProtect=1\r\nFileZip=10\r\nFilePos=40\r\n";
  const std::vector<std::uint8_t> scriptBytes(scriptText.begin(), scriptText.end());
  const bool ok =
      Write(folder + "script-text", scriptBytes) &&
      Write(folder + "script-only", Package("[General]\r\nProduct=Only\r\n", {}, false)) &&
      Write(folder + "files", Package(filesScript, filesItems, false)) &&
      Write(folder + "protected",
            Package("[Before]\r\nProtect=1\r\nPassword=x\r\n[File]\r\nFile=1\r\nFile1=p.txt\r\n",
                    {{"File", "1", "protected content"}}, true));
  std::vector<std::uint8_t> signedPackage =
      vorlatch::testing::FixtureImage(vorlatch::testing::kFixtureManifest);
  vorlatch::AppendPackageEnd(signedPackage, AsBytes("[General]\r\nProduct=Signed\r\n"), {});
  vorlatch::testing::AppendCertificateTable(signedPackage);
  if (!ok || !Write(folder + "signed", signedPackage)) {
    std::fprintf(stderr, "package_fuzz_seeds: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
