#include "support/modMain.h"

#include "support/main_platform.h"
#include "support/process.h"

namespace qv {

int Main(std::function<void()> loadHandler) {
  void* token = mainplatform::Startup();
  try {
    if (loadHandler) loadHandler();
  } catch (const NumberedError& e) {
    ShowUncaughtError(e);
    mainplatform::Shutdown(token);
    EndProcess(kExitFailed);
  }
  mainplatform::Shutdown(token);
  return kExitDone;
}

}  // namespace qv
