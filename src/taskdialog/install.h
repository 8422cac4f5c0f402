// The dialogs of this platform, installed once by the program entry before the
// first dialog: on Windows comctl32's task dialogs and the Win32 Yes/No box;
// elsewhere our dialog layer with the terminal renderer (drawn in place on a
// TTY, line mode when stdin or stdout is not a terminal).
#pragma once

namespace qv {

void InstallDialogLayer();

}  // namespace qv
