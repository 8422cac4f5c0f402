// The hidden owner of every dialog of a run: the programs show no main window,
// yet the platform's dialogs need a window to belong to (and, on Windows, the
// UI timers are delivered through it, so they also fire inside the modal loops
// of dialogs and message boxes).
#pragma once

namespace qv {

// The HWND of the hidden owner on Windows (created on first use); nullptr on
// platforms without one.
void* HiddenOwnerWindow();

}  // namespace qv
