// The entry of both programs: prepares the platform (common controls and the
// shell library on Windows), then runs the program's load handler, which does
// the whole run and normally ends the process itself.
#pragma once
#include <functional>

#include "support/errors.h"

namespace qv {

// Returns kExitDone when the handler returns. A NumberedError that the handler
// lets through is shown (its description, on stderr or in a message box) and
// ends the process with kExitFailed, after the registered cleanups.
int Main(std::function<void()> loadHandler);

// Shows the description of an error nobody caught.
void ShowUncaughtError(const NumberedError& error);

}  // namespace qv
