#include "package/format.h"
namespace vorlatch {
int FormatPlaceholder() { return 1; }
}  // namespace vorlatch
