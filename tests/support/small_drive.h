#pragma once
// A small file system of the machine that runs Wine, mounted on a folder of the test (a
// tmpfs, made as root): it fills up after a few bytes, or it cannot be written at all, as
// no attribute or access right denies writing to root under Wine. Unmounted when the object
// goes, also after a failed test.

#include <string>

namespace vorlatch::test {

class SmallDrive {
 public:
  // Mounts a file system of `kilobytes` on `folder` (made when missing; a Windows path);
  // `readOnly` mounts it read-only, with the files `prepare` (a /bin/sh command run in it
  // before, may be empty) made first.
  SmallDrive(const std::string& folder, int kilobytes, bool readOnly = false,
             const std::string& prepare = "");
  ~SmallDrive();
  SmallDrive(const SmallDrive&) = delete;
  SmallDrive& operator=(const SmallDrive&) = delete;

  bool mounted() const { return mounted_; }

 private:
  std::string unixFolder_;
  bool mounted_ = false;
};

}  // namespace vorlatch::test
