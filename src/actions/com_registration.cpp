#include "actions/com_registration.h"

namespace vorlatch {

// Body follows.
void RegisterComServer(const std::string& /*path*/, bool /*registerServer*/) {}

}  // namespace vorlatch
