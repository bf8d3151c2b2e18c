#include "support/system_snapshot.h"

#include <algorithm>
#include <cstring>

#include "support/test_files.h"
#include "win/handles.h"

namespace vorlatch::test {

namespace {

// Files larger than this are described by their size.
constexpr std::size_t kDescribedContent = 4096;

}  // namespace

// Text without carriage returns and blank lines: the profile functions may rewrite a file's
// layout without changing what it says.
std::string Normalised(const std::string& text) {
  std::string result;
  std::string line;
  for (const char c : text + "\n") {
    if (c == '\r') {
      continue;
    }
    if (c == '\n') {
      if (line.find_first_not_of(" \t") != std::string::npos) {
        result += line + "|";
      }
      line.clear();
    } else {
      line += c;
    }
  }
  return result;
}

// One line per folder ("label\name\") and file ("label\name=content", or the size of a large
// or binary file).
void DescribeTree(const std::string& folder, const std::string& label,
                  std::vector<std::string>& lines) {
  for (const std::string& name : FolderEntries(folder)) {
    const std::string path = folder + (folder.back() == '\\' ? "" : "\\") + name;
    if ((GetAttributes(path) & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      lines.push_back(label + name + "\\");
      DescribeTree(path, label + name + "\\", lines);
      continue;
    }
    const auto bytes = ReadFileBytes(path);
    std::string content = "<unreadable>";
    const bool text = bytes && std::find(bytes->begin(), bytes->end(), 0) == bytes->end();
    if (text && bytes->size() <= kDescribedContent) {
      content = Normalised(std::string(bytes->begin(), bytes->end()));
    } else if (bytes) {
      content = std::to_string(bytes->size()) + " bytes";
    }
    lines.push_back(label + name + "=" + content);
  }
}

// One line per key ("label\") and value ("label:name=data").
void DescribeKey(HKEY root, const std::string& path, const std::string& label,
                 std::vector<std::string>& lines) {
  UniqueHkey key;
  if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return;
  }
  lines.push_back(label + "\\");
  for (DWORD index = 0;; ++index) {
    char name[256] = {};
    DWORD nameSize = sizeof name;
    BYTE data[1024] = {};
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    if (::RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type, data, &dataSize) !=
        ERROR_SUCCESS) {
      break;
    }
    std::string value = "type " + std::to_string(type);
    if (type == REG_SZ) {
      value = std::string(reinterpret_cast<char*>(data));
    } else if (type == REG_DWORD && dataSize == sizeof(DWORD)) {
      DWORD number = 0;
      std::memcpy(&number, data, sizeof number);
      value = "dword " + std::to_string(number);
    }
    lines.push_back(label + ":" + name + "=" + value);
  }
  std::vector<std::string> subkeys;
  for (DWORD index = 0;; ++index) {
    char name[256] = {};
    DWORD nameSize = sizeof name;
    if (::RegEnumKeyExA(key.get(), index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    subkeys.emplace_back(name);
  }
  for (const std::string& subkey : subkeys) {
    DescribeKey(root, path + "\\" + subkey, label + "\\" + subkey, lines);
  }
}

}  // namespace vorlatch::test
