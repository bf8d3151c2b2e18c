#pragma once
// Descriptions of what an installation leaves, one line per file, folder, key and value, so
// that tests compare the system before and after with one comparison.

#include <windows.h>

#include <string>
#include <vector>

namespace vorlatch::test {

// Text without carriage returns and blank lines: the profile functions may rewrite a file's
// layout without changing what it says. Lines are joined by "|".
std::string Normalised(const std::string& text);

// One line per folder ("label\name\") and file ("label\name=content", or the size of a large
// or binary file).
void DescribeTree(const std::string& folder, const std::string& label,
                  std::vector<std::string>& lines);

// One line per key ("label\") and value ("label:name=data"; other types than REG_SZ by their
// type number and, for REG_DWORD, their number).
void DescribeKey(HKEY root, const std::string& path, const std::string& label,
                 std::vector<std::string>& lines);

}  // namespace vorlatch::test
