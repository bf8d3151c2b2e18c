#include "stages/before_stage.h"

namespace vorlatch {

// Stand-in until the Before stage is built: nothing to show.
int RunBeforeStage() { return 1; }

}  // namespace vorlatch
