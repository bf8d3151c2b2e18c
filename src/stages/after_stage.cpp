#include "stages/after_stage.h"

namespace vorlatch {

// Stand-ins until the After stage is built.
int AfterScreen() { return 1; }

void AfterRun() {}

}  // namespace vorlatch
