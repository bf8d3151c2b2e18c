#include "packer/packer.h"

#include <ostream>

namespace vorlatch::packer {

bool BuildInstaller(const BuildOptions&, std::string& error) {
  error = "not built yet";
  return false;
}

bool InspectInstaller(const std::string&, std::ostream&, std::string& error) {
  error = "not built yet";
  return false;
}

}  // namespace vorlatch::packer
