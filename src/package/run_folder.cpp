#include "package/run_folder.h"

#include <optional>

#include <windows.h>

#include "package/opening.h"
#include "package/process_state.h"
#include "script/path_text.h"
#include "win/private_folder.h"

namespace vorlatch {

namespace {

constexpr char kTmp[] = "Tmp";
constexpr char kTemp[] = "Temp";
constexpr char kRunFolderPrefix[] = "vorlatch-";

std::optional<std::string> Variable(const char* name) {
  const DWORD needed = ::GetEnvironmentVariableA(name, nullptr, 0);
  if (needed == 0) {
    return std::nullopt;
  }
  std::string value(needed, '\0');
  const DWORD length = ::GetEnvironmentVariableA(name, value.data(), needed);
  if (length == 0 || length >= needed) {
    return std::nullopt;
  }
  value.resize(length);
  return value;
}

void SetVariable(const char* name, const std::optional<std::string>& value) {
  ::SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
}

void PointAtRunFolder() {
  const std::string folder = WithoutTrailingBackslash(g_state.runFolder);
  SetVariable(kTmp, folder);
  SetVariable(kTemp, folder);
}

void RestoreUserVariables() {
  SetVariable(kTmp, g_state.userTmp);
  SetVariable(kTemp, g_state.userTemp);
}

}  // namespace

bool EnterRunFolder() {
  if (!g_state.runFolder.empty()) {
    return true;
  }
  const std::string folder = CreatePrivateFolder(TemporaryDirectory(), kRunFolderPrefix);
  if (folder.empty()) {
    return false;
  }
  g_state.userTmp = Variable(kTmp);
  g_state.userTemp = Variable(kTemp);
  g_state.runFolder = folder;
  PointAtRunFolder();
  return true;
}

void LeaveRunFolder() {
  if (g_state.runFolder.empty()) {
    return;
  }
  RemoveFolderTree(g_state.runFolder);
  RestoreUserVariables();
  g_state.runFolder.clear();
  g_state.userTmp.reset();
  g_state.userTemp.reset();
}

std::string UserTemporaryDirectory() {
  if (g_state.runFolder.empty()) {
    return TemporaryDirectory();
  }
  const std::optional<std::string>& value = g_state.userTmp ? g_state.userTmp : g_state.userTemp;
  if (!value || value->empty()) {
    return std::string();
  }
  return WithoutTrailingBackslash(*value) + '\\';
}

UserTemporaryVariables::UserTemporaryVariables() : swapped_(!g_state.runFolder.empty()) {
  if (swapped_) {
    RestoreUserVariables();
  }
}

UserTemporaryVariables::~UserTemporaryVariables() {
  if (swapped_) {
    PointAtRunFolder();
  }
}

}  // namespace vorlatch
