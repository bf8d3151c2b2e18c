// Installers signed as a publisher signs them (osslsigncode with a certificate made by the
// test) run through the real stub: they install exactly what the unsigned installer installs,
// also when the signing tool had to pad the file first; a security directory that cannot be
// trusted is not followed.

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <map>
#include <string>
#include <vector>

#include "package/format.h"
#include "package/signature_layout.h"
#include "resources/resource.h"
#include "support/host_command.h"
#include "support/test_files.h"
#include "support/ui_robot.h"
#include "support/window_answers.h"
#include "win/handles.h"

namespace vorlatch::test {
namespace {

constexpr char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Size and FNV-1a hash: what a file holds, short enough for a failure message.
std::string Fingerprint(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const std::uint8_t byte : bytes) {
    hash = (hash ^ byte) * 1099511628211ull;
  }
  return std::to_string(bytes.size()) + " bytes, hash " + std::to_string(hash);
}

class SignedInstaller : public ::testing::Test {
 protected:
  void SetUp() override {
    product_ = "VorlatchSigned" + std::to_string(::GetCurrentProcessId());
    company_ = "Vorlatch Signed " + std::to_string(::GetCurrentProcessId());
    const std::string sources = folder_.Subfolder("sources");
    ASSERT_TRUE(WriteTextFile(sources + "app.txt", "the program"));
    ASSERT_TRUE(WriteTextFile(sources + "notes.txt", std::string(5000, 'n')));
    project_ = "[General]\r\n" + Line("Company", company_) + Line("Product", product_) +
               "[File]\r\nFile=2\r\nFile1=app.txt\r\n" + Line("Source1", sources + "app.txt") +
               "File2=notes.txt\r\n" + Line("Source2", sources + "notes.txt") +
               "Target2=[BID]docs\r\nUninstall=1\r\n";
    const std::string key = ShellWord(UnixPath(folder_.File("key.pem")));
    const std::string cert = ShellWord(UnixPath(folder_.File("cert.pem")));
    ASSERT_EQ(RunHostCommand("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Test -days 2 "
                             "-keyout " +
                             key + " -out " + cert),
              0);
    signCommand_ = "osslsigncode sign -certs " + cert + " -key " + key;
  }

  void TearDown() override {
    RemoveTree(ProgramGroup());
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kUninstallKeyPrefix + product_).c_str());
  }

  std::string ProgramGroup() const {
    char programs[MAX_PATH] = {};
    ::SHGetSpecialFolderPathA(nullptr, programs, CSIDL_PROGRAMS, FALSE);
    return std::string(programs) + "\\" + company_;
  }

  // A signed copy of the installer, made by the signing tool.
  std::string Signed(const std::string& installer) {
    const std::string out = installer + ".signed.exe";
    EXPECT_EQ(RunHostCommand(signCommand_ + " -in " + ShellWord(UnixPath(installer)) + " -out " +
                             ShellWord(UnixPath(out))),
              0);
    return out;
  }

  // Installs into dest_ (made anew) with the robot's answers; what is there afterwards,
  // name by name.
  std::map<std::string, std::string> Install(const std::string& installer) {
    // A program group left by the run before would give this one another instance number.
    RemoveTree(ProgramGroup());
    // The folder above too: each run makes the same folders, which its log names.
    RemoveTree(folder_.path() + "Programs");
    ChildProcess stub;
    EXPECT_TRUE(stub.Start(Quoted(installer)));
    const auto seen =
        AnswerWindows(stub.processId(), {[this](HWND window) {
                                           SetControlText(window, IDC_DESTINATION_PATH, dest_);
                                           PressButton(window, IDC_NEXT);
                                         },
                                         Press(IDOK)});
    EXPECT_EQ(seen.size(), 2u);
    if (seen.size() == 2) {
      EXPECT_EQ(seen[1].window.MessageText(), "Successfully installed.");
    }
    const ProcessResult result = stub.Wait(kRobotTimeoutMs);
    EXPECT_TRUE(result.finished) << DumpWindows(stub.processId());
    std::map<std::string, std::string> installed;
    for (const std::string& folder : {dest_ + "\\", dest_ + "\\docs\\"}) {
      for (const std::string& name : FolderEntries(folder)) {
        const auto bytes = ReadFileBytes(folder + name);
        installed[folder + name] = bytes ? Fingerprint(*bytes) : "<folder>";
      }
    }
    return installed;
  }

  TempFolder folder_;
  std::string temp_ = folder_.Subfolder("temp");
  ScopedEnvironment tmp_{"Tmp", temp_};
  ScopedEnvironment tempVariable_{"Temp", temp_};
  std::string dest_ = folder_.path() + "Programs\\Signed";
  std::string product_;
  std::string company_;
  std::string project_;
  std::string signCommand_;
};

