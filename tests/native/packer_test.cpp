#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <lzma.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <tuple>

#include "aligned_end.h"
#include "package/format.h"
#include "package/lzma_item.h"
#include "package/whole_item.h"
#include "packer/ini_text.h"
#include "packer/packer.h"
#include "packer/source_file.h"
#include "pe_fixture.h"
#include "temp_folder.h"

namespace vorlatch {
namespace {

using packer::IniText;
using testing::AsBytes;
using testing::ReadBytes;
using testing::ReadText;
using testing::SetTimes;
using testing::TempFolder;
using testing::WriteFile;

const std::string kStub = "MZ this stands in for the installer stub";

struct Built {
  std::vector<std::uint8_t> bytes;
  IniText script;
  std::string scriptText;
};

// Reads an installer back with the reader's own functions.
std::optional<Built> ReadInstaller(const std::string& path) {
  Built built;
  built.bytes = ReadBytes(path);
  const auto block = LocateScriptBlock(built.bytes);
  if (!block) {
    return std::nullopt;
  }
  const auto text = InflateItem(*block);
  if (!text) {
    return std::nullopt;
  }
  built.scriptText.assign(text->begin(), text->end());
  built.script = IniText::Parse(built.scriptText);
  return built;
}

std::optional<std::vector<std::uint8_t>> ItemOf(const Built& built, const std::string& section,
                                                const std::string& zipKey,
                                                const std::string& posKey) {
  const long long zip = built.script.GetInt(section, zipKey);
  const long long pos = built.script.GetInt(section, posKey);
  const auto item =
      SliceOf(built.bytes, static_cast<std::uint64_t>(pos), static_cast<std::uint64_t>(zip));
  if (zip <= 0 || pos <= 0 || !item) {
    return std::nullopt;
  }
  LzmaBlockDecoder blocks;
  return DecodeItem(built.bytes, *item, blocks);
}

class PackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    WriteFile(dir / "stub.exe", kStub);
    WriteFile(dir / "uninstall.exe", "MZ uninstaller stand-in");
    std::filesystem::create_directories(dir / "out");
  }

  bool Build(std::string& error, const std::string& project = "app.vlp") {
    packer::BuildOptions options;
    options.project = dir / project;
    options.stub = dir / "stub.exe";
    options.output = output;
    return packer::BuildInstaller(options, error);
  }

  TempFolder dir;
  std::string output = dir / "out/setup.exe";
};

