#include <cstdio>

#include "support/main_platform.h"
#include "support/modMain.h"

namespace qv {

namespace mainplatform {
void* Startup() { return nullptr; }
void Shutdown(void*) {}
}  // namespace mainplatform

void ShowUncaughtError(const NumberedError& error) {
  std::fprintf(stderr, "%s\n", error.what());
  std::fflush(stderr);
}

}  // namespace qv