TEST_F(SignedInstaller, InstallsExactlyAsTheUnsignedOne) {
  std::string error;
  const std::string installer = BuildTestInstaller(folder_, project_, error);
  ASSERT_FALSE(installer.empty()) << error;
  const auto bytes = ReadFileBytes(installer);
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size() % 8, 0u);
  // Unaligned as another builder may leave it: 3 bytes more before the reserved byte, where the
  // stub reads nothing; the signing tool pads it with 5 zero bytes.
  std::vector<std::uint8_t> unaligned = *bytes;
  const auto reserved = ReservedBytePosition(unaligned, false);
  ASSERT_TRUE(reserved);
  unaligned.insert(unaligned.begin() + static_cast<std::ptrdiff_t>(*reserved), 3, 0x5A);
  const std::string unalignedPath = folder_.File("unaligned.exe");
  ASSERT_TRUE(WriteFileBytes(unalignedPath, unaligned));

  const auto expected = Install(installer);
  ASSERT_EQ(expected.size(), 4u);  // app.txt, docs, Uninstall.exe, docs\notes.txt
  for (const std::string& signedInstaller : {Signed(installer), Signed(unalignedPath)}) {
    SCOPED_TRACE(signedInstaller);
    const auto signedBytes = ReadFileBytes(signedInstaller);
    ASSERT_TRUE(signedBytes && LocateCertificateTable(*signedBytes));
    EXPECT_EQ(Install(signedInstaller), expected);
  }
}

TEST_F(SignedInstaller, UntrustedSecurityDirectoryIsNotFollowed) {
  std::string error;
  const std::string installer = BuildTestInstaller(folder_, project_, error);
  ASSERT_FALSE(installer.empty()) << error;
  auto bytes = ReadFileBytes(Signed(installer));
  ASSERT_TRUE(bytes);
  // The security directory's size, one past the end of the file.
  const std::uint32_t peOffset = ReadU32(bytes->data() + 0x3C);
  const std::size_t optional = peOffset + 24;
  const bool plus = (*bytes)[optional] == 0x0B && (*bytes)[optional + 1] == 0x02;
  const std::size_t entry = optional + (plus ? 112 : 96) + 4 * 8;
  const std::uint32_t size = ReadU32(bytes->data() + entry + 4);
  ASSERT_GT(size, 0u);
  for (int i = 0; i < 4; ++i) {
    (*bytes)[entry + 4 + i] = static_cast<std::uint8_t>((size + 1) >> (8 * i));
  }
  const std::string damaged = folder_.File("damaged.exe");
  ASSERT_TRUE(WriteFileBytes(damaged, *bytes));

  // Read as an unsigned file, the trailer is the certificate table's last bytes: a script
  // block that does not inflate (the run ends at once) or none at all (the archive error).
  ChildProcess stub;
  ASSERT_TRUE(stub.Start(Quoted(damaged)));
  UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, stub.processId()));
  ASSERT_TRUE(process);
  std::vector<std::string> seen;
  const DWORD deadline = ::GetTickCount() + kRobotTimeoutMs;
  while (::WaitForSingleObject(process.get(), 50) == WAIT_TIMEOUT && ::GetTickCount() < deadline) {
    for (const HWND shown : TopLevelWindows(stub.processId(), true)) {
      const WindowSnapshot snapshot = Snapshot(shown);
      seen.push_back(snapshot.caption + ": " + snapshot.MessageText());
      PressButton(shown, IDOK);
      WaitForWindowGone(shown);
    }
  }
  EXPECT_TRUE(stub.Wait(kRobotTimeoutMs).finished) << DumpWindows(stub.processId());
  for (const std::string& window : seen) {
    EXPECT_EQ(window, "I/O Error: Possibly corrupted archive.");
  }
  EXPECT_FALSE(FileExists(dest_));
  EXPECT_TRUE(FolderEntries(temp_).empty());
}

}  // namespace
}  // namespace vorlatch::test