TEST_F(PackerTest, RoundTripPacksEveryItemBackToBack) {
  const std::string big(200000, 'x');
  WriteFile(dir / "bin/app.exe", "MZ the application" + big);
  WriteFile(dir / "readme.txt", "Read me first\r\n");
  WriteFile(dir / "notes.txt", "notes");
  WriteFile(dir / "ext/helper.dll", "MZ extension dll");
  WriteFile(dir / "licence.txt", "The licence text");
  WriteFile(dir / "thanks.txt", "Thank you");
  chmod((dir / "notes.txt").c_str(), 0444);
  chmod((dir / "uninstall.exe").c_str(), 0555);
  ASSERT_TRUE(SetTimes(dir / "readme.txt", 1700000000, 1600000000));
  WriteFile(dir / "app.vlp",
            "; a comment\n"
            "[General]\nProduct = Round Trip \nCompany=Tests\n"
            "[Build]\nStub=ignored-because-of-the-option.exe\nUninstaller=uninstall.exe\n"
            "Compression=zlib\n"
            "[File]\nFile=3\nFile1=app.exe\nSource1=bin/app.exe\nTarget1=[BID]\n"
            "File2=README.TXT\nSource2=readme.txt\nFile3=notes.txt\n"
            "Zip1=999\nPos1=999\n"  // stale values from an old project: replaced
            "Uninstall=1\nDll=helper.dll\nDllSource=ext\\helper.dll\n"
            "[Before]\nLoad=1\nFile=licence.txt\nFileSource=licence.txt\n"
            "[After]\nRun=1\nFile=thanks.txt /quiet\n");
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  const auto built = ReadInstaller(output);
  ASSERT_TRUE(built);
  const IniText& script = built->script;

  EXPECT_TRUE(std::equal(kStub.begin(), kStub.end(), built->bytes.begin()));
  EXPECT_EQ(ItemOf(*built, "File", "Zip1", "Pos1"), AsBytes("MZ the application" + big));
  EXPECT_EQ(ItemOf(*built, "File", "Zip2", "Pos2"), AsBytes("Read me first\r\n"));
  EXPECT_EQ(ItemOf(*built, "File", "Zip3", "Pos3"), AsBytes("notes"));
  EXPECT_EQ(ItemOf(*built, "File", "UninstallZip", "UninstallPos"),
            AsBytes("MZ uninstaller stand-in"));
  EXPECT_EQ(ItemOf(*built, "File", "DllZip", "DllPos"), AsBytes("MZ extension dll"));
  EXPECT_EQ(ItemOf(*built, "Before", "FileZip", "FilePos"), AsBytes("The licence text"));
  EXPECT_EQ(ItemOf(*built, "After", "FileZip", "FilePos"), AsBytes("Thank you"));

  // Items follow the stub and each other without gaps, in a fixed order, up to the
  // reserved byte.
  long long expected = static_cast<long long>(kStub.size());
  const std::vector<std::pair<std::string, std::string>> order = {
      {"File", "1"},   {"File", "2"},      {"File", "3"},    {"File", "Uninstall"},
      {"File", "Dll"}, {"Before", "File"}, {"After", "File"}};
  for (const auto& [section, name] : order) {
    const bool numbered = name.size() == 1;
    const std::string zip = numbered ? "Zip" + name : name + "Zip";
    const std::string pos = numbered ? "Pos" + name : name + "Pos";
    EXPECT_EQ(script.GetInt(section, pos), expected) << section << " " << name;
    expected += script.GetInt(section, zip);
  }
  EXPECT_TRUE(ReservedByteFollowsItems(built->bytes, static_cast<std::uint64_t>(expected)));

  // The builder's own keys never reach the script; the rest does, cleaned of blanks.
  EXPECT_FALSE(script.Get("Build", "Stub"));
  EXPECT_FALSE(script.Get("Build", "Uninstaller"));
  for (const char* key : {"Source1", "Source2", "DllSource"}) {
    EXPECT_FALSE(script.Get("File", key)) << key;
  }
  EXPECT_FALSE(script.Get("Before", "FileSource"));
  EXPECT_EQ(built->scriptText.find("[Build]"), std::string::npos);
  EXPECT_EQ(built->scriptText.find("comment"), std::string::npos);
  EXPECT_EQ(script.GetString("General", "Product"), "Round Trip");
  EXPECT_EQ(script.GetString("File", "Target1"), "[BID]");
  EXPECT_EQ(script.GetString("After", "File"), "thanks.txt /quiet");
  EXPECT_NE(built->scriptText.find("\r\n[File]\r\nFile=3\r\n"), std::string::npos);

  // Attributes and times of the sources: read-only from the mode, times from the file.
  const auto tailOf = [&](const std::string& number) {
    const auto item = SliceOf(built->bytes, script.GetInt("File", "Pos" + number),
                              script.GetInt("File", "Zip" + number));
    return ReadItemTailOf(*item);
  };
  EXPECT_EQ(tailOf("3")->attributes, packer::kFileAttributeReadonly);
  const auto readme = tailOf("2");
  EXPECT_EQ(readme->attributes, packer::kFileAttributeArchive);
  EXPECT_EQ(readme->write, packer::FileTimeFromUnix(1600000000, 0));
  EXPECT_EQ(readme->access, packer::FileTimeFromUnix(1700000000, 0));
  EXPECT_EQ(packer::FileTimeText(readme->write), "2020-09-13 12:26:40 UTC");
  // Never for the uninstaller: the installer writes the log into its tail.
  const auto uninstaller = SliceOf(built->bytes, script.GetInt("File", "UninstallPos"),
                                   script.GetInt("File", "UninstallZip"));
  EXPECT_EQ(ReadItemTailOf(*uninstaller)->attributes, packer::kFileAttributeArchive);

  // The script block carries the project file's own attributes and times.
  const auto scriptTail = ReadItemTailOf(*LocateScriptBlock(built->bytes));
  struct stat info {};
  ASSERT_EQ(stat((dir / "app.vlp").c_str(), &info), 0);
  EXPECT_EQ(scriptTail->write, packer::FileTimeFromUnix(info.st_mtim.tv_sec, info.st_mtim.tv_nsec));
  EXPECT_EQ(scriptTail->size, built->scriptText.size());

  std::ostringstream inspected;
  ASSERT_TRUE(packer::InspectInstaller(output, inspected, error)) << error;
  const std::string report = inspected.str();
  EXPECT_EQ(report.find("BAD"), std::string::npos);
  EXPECT_NE(report.find("[File] File2=README.TXT ([File] Zip2/Pos2)"), std::string::npos);
  EXPECT_NE(report.find("Product=Round Trip"), std::string::npos);
  EXPECT_NE(report.find("written 2020-09-13 12:26:40 UTC"), std::string::npos);

  // The same project gives the same script, byte for byte (item tails may differ, since
  // reading a source can move its access time).
  ASSERT_TRUE(Build(error)) << error;
  const auto again = ReadInstaller(output);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->scriptText, built->scriptText);
  EXPECT_EQ(again->bytes.size(), built->bytes.size());
}

TEST_F(PackerTest, ProjectCodePageDecidesWhichBytesAreBackslashes) {
  // 表 in code page 932 is 95 5C: under it the source is one file in data, not a folder.
  WriteFile(dir / "data/\x95\\.txt", "a Japanese name");
  const std::string project = "[File]\nFile=1\nFile1=\x95\\.txt\nSource1=data\\\x95\\.txt\n";
  WriteFile(dir / "app.vlp", "[Build]\nCodePage=932\n" + project);
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  const auto built = ReadInstaller(output);
  ASSERT_TRUE(built);
  EXPECT_EQ(ItemOf(*built, "File", "Zip1", "Pos1"), AsBytes("a Japanese name"));
  EXPECT_FALSE(built->script.Get("Build", "CodePage"));

  // 0x82 'a' and 0x82 'A' are two characters there: the DLL is no installed file and is
  // packed; in a single-byte code page it is installed file 1, so its own source is refused.
  WriteFile(dir / "ext.dll", "MZ extension");
  const std::string twoNames =
      "[File]\nFile=1\nFile1=\x82"
      "A.dll\nSource1=ext.dll\nDll=\x82"
      "a.dll\nDllSource=ext.dll\n";
  WriteFile(dir / "app.vlp", "[Build]\nCodePage=932\n" + twoNames);
  ASSERT_TRUE(Build(error)) << error;
  EXPECT_EQ(ItemOf(*ReadInstaller(output), "File", "DllZip", "DllPos"), AsBytes("MZ extension"));
  WriteFile(dir / "app.vlp", "[Build]\nCodePage=1252\n" + twoNames);
  EXPECT_FALSE(Build(error));
  EXPECT_NE(error.find("is installed file 1"), std::string::npos) << error;

  WriteFile(dir / "app.vlp", project);  // read byte by byte: data/<95>/.txt does not exist
  EXPECT_FALSE(Build(error));
  for (const char* value : {"Japanese", "UTF-8"}) {  // the project is no UTF-8 text
    WriteFile(dir / "app.vlp", "[Build]\nCodePage=" + std::string(value) + "\n" + project);
    EXPECT_FALSE(Build(error));
    EXPECT_NE(error.find("[Build] CodePage"), std::string::npos) << error;
  }
}

