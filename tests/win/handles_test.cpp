// The ownership wrappers against real handles: what they hold is released exactly when they
// say, and release() and moves hand it over.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/test_files.h"
#include "win/handles.h"

namespace vorlatch {
namespace {

// A file opened without sharing: while any handle to it is open, nobody can open it again.
HANDLE OpenExclusive(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool IsHeldOpen(const std::string& path) {
  UniqueHandle probe(OpenExclusive(path));
  return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
}

TEST(UniqueHandle, ClosesTheFileWhenItEnds) {
  test::TempFolder folder;
  const std::string path = folder.File("exclusive.bin");
  {
    UniqueHandle file(OpenExclusive(path));
    ASSERT_TRUE(file);
    EXPECT_TRUE(IsHeldOpen(path));
  }
  EXPECT_FALSE(IsHeldOpen(path));
  UniqueHandle again(OpenExclusive(path));
  EXPECT_TRUE(again);
}

TEST(UniqueHandle, ReleaseHandsTheHandleOver) {
  test::TempFolder folder;
  const std::string path = folder.File("released.bin");
  HANDLE raw = nullptr;
  {
    UniqueHandle file(OpenExclusive(path));
    ASSERT_TRUE(file);
    raw = file.release();
    EXPECT_FALSE(file);
    EXPECT_EQ(file.get(), nullptr);
  }
  EXPECT_TRUE(IsHeldOpen(path));
  EXPECT_TRUE(CloseHandle(raw));
  EXPECT_FALSE(IsHeldOpen(path));
}

TEST(UniqueHandle, MovesAndResetsCloseExactlyTheOldHandle) {
  test::TempFolder folder;
  const std::string first = folder.File("first.bin");
  const std::string second = folder.File("second.bin");

  UniqueHandle a(OpenExclusive(first));
  ASSERT_TRUE(a);
  UniqueHandle b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_TRUE(b);
  EXPECT_TRUE(IsHeldOpen(first));

  // Assigning over a held handle closes it and takes the other.
  UniqueHandle c(OpenExclusive(second));
  ASSERT_TRUE(c);
  b = std::move(c);
  EXPECT_FALSE(IsHeldOpen(first));
  EXPECT_TRUE(IsHeldOpen(second));

  b.reset(OpenExclusive(first));
  EXPECT_TRUE(IsHeldOpen(first));
  EXPECT_FALSE(IsHeldOpen(second));
  b.reset();
  EXPECT_FALSE(IsHeldOpen(first));
  EXPECT_FALSE(b);
}

TEST(UniqueHandle, FailedOpenIsEmpty) {
  test::TempFolder folder;
  // CreateFileA reports failure with INVALID_HANDLE_VALUE, not null.
  UniqueHandle missing(CreateFileA(folder.File("no\\such\\file").c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(missing);
  WIN32_FIND_DATAA found = {};
  UniqueFindHandle search(FindFirstFileA(folder.File("*.none").c_str(), &found));
  EXPECT_FALSE(search);
  EXPECT_FALSE(UniqueFindHandle());
}

TEST(UniqueModule, UnloadsTheLibraryWhenItEnds) {
  const std::string dll = test::BesideTests("fixture_faulting.dll");
  ASSERT_EQ(GetModuleHandleA("fixture_faulting.dll"), nullptr);
  {
    UniqueModule module(LoadLibraryA(dll.c_str()));
    ASSERT_TRUE(module);
    EXPECT_EQ(GetModuleHandleA("fixture_faulting.dll"), module.get());
  }
  EXPECT_EQ(GetModuleHandleA("fixture_faulting.dll"), nullptr);
}

TEST(UniqueView, UnmapsTheViewAndTheMappingIsClosedWithIt) {
  test::TempFolder folder;
  const std::string path = folder.File("mapped.txt");
  ASSERT_TRUE(test::WriteTextFile(path, "mapped content"));
  const void* address = nullptr;
  {
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    UniqueHandle mapping(CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    ASSERT_TRUE(mapping);
    UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    ASSERT_TRUE(view);
    address = view.get();
    EXPECT_EQ(std::string(static_cast<const char*>(address), 14), "mapped content");
  }
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_NE(VirtualQuery(address, &info, sizeof info), 0u);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
  EXPECT_FALSE(IsHeldOpen(path));
}

TEST(UniqueHkey, ClosesTheKey) {
  std::string name = "Software\\Vorlatch tests\\handles ";
  name += std::to_string(GetCurrentProcessId());
  HKEY raw = nullptr;
  {
    UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    raw = key.get();
    EXPECT_EQ(RegSetValueExA(raw, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(RegSetValueExA(raw, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, name.c_str()), ERROR_SUCCESS);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Vorlatch tests");
}

// A COM object that counts its references.
class Counted : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
};

TEST(ComPtr, ReleasesOnceWhenItEndsResetsOrIsMovedOver) {
  Counted first;
  Counted second;
  {
    ComPtr<IUnknown> a;
    *a.put_void() = static_cast<IUnknown*>(&first);
    EXPECT_EQ(a.get(), &first);
    ComPtr<IUnknown> b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(first.references, 1u);

    ComPtr<IUnknown> c;
    *c.put_void() = static_cast<IUnknown*>(&second);
    b = std::move(c);  // lets go of the first
    EXPECT_EQ(first.references, 0u);
    EXPECT_EQ(second.references, 1u);
  }
  EXPECT_EQ(second.references, 0u);

  Counted third;
  ComPtr<IUnknown> d;
  *d.put_void() = static_cast<IUnknown*>(&third);
  d.reset();
  EXPECT_EQ(third.references, 0u);
  d.reset();
  EXPECT_EQ(third.references, 0u);
}

}  // namespace
}  // namespace vorlatch
