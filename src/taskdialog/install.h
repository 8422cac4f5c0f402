// The dialogs of this platform, installed once by the program entry before the
// first dialog: on Windows comctl32's task dialogs and the Win32 Yes/No box;
// elsewhere the front end that RunFrontEnd (support/frontend.h) chose: the
// registered desktop one, or our dialog layer with the terminal renderer
// (drawn in place on a TTY, line mode for scripts and as the fallback).
#pragma once

namespace qv {

void InstallDialogLayer();

}  // namespace qv
