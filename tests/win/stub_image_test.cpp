// The stub travels alone inside every installer: it may import from system DLLs only.

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

TEST(StubImage, ImportsOnlySystemDlls) {
  const std::set<std::string> system = {
      "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll",   "kernel32.dll", "msvcrt.dll",
      "ole32.dll",    "oleaut32.dll", "shell32.dll",  "shlwapi.dll", "user32.dll"};
  const std::vector<std::string> imports = ImportedDlls(test::BesideTests("vorlatch-stub.exe"));
  EXPECT_FALSE(imports.empty());
  for (const std::string& name : imports) {
    EXPECT_TRUE(system.count(name) == 1) << "the stub needs " << name << " beside it";
  }
}

}  // namespace
}  // namespace vorlatch
