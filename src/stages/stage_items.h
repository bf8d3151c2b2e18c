#pragma once
// Items that the Before and After stages and the extension calls take out of the package:
// the Before document, the After program or document and the extension DLL, each written into
// a file of its own through the item file.

#include <cstdint>
#include <string>

namespace vorlatch {

enum class StageItem {
  kNone,       // no item to extract (length 0)
  kExtracted,  // the target holds the item
  kFailed,     // the archive error has been shown
};

// Extracts the item at [position, position + length) of the package into `target`, which
// may be replaced even when it is read-only. An item that lies outside the package, or that
// cannot be written or inflated, is a damaged package or a locked file: the archive error is
// shown then.
StageItem ExtractStageItem(std::uint32_t position, std::uint32_t length, const std::string& target);

struct StageItemPlace {
  std::uint32_t position = 0;
  std::uint32_t length = 0;
};

// Where the item named `name` lies: the section's own Zip and Pos keys when its Zip key is
// nonzero, else the item of the installed file of that name (nothing when there is none).
StageItemPlace FindStageItem(const char* section, const char* zipKey, const char* posKey,
                             const std::string& name);

}  // namespace vorlatch