TEST_F(PackerTest, DocumentsAndDllThatAreInstalledFilesGetNoItemOfTheirOwn) {
  WriteFile(dir / "app.exe", "MZ app");
  WriteFile(dir / "Guide.txt", "guide");
  WriteFile(dir / "plugin.dll", "MZ dll");
  WriteFile(dir / "app.vlp",
            "[File]\nFile=3\nFile1=app.exe\nFile2=Guide.txt\nFile3=plugin.dll\nDll=PLUGIN.DLL\n"
            "[Before]\nLoad=1\nFile=guide.txt\n[After]\nRun=1\nFile=\"app.exe\" /start\n");
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  const auto built = ReadInstaller(output);
  ASSERT_TRUE(built);
  for (const auto& [section, key] :
       std::vector<std::pair<std::string, std::string>>{{"File", "DllZip"},
                                                        {"File", "DllPos"},
                                                        {"Before", "FileZip"},
                                                        {"Before", "FilePos"},
                                                        {"After", "FileZip"},
                                                        {"After", "FilePos"},
                                                        {"File", "UninstallZip"}}) {
    EXPECT_FALSE(built->script.Get(section, key)) << section << " " << key;
  }
  EXPECT_EQ(ItemOf(*built, "File", "Zip3", "Pos3"), AsBytes("MZ dll"));
  // Nothing is packed after file 3: the reserved byte follows it.
  EXPECT_TRUE(ReservedByteFollowsItems(
      built->bytes, static_cast<std::uint64_t>(built->script.GetInt("File", "Pos3") +
                                               built->script.GetInt("File", "Zip3"))));

  // A separate source for an installed document cannot be used, and says so.
  WriteFile(dir / "other.txt", "other");
  WriteFile(dir / "app.vlp",
            "[File]\nFile=1\nFile1=guide.txt\n[Before]\nLoad=1\nFile=Guide.txt\n"
            "FileSource=other.txt\n");
  EXPECT_FALSE(Build(error));
  EXPECT_NE(error.find("[Before] FileSource"), std::string::npos) << error;
}

TEST_F(PackerTest, AfterProgramIsPackedWithoutItsQuotesAndArguments) {
  WriteFile(dir / "run me.exe", "MZ quoted");
  WriteFile(dir / "tools/set up.exe", "MZ unquoted");
  WriteFile(dir / "welcome.txt", "welcome");
  struct Case {
    std::string file;
    std::string source;
    std::string packed;
  };
  const std::vector<Case> cases = {
      {"\"run me.exe\" /first", "", "MZ quoted"},
      // Unquoted with blanks: the program ends after the first name with an extension.
      {"set up.exe --welcome now", "tools/set up.exe", "MZ unquoted"},
      {"welcome.txt", "", "welcome"},
  };
  for (const Case& c : cases) {
    WriteFile(dir / "app.vlp", "[After]\nRun=1\nFile=" + c.file + "\n" +
                                   (c.source.empty() ? "" : "FileSource=" + c.source + "\n"));
    std::string error;
    ASSERT_TRUE(Build(error)) << c.file << ": " << error;
    const auto built = ReadInstaller(output);
    ASSERT_TRUE(built);
    EXPECT_EQ(ItemOf(*built, "After", "FileZip", "FilePos"), AsBytes(c.packed)) << c.file;
    EXPECT_EQ(built->script.GetString("After", "File"), c.file);
  }
}

TEST_F(PackerTest, ScriptOnlyProjectGivesScriptOnlyPackage) {
  WriteFile(dir / "app.vlp", "[General]\nProduct=Nothing\n");
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  const auto built = ReadInstaller(output);
  ASSERT_TRUE(built);
  EXPECT_TRUE(ReservedByteFollowsItems(built->bytes, kStub.size()));
  EXPECT_EQ(built->scriptText, "[General]\r\nProduct=Nothing\r\n");
}

TEST_F(PackerTest, DefaultOutputIsTheProjectNameWithExeInItsFolder) {
  WriteFile(dir / "sub/My.Project.vlp", "[File]\nFile=1\nFile1=a.txt\n");
  WriteFile(dir / "sub/a.txt", "a");
  packer::BuildOptions options;
  options.project = dir / "sub/My.Project.vlp";
  options.stub = dir / "stub.exe";
  std::string error;
  ASSERT_TRUE(packer::BuildInstaller(options, error)) << error;
  const auto built = ReadInstaller(dir / "sub/My.Project.exe");
  ASSERT_TRUE(built);
  EXPECT_EQ(ItemOf(*built, "File", "Zip1", "Pos1"), AsBytes("a"));

  // [Build] Output and Stub are relative to the project's folder.
  WriteFile(dir / "sub/stub2.exe", "MZ second stub");
  WriteFile(dir / "sub/p.vlp", "[Build]\nOutput=made/by-key.exe\nStub=stub2.exe\n");
  std::filesystem::create_directories(dir / "sub/made");
  options.project = dir / "sub/p.vlp";
  options.stub.clear();
  ASSERT_TRUE(packer::BuildInstaller(options, error)) << error;
  const std::string made = ReadText(dir / "sub/made/by-key.exe");
  EXPECT_EQ(made.rfind("MZ second stub", 0), 0u);
}

