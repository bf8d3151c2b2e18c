// Signed installers and the execution level, on installers that the packer builds around a
// PE image laid out byte by byte: where the package of a signed file ends, the sign command,
// and the level that the stub's and the uninstaller's manifests ask for.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "package/format.h"
#include "package/lzma_item.h"
#include "package/signature_layout.h"
#include "packer/execution_level.h"
#include "packer/ini_text.h"
#include "packer/packer.h"
#include "pe_fixture.h"
#include "temp_folder.h"

namespace vorlatch {
namespace {

using testing::AppendCertificateTable;
using testing::FixtureImage;
using testing::kFixtureManifest;
using testing::kFixtureSecurityEntry;
using testing::PutLe;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteFile;

void SetTable(std::vector<std::uint8_t>& file, std::uint64_t offset, std::uint64_t size) {
  PutLe(file, kFixtureSecurityEntry, offset, 4);
  PutLe(file, kFixtureSecurityEntry + 4, size, 4);
}

std::string AsText(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

class Signing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    WriteFile(dir / "stub.exe", AsText(FixtureImage(kFixtureManifest)));
    WriteFile(dir / "uninstall.exe", AsText(FixtureImage(kFixtureManifest)));
    WriteFile(dir / "app.txt", "the program");
  }

  bool Build(const std::string& buildSection, std::string& error, const std::string& sign = "") {
    WriteFile(dir / "app.vlp", "[Build]\nUninstaller=uninstall.exe\n" + buildSection +
                                   "[File]\nFile=1\nFile1=app.txt\nUninstall=1\n");
    packer::BuildOptions options;
    options.project = dir / "app.vlp";
    options.stub = dir / "stub.exe";
    options.output = output;
    options.sign = sign;
    return packer::BuildInstaller(options, error);
  }

