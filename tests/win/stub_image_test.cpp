// The stub and the uninstaller travel alone, and run from folders that others may write to (a
// downloads folder, the temporary folder): they import only from the system's known DLLs,
// which the loader never takes from the program's folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "support/test_files.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The names of the DLLs that a program imports from, read from its import directory.
std::vector<std::string> ImportedDlls(const std::string& program) {
  std::vector<std::string> names;
  UniqueModule image(LoadLibraryExA(program.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  if (!image) {
    ADD_FAILURE() << "cannot load " << program;
    return names;
  }
  const auto* base = reinterpret_cast<const std::uint8_t*>(image.get());
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const auto* import =
      reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
  for (; import->Name != 0; ++import) {
    names.push_back(Lower(reinterpret_cast<const char*>(base + import->Name)));
  }
  return names;
}

TEST(ProgramImages, ImportOnlyKnownSystemDlls) {
  // The known DLLs of the systems the programs run on; comctl32.dll is not one of them.
  const std::set<std::string> known = {
      "advapi32.dll", "comdlg32.dll", "gdi32.dll",    "imm32.dll",  "kernel32.dll",
      "msvcrt.dll",   "ole32.dll",    "oleaut32.dll", "rpcrt4.dll", "shell32.dll",
      "shlwapi.dll",  "user32.dll",   "ws2_32.dll"};
  for (const char* program : {"vorlatch-stub.exe", "vorlatch-uninstall.exe"}) {
    const std::vector<std::string> imports = ImportedDlls(test::BesideTests(program));
    EXPECT_FALSE(imports.empty()) << program;
    for (const std::string& name : imports) {
      EXPECT_TRUE(known.count(name) == 1) << program << " imports " << name;
    }
  }
}

}  // namespace
}  // namespace vorlatch
