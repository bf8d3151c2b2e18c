#include "support/small_drive.h"

#include <windows.h>

#include "support/host_command.h"

namespace vorlatch::test {

SmallDrive::SmallDrive(const std::string& folder, int kilobytes, bool readOnly,
                       const std::string& prepare) {
  ::CreateDirectoryA(folder.c_str(), nullptr);
  unixFolder_ = UnixPath(folder);
  if (unixFolder_.empty()) {
    return;
  }
  const std::string where = ShellWord(unixFolder_);
  std::string command = "mount -t tmpfs -o size=" + std::to_string(kilobytes) + "k tmpfs " + where;
  if (!prepare.empty()) {
    command += " && cd " + where + " && (" + prepare + ")";
  }
  if (readOnly) {
    command += " && mount -o remount,ro " + where;
  }
  mounted_ = RunHostCommand(command) == 0;
}

SmallDrive::~SmallDrive() {
  if (!unixFolder_.empty()) {
    // Lazily: a file that Wine still holds open must not keep the mount.
    RunHostCommand("mountpoint -q " + ShellWord(unixFolder_) + " && umount -l " +
                   ShellWord(unixFolder_));
  }
}

}  // namespace vorlatch::test