TEST_F(PackerTest, MissingSourceNamesProjectKeyAndFileAndLeavesNoOutput) {
  WriteFile(dir / "one.txt", "one");
  WriteFile(dir / "app.vlp",
            "[File]\nFile=2\nFile1=one.txt\nFile2=two.txt\nSource2=data/missing-two.txt\n");
  WriteFile(output, "an older installer");
  std::string error;
  ASSERT_FALSE(Build(error));
  EXPECT_NE(error.find(dir / "app.vlp"), std::string::npos) << error;
  EXPECT_NE(error.find("[File] Source2"), std::string::npos) << error;
  EXPECT_NE(error.find(dir / "data/missing-two.txt"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
  // The old output is untouched and no temporary file is left beside it.
  EXPECT_EQ(ReadText(output), "an older installer");
  EXPECT_EQ(testing::NamesIn(dir / "out"), std::vector<std::string>{"setup.exe"});
}

TEST_F(PackerTest, WithoutAnUninstallerBesideThePackerTheOneBesideTheStubIsPacked) {
  // This packer is the Linux one: no vorlatch-uninstall.exe lies beside it.
  WriteFile(dir / "one.txt", "one");
  WriteFile(dir / "vorlatch-uninstall.exe", "MZ the uninstaller beside the stub");
  WriteFile(dir / "app.vlp", "[File]\nFile=1\nFile1=one.txt\nUninstall=1\n");
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  const auto built = ReadInstaller(output);
  ASSERT_TRUE(built);
  EXPECT_EQ(ItemOf(*built, "File", "UninstallZip", "UninstallPos"),
            AsBytes("MZ the uninstaller beside the stub"));

  // With none there either, the message names the one the packer looked for first.
  std::filesystem::remove(dir / "vorlatch-uninstall.exe");
  ASSERT_FALSE(Build(error));
  EXPECT_NE(error.find("[Build] Uninstaller (default)"), std::string::npos) << error;
  EXPECT_EQ(error.find(dir / "vorlatch-uninstall.exe"), std::string::npos) << error;
}

TEST_F(PackerTest, EveryBuildErrorIsOneLineAndLeavesNothing) {
  WriteFile(dir / "one.txt", "one");
  WriteFile(dir / "empty.txt", "");
  struct Case {
    std::string project;
    std::string key;   // the key the message must name
    std::string file;  // the file the message must name, if any
  };
  const std::vector<Case> cases = {
      {"[File]\nFile=2\nFile1=one.txt\nFile2=absent.txt\n", "[File] File2", dir / "absent.txt"},
      {"[File]\nFile=1\nFile1=empty.txt\n", "[File] File1", dir / "empty.txt"},
      {"[File]\nFile=1\nFile1=x\nSource1=out\n", "[File] Source1", dir / "out"},
      {"[File]\nFile=2\nFile1=one.txt\n", "[File] File2", ""},
      {"[File]\nFile=1\nFile1=one.txt\nUninstall=1\n[Build]\nUninstaller=no-such.exe\n",
       "[Build] Uninstaller", dir / "no-such.exe"},
      {"[File]\nDll=x.dll\n", "[File] Dll", dir / "x.dll"},
      {"[After]\nRun=1\nFile=\"run me.exe\" -now\n", "[After] File", dir / "run me.exe"},
      {"[Before]\nProtect=1\nPassword=x\n", "[Before] Protect", ""},
      // Packed items of their own go into the installer's temporary folder by name.
      {"[Before]\nLoad=1\nFile=docs\\one.txt\n", "[Before] File", "docs\\one.txt"},
      {"[File]\nDll=ext/one.txt\nDllSource=one.txt\n", "[File] Dll", "ext/one.txt"},
      {"[File]\nFile=-1\n", "[File] File", ""},
  };
  for (const Case& c : cases) {
    WriteFile(dir / "app.vlp", c.project);
    std::string error;
    EXPECT_FALSE(Build(error)) << c.project;
    EXPECT_EQ(error.rfind(dir / "app.vlp: " + c.key + ": ", 0), 0u) << error;
    if (!c.file.empty()) {
      EXPECT_NE(error.find("'" + c.file + "'"), std::string::npos) << error;
    }
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(testing::NamesIn(dir / "out"), std::vector<std::string>{}) << c.project;
  }
  // A protected project names the missing builder password.
  WriteFile(dir / "app.vlp", "[Before]\nProtect=1\n");
  std::string error;
  ASSERT_FALSE(Build(error));
  EXPECT_NE(error.find("[Build] Password"), std::string::npos) << error;

  // The stub and the output folder are checked too.
  WriteFile(dir / "app.vlp", "[File]\nFile=1\nFile1=one.txt\n");
  packer::BuildOptions options;
  options.project = dir / "app.vlp";
  options.stub = dir / "no-stub.exe";
  options.output = dir / "setup.exe";
  ASSERT_FALSE(packer::BuildInstaller(options, error));
  EXPECT_EQ(error.rfind(dir / "app.vlp: --stub: '" + dir / "no-stub.exe'", 0), 0u) << error;
  options.stub = dir / "stub.exe";
  options.output = dir / "no-folder/setup.exe";
  ASSERT_FALSE(packer::BuildInstaller(options, error));
  EXPECT_EQ(error.rfind(dir / "app.vlp: -o: ", 0), 0u) << error;
  options.output = dir / "app.vlp";
  ASSERT_FALSE(packer::BuildInstaller(options, error));
  EXPECT_EQ(error.rfind(dir / "app.vlp: -o: ", 0), 0u) << error;
  EXPECT_EQ(ReadText(dir / "app.vlp"), "[File]\nFile=1\nFile1=one.txt\n");
  options.project = dir / "absent.vlp";
  ASSERT_FALSE(packer::BuildInstaller(options, error));
  EXPECT_EQ(error.rfind(dir / "absent.vlp: ", 0), 0u) << error;
  EXPECT_FALSE(std::filesystem::exists(dir / "setup.exe"));
}

// A stand-in program with a real PE header for the given machine.
std::string FakeProgram(std::uint16_t machine) {
  std::string image(0x40, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;
  image += std::string("PE\0\0", 4);
  image += static_cast<char>(machine & 0xFF);
  image += static_cast<char>(machine >> 8);
  return image + std::string(64, '\0');
}

// The output replaces a file: never one the installer is made of, by whatever name; and the
// uninstaller must run in the stub's world.
TEST_F(PackerTest, RefusesAnOutputThatIsAnInputAndAnUninstallerOfAnotherMachine) {
  WriteFile(dir / "one.txt", "one");
  WriteFile(dir / "i686.exe", FakeProgram(0x014C));
  WriteFile(dir / "x86_64.exe", FakeProgram(0x8664));
  const std::string plain = "[File]\nFile=1\nFile1=one.txt\n";
  const std::string withUninstaller = plain + "Uninstall=1\n";
  WriteFile(dir / "app.vlp", plain);
  ASSERT_EQ(::link((dir / "app.vlp").c_str(), (dir / "linked.vlp").c_str()), 0);
  struct Case {
    std::string project, stub, uninstaller, output;
    std::string problem;  // empty: builds
  };
  const std::vector<Case> cases = {
      {plain, "stub.exe", "", dir / "./app.vlp",
       "-o: '" + dir / "./app.vlp" + "': is the project file itself"},
      {plain, "stub.exe", "", dir / "linked.vlp", "is the project file itself"},
      {plain, "stub.exe", "", dir / "sub/../one.txt", "is also packed, as [File] File1"},
      {plain, "stub.exe", "", dir / "stub.exe", "is the stub itself (--stub)"},
      {withUninstaller, "i686.exe", "x86_64.exe", output,
       "--uninstaller: '" + dir / "x86_64.exe" + "': built for x86_64, but the stub '" +
           dir / "i686.exe" + "' is built for i686; they must match"},
      {withUninstaller, "x86_64.exe", "i686.exe", output, "built for i686, but the stub"},
      {withUninstaller, "x86_64.exe", "x86_64.exe", output, ""},
      {withUninstaller, "stub.exe", "x86_64.exe", output, ""},  // a stub that is no PE image
  };
  std::filesystem::create_directories(dir / "sub");
  for (const Case& c : cases) {
    WriteFile(dir / "app.vlp", c.project);
    packer::BuildOptions options;
    options.project = dir / "app.vlp";
    options.stub = dir / c.stub;
    options.uninstaller = c.uninstaller.empty() ? "" : dir / c.uninstaller;
    options.output = c.output;
    std::string error;
    const bool built = packer::BuildInstaller(options, error);
    EXPECT_EQ(built, c.problem.empty()) << c.output << ": " << error;
    if (!c.problem.empty()) {
      EXPECT_NE(error.find(c.problem), std::string::npos) << error;
    }
    // Nothing was replaced and nothing left behind.
    EXPECT_EQ(ReadText(dir / "app.vlp"), c.project);
    EXPECT_EQ(ReadText(dir / "one.txt"), "one");
    EXPECT_EQ(ReadText(dir / "stub.exe"), kStub);
    for (const std::string& name : testing::NamesIn(dir.path())) {
      EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
    }
    std::filesystem::remove(output);
  }
}

TEST_F(PackerTest, EveryNumberOfJobsAndEveryRunGivesTheSameBytes) {
  std::string project = "[General]\nProduct=Same\n[File]\nUninstall=1\nFile=13\n";
  for (int n = 1; n <= 12; ++n) {
    // Appended piece by piece: GCC 12 misreports "literal" + string as overlapping copies.
    std::string name = "f";
    name.append(std::to_string(n)).append(".bin");
    // Sizes that differ widely, so that pieces finish out of their order.
    std::string content((n % 3 == 0 ? 400000 : 50) * n, static_cast<char>('a' + n));
    for (std::size_t i = 0; i < content.size(); i += 7) {
      content[i] = static_cast<char>(i * n);
    }
    WriteFile(dir / name, content);
    project.append("File").append(std::to_string(n)).append("=").append(name).append("\n");
  }
  // A file shipped twice: an LZMA item of its own points back to the first copy.
  std::filesystem::copy_file(dir / "f5.bin", dir / "f13.bin");
  WriteFile(dir / "app.vlp", project + "File13=f13.bin\n[Build]\nUninstaller=uninstall.exe\n");
  // LZMA takes its time on these repetitive sources: fewer runs of it.
  const std::vector<unsigned> every = {1u, 4u, 0u, 4u}, some = {1u, 4u};
  for (const auto& [compression, solid, jobsList] :
       {std::tuple{"zlib", 0, every}, std::tuple{"lzma", 0, some}, std::tuple{"lzma", 1, some}}) {
    std::vector<std::vector<std::uint8_t>> builds;
    for (unsigned jobs : jobsList) {
      packer::BuildOptions options;
      options.project = dir / "app.vlp";
      options.stub = dir / "stub.exe";
      options.output = output;
      options.jobs = jobs;
      options.compression = compression;
      options.solid = solid;
      std::string error;
      ASSERT_TRUE(packer::BuildInstaller(options, error)) << error;
      builds.push_back(ReadBytes(output));
    }
    for (const auto& bytes : builds) {
      EXPECT_EQ(bytes, builds.front()) << compression << solid;
    }
    const auto built = ReadInstaller(output);
    ASSERT_TRUE(built);
    EXPECT_EQ(built->script.GetInt("File", "Zip13") == kLzmaHeaderSize + kItemTailSize,
              std::string(compression) == "lzma" && solid == 0);
    // A program image and data are compressed with settings of their own.
    const auto headerOf = [&](const std::string& zip, const std::string& pos) {
      const auto item = SliceOf(built->bytes, built->script.GetInt("File", pos),
                                built->script.GetInt("File", zip));
      return item ? ReadLzmaItemHeader(*item) : std::nullopt;
    };
    const auto program = headerOf("UninstallZip", "UninstallPos"), data = headerOf("Zip1", "Pos1");
    EXPECT_EQ(program && data && program->props[0] != data->props[0],
              std::string(compression) == "lzma");
    for (const int n : {13, 12, 7, 1}) {
      const std::string number = std::to_string(n);
      EXPECT_EQ(ItemOf(*built, "File", "Zip" + number, "Pos" + number),
                ReadBytes(dir / ("f" + number + ".bin")))
          << compression << solid << n;
    }
  }

  // A source that fails half-way through the parallel run fails the build as it does alone.
  std::filesystem::remove(dir / "f7.bin");
  packer::BuildOptions options;
  options.project = dir / "app.vlp";
  options.stub = dir / "stub.exe";
  options.output = dir / "out/other.exe";
  options.jobs = 4;
  std::string error;
  EXPECT_FALSE(packer::BuildInstaller(options, error));
  EXPECT_NE(error.find("f7.bin"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir / "out/other.exe"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), 1);
}

TEST_F(PackerTest, X86ProgramImagesAreFilteredAsAnotherImplementationFiltersThem) {
  // Real machine code (this x86-64 test program's own) behind the headers of a PE image.
  std::vector<std::uint8_t> program = testing::FixtureImage("");
  const std::vector<std::uint8_t> self = ReadBytes("/proc/self/exe");
  program.insert(program.end(), self.begin(), self.begin() + (1 << 19));
  WriteFile(dir / "x64.dll", std::string(program.begin(), program.end()));
  WriteFile(dir / "app.vlp", "[File]\nFile=1\nFile1=x64.dll\n");
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  auto built = ReadInstaller(output);
  const Bytes item = *SliceOf(built->bytes, kStub.size(), built->script.GetInt("File", "Zip1"));
  const auto header = ReadLzmaItemHeader(item);
  ASSERT_TRUE(header && header->x86);

  // liblzma decodes the stream through its own filter, told the size (there is no end marker).
  lzma_filter chain[3] = {
      {LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  ASSERT_EQ(lzma_properties_decode(&chain[1], nullptr, header->props, kLzmaPropsSize), LZMA_OK);
  static_cast<lzma_options_lzma*>(chain[1].options)->ext_size_low = program.size();
  std::vector<std::uint8_t> theirs(program.size());
  std::size_t in = 0, made = 0;
  lzma_raw_buffer_decode(chain, nullptr, item.data() + kLzmaHeaderSize, &in, header->streamLength,
                         theirs.data(), &made, theirs.size());
  std::free(chain[1].options);
  EXPECT_TRUE(theirs == program);

  // The installer's reader gives the same in pieces of any size; unfiltered, the checksum fails.
  LzmaBlockDecoder blocks;
  for (const std::size_t piece : {1, 3, 4, 5, 15, 16, 17, 4099, 1 << 16}) {
    ItemDecoder decoder(built->bytes, item, blocks);
    EXPECT_TRUE(ReadWhole(decoder, piece) == program) << piece;
  }
  built->bytes[kStub.size() + 4] &= ~kLzmaX86Filtered;
  EXPECT_FALSE(DecodeItem(built->bytes, item, blocks));
}

// The installer's second thread in standard parts; AwaitStall: until the work waits or ends.
class StdDecodingThread final : public DecodingThread {
 public:
  bool Start(void (*work)(void*), void* context) override {
    stalled_ = false;
    thread_ = std::thread([=, this] {
      work(context);
      const std::lock_guard lock(mutex_);
      stalled_ = true;
      Wake();
    });
    return true;
  }
  void Join() override { thread_.join(); }
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }
  bool Wait() override {
    stalled_ = stalled_ || std::this_thread::get_id() == thread_.get_id();
    Wake();
    changed_.wait_for(mutex_, std::chrono::milliseconds(100));
    return true;
  }
  void Wake() override { changed_.notify_all(); }
  void AwaitStall() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stalled_; });
  }

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  bool stalled_ = false;
};

TEST_F(PackerTest, ABlockDecodedAheadGivesEachItemsBytesInAnyOrder) {
  // 1.6 MB that do not compress, through a ring of 1 MB.
  std::string noise(1600000, '\0');
  std::generate(noise.begin(), noise.end(), [state = 1u]() mutable {
    return char((state = state * 1103515245u + 12345u) >> 24);
  });
  const std::string contents[] = {"small", noise.substr(0, 900000), noise.substr(900000)};
  for (int n = 1; n <= 3; ++n) {
    WriteFile(dir / ("f" + std::to_string(n)), contents[n - 1]);
  }
  WriteFile(dir / "app.vlp", "[File]\nFile=3\nFile1=f1\nFile2=f2\nFile3=f3\n[Build]\nDictionary=1");
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  const auto built = ReadInstaller(output);
  ASSERT_TRUE(built);
  std::vector<std::uint8_t> damaged = built->bytes;
  damaged[built->script.GetInt("File", "Pos3") + 1200000] ^= 0x40;
  // Each reader pauses one byte in until the ring is full. In the installer's order, skipping a
  // kept file, against it (from the start each time), damaged (d): right bytes or a failure.
  for (const std::string order : {"321", "31", "123", "22", "d321"}) {
    const bool isDamaged = order[0] == 'd';
    const std::vector<std::uint8_t>& bytes = isDamaged ? damaged : built->bytes;
    StdDecodingThread thread;
    LzmaBlockDecoder blocks;
    blocks.DecodeAheadOn(&thread);
    for (const char n : order.substr(isDamaged ? 1 : 0)) {
      const auto item = SliceOf(bytes, built->script.GetInt("File", std::string("Pos") + n),
                                built->script.GetInt("File", std::string("Zip") + n));
      ItemDecoder decoder(bytes, *item, blocks);
      std::uint8_t first = 0;
      const bool started = decoder.Next(std::span(&first, 1)) == 1;
      thread.AwaitStall();
      const auto rest = ReadWhole(decoder, 1 << 16);
      EXPECT_TRUE(started && rest
                      ? char(first) + std::string(rest->begin(), rest->end()) == contents[n - '1']
                      : isDamaged)
          << order << n;
    }
  }
}

TEST_F(PackerTest, LargeSourceIsPackedInPiecesToTheBytesOfOneCall) {
  // Text and noise that compress to more than an item held in memory: it goes through a
  // part file, and must still be the stream that one call of compress2 gives.
  std::vector<std::uint8_t> content(28 << 20);
  std::uint32_t x = 1;
  for (std::size_t i = 0; i < content.size(); ++i) {
    x = x * 1103515245u + 12345u;
    content[i] = static_cast<std::uint8_t>((i >> 12) % 2 == 0 ? x >> 24 : 'a' + (x >> 29));
  }
  WriteFile(dir / "big.bin", std::string(content.begin(), content.end()));
  WriteFile(dir / "app.vlp", "[Build]\nCompression=zlib\n[File]\nFile=1\nFile1=big.bin\n");
  packer::BuildOptions options;
  options.project = dir / "app.vlp";
  options.stub = dir / "stub.exe";
  options.output = output;
  options.jobs = 2;
  std::string error;
  ASSERT_TRUE(packer::BuildInstaller(options, error)) << error;
  const auto built = ReadInstaller(output);
  ASSERT_TRUE(built);
  const auto item = SliceOf(built->bytes, static_cast<std::uint64_t>(kStub.size()),
                            static_cast<std::uint64_t>(built->script.GetInt("File", "Zip1")));
  ASSERT_TRUE(item);
  const auto tail = ReadItemTailOf(*item);
  ASSERT_TRUE(tail);
  std::vector<std::uint8_t> expected;
  ASSERT_NE(AppendPackedItem(expected, content, *tail), 0u);
  EXPECT_GT(expected.size(), 16u << 20);
  EXPECT_TRUE(std::equal(item->begin(), item->end(), expected.begin(), expected.end()));
  EXPECT_EQ(testing::NamesIn(dir / "out"), std::vector<std::string>{"setup.exe"});
}

TEST_F(PackerTest, RefusesWhatThirtyTwoBitSizesCannotHold) {
  WriteFile(dir / "one.txt", "one");
  WriteFile(dir / "huge.bin", "");
  std::filesystem::resize_file(dir / "huge.bin", 1ull << 32);  // sparse: refused unread
  struct Case {
    std::string project;
    std::uint64_t limit;  // the largest installer allowed
    std::string key, file, says;
  };
  const std::string huge = dir / "huge.bin";
  const std::vector<Case> cases = {
      {"[File]\nFile=1\nFile1=huge.bin\n", 0x7FFFFFFF, "[File] File1", huge, "4 GiB"},
      {"[File]\nFile=1\nFile1=one.txt\nUninstall=1\n[Build]\nUninstaller=huge.bin\n", 0x7FFFFFFF,
       "[Build] Uninstaller", huge, "4 GiB"},
      {"[File]\nFile=1\nFile1=one.txt\n", 10, "--stub", dir / "stub.exe", "32-bit"},
      {"[File]\nFile=1\nFile1=one.txt\n", kStub.size() + 20, "[File] File1", dir / "one.txt",
       "32-bit"},
      {"[File]\nFile=1\nFile1=one.txt\n", kStub.size() + 120, "script", "", "32-bit"},
  };
  for (const Case& c : cases) {
    WriteFile(dir / "app.vlp", c.project);
    packer::BuildOptions options;
    options.project = dir / "app.vlp";
    options.stub = dir / "stub.exe";
    options.output = output;
    options.maxInstallerSize = c.limit;
    std::string error;
    EXPECT_FALSE(packer::BuildInstaller(options, error)) << c.project;
    EXPECT_EQ(error.rfind(dir / "app.vlp: " + c.key + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.file.empty() ? c.says : "'" + c.file + "'"), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(testing::NamesIn(dir / "out"), std::vector<std::string>{}) << c.project;
  }
}

TEST_F(PackerTest, InspectReportsDamagedItems) {
  WriteFile(dir / "a.txt", std::string(5000, 'a'));
  WriteFile(dir / "b.txt", "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb");
  WriteFile(dir / "app.vlp",
            "[Build]\nCompression=zlib\n[File]\nFile=2\nFile1=a.txt\nFile2=b.txt\n");
  std::string error;
  ASSERT_TRUE(Build(error)) << error;
  auto built = ReadInstaller(output);
  ASSERT_TRUE(built);
  // Damage the middle of item 2's stream.
  const long long pos2 = built->script.GetInt("File", "Pos2");
  built->bytes[static_cast<std::size_t>(pos2 + 6)] ^= 0xFF;
  const std::string damaged = dir / "damaged.exe";
  WriteFile(damaged, std::string(built->bytes.begin(), built->bytes.end()));
  std::ostringstream report;
  EXPECT_FALSE(packer::InspectInstaller(damaged, report, error));
  EXPECT_NE(error.find("1 damaged item"), std::string::npos) << error;
  const std::string text = report.str();
  const std::size_t item2 = text.find("[File] File2=b.txt");
  ASSERT_NE(item2, std::string::npos) << text;
  EXPECT_NE(text.find("BAD", item2), std::string::npos) << text;
  EXPECT_EQ(text.find("BAD"), text.find("BAD", item2)) << text;

  WriteFile(damaged, "not an installer at all");
  EXPECT_FALSE(packer::InspectInstaller(damaged, report, error));
  EXPECT_NE(error.find(damaged), std::string::npos);
}

// A protected package made with the format's writer, whose item keys the test chooses.
std::vector<std::uint8_t> ProtectedPackage(const std::string& keys) {
  std::vector<std::uint8_t> bytes = AsBytes(kStub);
  AppendPackedItem(bytes, AsBytes("protected content"), {});
  const std::uint8_t protection[kProtectionBlockSize] = {9, 9, 9, 9, 9, 9, 9, 9,
                                                         9, 9, 9, 9, 9, 9, 9, 9};
  const auto script =
      AsBytes("[Before]\r\nProtect=1\r\n[File]\r\nFile=1\r\nFile1=p.txt\r\n" + keys);
  EXPECT_TRUE(AppendPackageEnd(bytes, script, {}, protection));
  return bytes;
}

TEST_F(PackerTest, InspectKnowsTheProtectionBlockAndWhereItemsMayLie) {
  // The item fills the space between the stub and the reserved byte, whatever the keys say.
  const auto probe = ProtectedPackage("");
  const auto reserved = ReservedBytePosition(probe, true);
  ASSERT_TRUE(reserved);
  const std::uint64_t length = *reserved - kStub.size();
  ASSERT_LT(length, 100u);
  const std::string pos = std::to_string(kStub.size());
  const std::string path = dir / "protected.exe";
  const auto sound =
      ProtectedPackage("Zip1=" + std::to_string(length) + "\r\nPos1=" + pos + "\r\n");
  WriteFile(path, std::string(sound.begin(), sound.end()));
  std::ostringstream report;
  std::string error;
  ASSERT_TRUE(packer::InspectInstaller(path, report, error)) << error << report.str();
  EXPECT_NE(report.str().find("reserved byte: position " + std::to_string(*reserved)),
            std::string::npos)
      << report.str();
  EXPECT_NE(report.str().find("protection block: position " + std::to_string(*reserved + 1)),
            std::string::npos)
      << report.str();

  // One byte longer reaches the reserved byte: inside the file, but not an item.
  const auto over =
      ProtectedPackage("Zip1=" + std::to_string(length + 1) + "\r\nPos1=" + pos + "\r\n");
  WriteFile(path, std::string(over.begin(), over.end()));
  std::ostringstream overReport;
  EXPECT_FALSE(packer::InspectInstaller(path, overReport, error));
  EXPECT_NE(overReport.str().find("BAD: outside"), std::string::npos) << overReport.str();
}

TEST(IniText, ReadsLikeTheProfileFunctions) {
  const IniText ini = IniText::Parse(
      "ignored=before any section\r\n[ Sec ]\r\n Key = value with blanks \r\nkey=second\r\n"
      "Num=42abc\r\nNeg=-7\r\nText=abc\r\nQuoted=\"a b\"\r\n[other]\nx=1\n[SEC]\nLate=yes\n");
  EXPECT_EQ(ini.GetString("sec", "KEY"), "value with blanks");
  EXPECT_EQ(ini.GetInt("Sec", "Num"), 42);
  EXPECT_EQ(ini.GetInt("Sec", "Neg"), -7);
  EXPECT_EQ(ini.GetInt("Sec", "Text", 5), 0);
  EXPECT_EQ(ini.GetInt("Sec", "Absent", 5), 5);
  EXPECT_EQ(ini.GetString("Sec", "Quoted"), "a b");
  EXPECT_EQ(ini.GetString("Sec", "Late"), "yes");
  EXPECT_FALSE(ini.Get("Sec", "ignored"));
  EXPECT_EQ(ini.Serialize(),
            "[Sec]\r\nKey=value with blanks\r\nNum=42abc\r\nNeg=-7\r\nText=abc\r\n"
            "Quoted=\"a b\"\r\nLate=yes\r\n\r\n[other]\r\nx=1\r\n");
  EXPECT_EQ(IniText::Parse("\xEF\xBB\xBF[A]\nb=1\n").GetInt("a", "B"), 1);
  EXPECT_EQ(packer::NumberedKey("Source12", "source"), 12);
  EXPECT_FALSE(packer::NumberedKey("Source012", "Source"));
  EXPECT_FALSE(packer::NumberedKey("Source", "Source"));
  EXPECT_FALSE(packer::NumberedKey("Source1x", "Source"));
}

}  // namespace
}  // namespace vorlatch
