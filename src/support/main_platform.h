// The platform half of modMain.
#pragma once

namespace qv::mainplatform {

// Prepares what the dialogs need; returns what Shutdown releases.
void* Startup();
void Shutdown(void* token);

}  // namespace qv::mainplatform