  // A certificate of its own for the test, as a publisher would make a test one.
  void MakeCertificate() {
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Test -days 2"
        " -keyout '" +
        dir / "key.pem" + "' -out '" + dir / "cert.pem" + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::string SignCommand() const {
    return "osslsigncode sign -certs '" + dir / "cert.pem" + "' -key '" + dir / "key.pem" +
           "' -in %1 -out %1.signed >/dev/null && mv %1.signed %1";
  }

  TempFolder dir;
  std::string output = dir / "setup.exe";
};

TEST_F(Signing, PackageEndsWhereATrustedCertificateTableBegins) {
  std::string error;
  ASSERT_TRUE(Build("", error)) << error;
  const auto aligned = ReadBytes(output);
  ASSERT_EQ(aligned.size() % 8, 0u);
  // The same package with its length off by 3: as an installer of another builder, or an
  // older one, comes to the signing tool.
  std::vector<std::uint8_t> unaligned;
  for (std::size_t filler = 0; unaligned.size() % 8 != 5; ++filler) {
    unaligned = FixtureImage(kFixtureManifest);
    unaligned.resize(unaligned.size() + filler, 0x90);
    ASSERT_TRUE(AppendPackageEnd(unaligned, testing::AsBytes("[General]\r\nProduct=U\r\n"), {}));
  }

  // Each damage gets the signed file and its table's offset.
  using Damage = void (*)(std::vector<std::uint8_t>&, std::size_t);
  struct Case {
    const char* name;
    const std::vector<std::uint8_t>* package;
    bool sign;
    Damage damage;
    bool trusted;
  };
  const std::vector<Case> cases = {
      {"unsigned", &aligned, false, nullptr, false},
      {"signed, no padding", &aligned, true, nullptr, true},
      {"signed after 3 bytes of padding", &unaligned, true, nullptr, true},
      {"table outside the file", &aligned, true,
       [](auto& f, std::size_t) { SetTable(f, f.size() + 8, 64); }, false},
      {"offset and size overflow", &aligned, true,
       [](auto& f, std::size_t at) { SetTable(f, at, 0xFFFFFFF8u); }, false},
      {"table over the sections", &aligned, true,
       [](auto& f, std::size_t) { SetTable(f, 0x210, f.size() - 0x210); }, false},
      {"table short of the file's end", &aligned, true,
       [](auto& f, std::size_t at) { SetTable(f, at, 32); }, false},
      {"first certificate longer than the table", &aligned, true,
       [](auto& f, std::size_t at) { PutLe(f, at, 65, 4); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> file = *c.package;
    const std::size_t packageSize = file.size();
    if (c.sign) {
      AppendCertificateTable(file);
    }
    if (c.damage != nullptr) {
      c.damage(file, file.size() - 64);
    }
    EXPECT_EQ(LocateCertificateTable(file).has_value(), c.trusted);
    // A trusted table ends the package; otherwise the file's last bytes are read as the
    // trailer, as always, and a signed file then has none: the archive error.
    const Bytes package = PackageOf(file);
    EXPECT_EQ(package.size(), c.trusted || !c.sign ? packageSize : file.size());
    const auto block = LocateScriptBlock(package);
    const bool opens = block && InflateItem(*block).has_value();
    EXPECT_EQ(opens, c.trusted || !c.sign);
  }
}

TEST_F(Signing, SignCommandGivesAnInstallerThatVerifies) {
  ASSERT_NO_FATAL_FAILURE(MakeCertificate());
  std::string error;
  ASSERT_TRUE(Build("", error)) << error;
  const std::size_t unsignedSize = ReadBytes(output).size();
  ASSERT_TRUE(Build("Sign=exit 1\n", error, SignCommand())) << error;  // the option wins

  const auto signedBytes = ReadBytes(output);
  const auto table = LocateCertificateTable(signedBytes);
  ASSERT_TRUE(table);
  // Aligned by the packer: the tool added no padding.
  EXPECT_EQ(table->offset, unsignedSize);
  EXPECT_EQ(PackageEnd(signedBytes), unsignedSize);
  const std::string verify =
      "osslsigncode verify -CAfile '" + dir / "cert.pem" + "' -in '" + output + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(verify.c_str()), 0);

  std::ostringstream report;
  ASSERT_TRUE(packer::InspectInstaller(output, report, error)) << error << report.str();
  EXPECT_NE(
      report.str().find("signed: certificate table at position " + std::to_string(unsignedSize)),
      std::string::npos)
      << report.str();
  EXPECT_EQ(report.str().find("BAD"), std::string::npos) << report.str();
  // [Build] Sign runs in the project's folder, wherever the builder runs: plain names do.
  ASSERT_TRUE(
      Build("Sign=osslsigncode sign -certs cert.pem -key key.pem -in %1 -out "
            "%1.signed >/dev/null && mv %1.signed %1\n",
            error))
      << error;
  EXPECT_TRUE(LocateCertificateTable(ReadBytes(output)));
  EXPECT_EQ(testing::NamesIn(dir.path()),
            (std::vector<std::string>{"app.txt", "app.vlp", "cert.pem", "key.pem", "setup.exe",
                                      "stub.exe", "uninstall.exe"}));
}

TEST_F(Signing, SignCommandThatFailsLeavesNoInstaller) {
  struct Case {
    std::string sign;
    std::string problem;
  };
  const std::vector<Case> cases = {
      {"exit 3", "[Build] Sign: 'exit 3': exited with status 3"},
      {"true %1", "left the installer without a certificate table"},
      {"printf 'MZ' > %1", "left the installer without a certificate table"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sign);
    std::string error;
    EXPECT_FALSE(Build("Sign=" + c.sign + "\n", error));
    EXPECT_NE(error.find(c.problem), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(testing::NamesIn(dir.path()),
              (std::vector<std::string>{"app.txt", "app.vlp", "stub.exe", "uninstall.exe"}));
  }
}

TEST_F(Signing, ExecutionLevelReachesTheStubAndTheUninstaller) {
  struct Case {
    std::string key;       // the [Build] line
    std::string expected;  // the level in both manifests; empty: the build fails
  };
  const std::vector<Case> cases = {
      {"", "requireAdministrator"},
      {"ExecutionLevel=requireAdministrator\n", "requireAdministrator"},
      {"ExecutionLevel=highestAvailable\n", "highestAvailable"},
      {"ExecutionLevel=asInvoker\n", "asInvoker"},
      {"[General]\nScope=user\n", "asInvoker"},
      {"ExecutionLevel=AsInvoker\n", ""},
      {"ExecutionLevel=\n", ""},
  };
  const std::size_t stubSize = FixtureImage(kFixtureManifest).size();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    std::string error;
    const bool built = Build(c.key, error);
    if (c.expected.empty()) {
      EXPECT_FALSE(built);
      EXPECT_NE(error.find("[Build] ExecutionLevel"), std::string::npos) << error;
      EXPECT_NE(error.find("is not an execution level"), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(built) << error;
    const auto bytes = ReadBytes(output);
    EXPECT_EQ(packer::ExecutionLevelOf(bytes), c.expected);
    const auto script = InflateItem(*LocateScriptBlock(bytes));
    const auto ini = packer::IniText::Parse(AsText(*script));
    // Nothing moved: the first item still follows the stub.
    EXPECT_EQ(ini.GetInt("File", "Pos1"), static_cast<long long>(stubSize));
    LzmaBlockDecoder blocks;
    const auto uninstaller = DecodeItem(
        bytes,
        *SliceOf(bytes, ini.GetInt("File", "UninstallPos"), ini.GetInt("File", "UninstallZip")),
        blocks);
    ASSERT_TRUE(uninstaller);
    EXPECT_EQ(uninstaller->size(), stubSize);
    EXPECT_EQ(packer::ExecutionLevelOf(*uninstaller), c.expected);
    std::ostringstream report;
    ASSERT_TRUE(packer::InspectInstaller(output, report, error)) << error;
    EXPECT_NE(report.str().find("execution level: " + c.expected + "\n"), std::string::npos);
    EXPECT_EQ(report.str().find("scope: user") != std::string::npos,
              c.key.find("Scope=user") != std::string::npos);
  }

  // A manifest without room for a longer level is refused, naming the stub.
  WriteFile(dir / "stub.exe",
            AsText(FixtureImage("<requestedExecutionLevel level=\"asInvoker\"/>")));
  std::string error;
  EXPECT_FALSE(Build("ExecutionLevel=highestAvailable\n", error));
  EXPECT_NE(error.find("stub.exe': its manifest has room for an execution level of 9 "
                       "characters only, not highestAvailable"),
            std::string::npos)
      << error;
}

}  // namespace
}  // namespace vorlatch
