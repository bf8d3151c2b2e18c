#pragma once
// The packer's warning about COM servers that the installer will register: a packed file that
// exports DllRegisterServer is registered at installation unless the project says otherwise,
// and a file carried along by mistake then takes over another program's registration.

#include <string>

#include "package/format.h"
#include "packer/ini_text.h"

namespace vorlatch::packer {

// Whether the installer offers file n for self-registration by the project's keys alone
// ([File] Register<n>, else SelfRegister), read as the installer reads them. The installer
// also passes over a file named like one of the target system's folder, which the packer
// cannot know.
bool WillBeOfferedForRegistration(const IniText& project, long long n);

// The warning for file n with these bytes, named by `label` ("[File] File2=x.dll") and
// `source`; empty when it is no PE image that exports DllRegisterServer or is not offered.
std::string RegistrationWarning(const IniText& project, long long n, Bytes content,
                                const std::string& label, const std::string& source);

}  // namespace vorlatch::packer
