#include "stages/stage_items.h"

#include <windows.h>

#include "package/format.h"
#include "package/item_extraction.h"
#include "package/opening.h"
#include "package/process_state.h"
#include "script/script_access.h"

namespace vorlatch {
namespace {

bool LiesInPackage(std::uint32_t position, std::uint32_t length) {
  if (g_state.packageView == nullptr || g_state.packageSize <= 0) {
    return false;
  }
  const Bytes package(g_state.packageView, static_cast<std::size_t>(g_state.packageSize));
  return SliceOf(package, position, length).has_value();
}

void ShowArchiveErrorFor(const std::string& file) {
  g_state.currentOutputFile = file;
  ShowArchiveError();
  g_state.currentOutputFile.clear();
}

}  // namespace

StageItem ExtractStageItem(std::uint32_t position, std::uint32_t length,
                           const std::string& target) {
  if (length == 0) {
    return StageItem::kNone;
  }
  if (!LiesInPackage(position, length)) {
    ShowArchiveErrorFor("");
    return StageItem::kFailed;
  }
  // A copy left read-only by an earlier extraction (the item's own attributes) must not stop
  // this one; the item's attributes are applied again afterwards.
  const DWORD attributes = ::GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  if (ExtractPackedItem(position, length, target, false) == 0) {
    ShowArchiveErrorFor(target);
    return StageItem::kFailed;
  }
  return StageItem::kExtracted;
}

StageItemPlace FindStageItem(const char* section, const char* zipKey, const char* posKey,
                             const std::string& name) {
  StageItemPlace place;
  place.length = static_cast<std::uint32_t>(ReadScriptInt(section, zipKey, 0));
  if (place.length != 0) {
    place.position = static_cast<std::uint32_t>(ReadScriptInt(section, posKey, 0));
    return place;
  }
  // Whether the installed file counts as found does not matter: its values are taken as
  // they are, and a missing item has length 0.
  const PackedItemRef installed = FindPackedItem(name);
  place.position = installed.position;
  place.length = installed.length;
  return place;
}

}  // namespace vorlatch
