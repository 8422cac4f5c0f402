// The platform half of modShellExtended.
#pragma once
#include "support/modShellExtended.h"

namespace qv::shell {

int32_t PlatformExecute(const ShellRequest& request, void* owner);
intptr_t PlatformExecuteEx(const ShellRequest& request, void* owner);

}  // namespace qv::shell
