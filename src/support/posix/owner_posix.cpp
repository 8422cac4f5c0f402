#include "support/owner.h"

namespace qv {

void* HiddenOwnerWindow() { return nullptr; }

}  // namespace qv
