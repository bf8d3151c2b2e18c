#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "script/directories.h"

namespace vorlatch {
namespace {

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") {
        continue;
      }
      const std::string child = path + "\\" + name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(child);
      } else {
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

// Each test works below a directory of its own.
class Directories : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    base_ = std::string(temp) + "h4_dirs_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(GetTickCount64());
    ASSERT_TRUE(CreateDirectoryA(base_.c_str(), nullptr));
  }
  void TearDown() override { RemoveTree(base_); }

  std::string base_;
};

TEST_F(Directories, ExistingDirectoryReturnsWithoutAWalk) {
  for (const std::string& path : {base_, base_ + "\\", "  " + base_ + "\\ \t"}) {
    DirectoryWalk walk;
    EXPECT_TRUE(EnsureDirectory(path, &walk)) << path;
    // No level visited, so no level's wait.
    EXPECT_TRUE(walk.visited.empty()) << path;
  }
  EXPECT_TRUE(IsDirectory(base_));
}

TEST_F(Directories, MissingLevelsAreCreatedInOrderWithAWaitEach) {
  const std::string target = base_ + "\\A\\B\\C";
  DirectoryWalk walk;
  const ULONGLONG start = GetTickCount64();
  ASSERT_TRUE(EnsureDirectory(target, &walk));
  const ULONGLONG elapsed = GetTickCount64() - start;

  const std::vector<std::string> created = {base_ + "\\A", base_ + "\\A\\B", base_ + "\\A\\B\\C"};
  EXPECT_EQ(walk.created, created);
  for (const std::string& level : created) {
    EXPECT_TRUE(IsDirectory(level)) << level;
  }
  // Every level from below the drive root outwards is visited, existing or not, and each
  // costs its wait (coarse lower bound).
  ASSERT_GE(walk.visited.size(), 4u);
  EXPECT_GT(walk.visited.front().size(), 3u);
  EXPECT_EQ(walk.visited.front().find('\\', 3), std::string::npos) << walk.visited.front();
  EXPECT_EQ(walk.visited.back(), target);
  for (std::size_t i = 1; i < walk.visited.size(); ++i) {
    EXPECT_EQ(walk.visited[i].rfind(walk.visited[i - 1] + "\\", 0), 0u) << walk.visited[i];
  }
  EXPECT_GE(elapsed, walk.visited.size() * 150u);

  // Now the tree exists: no walk at all.
  DirectoryWalk again;
  EXPECT_TRUE(EnsureDirectory(target + "\\", &again, 0));
  EXPECT_TRUE(again.visited.empty());
}

TEST_F(Directories, PathsThatCannotBeCreatedFail) {
  for (const char* path : {"", "   "}) {
    DirectoryWalk walk;
    EXPECT_FALSE(EnsureDirectory(path, &walk, 0)) << path;
    EXPECT_TRUE(walk.visited.empty()) << path;
  }
  // A drive root is never created, though it exists (EnsureDirectory would accept it).
  for (const char* path : {"", "C:\\", "C:"}) {
    DirectoryWalk walk;
    EXPECT_FALSE(CreateDirectoryTree(path, &walk, 0)) << path;
    EXPECT_TRUE(walk.visited.empty()) << path;
  }
  EXPECT_TRUE(EnsureDirectory("C:\\", nullptr, 0));

  // A drive letter that is not mapped.
  const DWORD drives = GetLogicalDrives();
  char letter = 'Y';
  while (letter > 'D' && (drives & (1u << (letter - 'A'))) != 0) {
    --letter;
  }
  ASSERT_GT(letter, 'D');
  const std::string missingRoot = std::string(1, letter) + ":\\A\\B";
  DirectoryWalk rootWalk;
  EXPECT_FALSE(EnsureDirectory(missingRoot, &rootWalk, 0));
  EXPECT_EQ(rootWalk.visited, std::vector<std::string>{missingRoot.substr(0, 4)});
  EXPECT_TRUE(rootWalk.created.empty());

  // On a network path the first level tried is the server name itself.
  DirectoryWalk networkWalk;
  EXPECT_FALSE(EnsureDirectory("\\\\server\\share\\dir", &networkWalk, 0));
  EXPECT_EQ(networkWalk.visited, std::vector<std::string>{"\\\\server"});
  EXPECT_TRUE(networkWalk.created.empty());
}

TEST_F(Directories, WalkStopsAtALevelThatIsAFile) {
  const std::string file = base_ + "\\plain.txt";
  HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  CloseHandle(handle);

  DirectoryWalk walk;
  EXPECT_FALSE(EnsureDirectory(file + "\\sub", &walk, 0));
  EXPECT_FALSE(IsDirectory(file));
  EXPECT_EQ(walk.visited.back(), file);
  EXPECT_TRUE(walk.created.empty());
  EXPECT_FALSE(IsDirectory(file + "\\sub"));
}

TEST_F(Directories, FailedWalkKeepsTheLevelsItMade) {
  DirectoryWalk walk;
  EXPECT_FALSE(CreateDirectoryTree(base_ + "\\made\\bad|name\\deeper", &walk, 0));
  EXPECT_EQ(walk.created, std::vector<std::string>{base_ + "\\made"});
  EXPECT_TRUE(IsDirectory(base_ + "\\made"));
  EXPECT_FALSE(IsDirectory(base_ + "\\made\\bad|name"));
}

}  // namespace
}  // namespace vorlatch
