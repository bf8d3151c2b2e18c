#include "packer/registration_warning.h"

#include "package/pe_image.h"

namespace vorlatch::packer {

bool WillBeOfferedForRegistration(const IniText& project, long long n) {
  const std::string key = "Register" + std::to_string(n);
  // The installer takes an empty or negative value as no value.
  const auto chosen = project.Get("File", key);
  if (chosen && !chosen->empty()) {
    const long long value = project.GetInt("File", key);
    if (value >= 0) {
      return value != 0;
    }
  }
  const auto all = project.Get("File", "SelfRegister");
  return !all || all->empty() || project.GetInt("File", "SelfRegister") != 0;
}

std::string RegistrationWarning(const IniText& project, long long n, Bytes content,
                                const std::string& label, const std::string& source) {
  if (!WillBeOfferedForRegistration(project, n)) {
    return std::string();
  }
  const auto image = ReadPeImage(content);
  if (!image || !ExportsName(*image, content, "DllRegisterServer")) {
    return std::string();
  }
  const std::string number = std::to_string(n);
  return "warning: " + label + " (" + source +
         "): exports DllRegisterServer, so the installer registers it as a COM server; "
         "set [File] Register" +
         number + "=0 if it is not to be registered";
}

}  // namespace vorlatch::packer
