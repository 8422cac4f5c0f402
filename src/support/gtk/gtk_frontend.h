// The desktop front end of a Linux run: GTK 4 with libadwaita, on the GLib
// main context. Once started, the run's UI loop (qv::Loop()) is that context,
// so the dialogs' timers, PumpEvents, WaitMs and every modal dialog are nested
// iterations of the one context GTK draws from, as the Windows message loop is
// for the native dialogs.
#pragma once
#include <memory>
#include <string>

namespace qv {

// Opens the display and installs the GLib loop; false (and nothing changed)
// when GTK cannot open a display. `programName` names the run to the desktop
// (window class, accessibility tree). Idempotent.
bool StartGtkFrontEnd(const std::string& programName);
// True once StartGtkFrontEnd succeeded in this process.
bool GtkFrontEndActive();

class EventLoop;
// The loop StartGtkFrontEnd installs, on the default GLib main context (it
// needs no display; tests use it alone).
std::unique_ptr<EventLoop> MakeGlibEventLoop();

}  // namespace qv
