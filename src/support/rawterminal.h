// Raw keyboard input on a terminal (POSIX only): no line editing, no echo, no
// signal keys, so the dialogs and the path prompt read every key themselves.
// One terminal state is saved for the whole process and put back on every way
// out of it (EndProcess's cleanups, exit), so an interrupted run never leaves
// the user's shell without echo.
#pragma once

namespace qv {

// Enters raw mode on `fd`; nested calls only count. False when `fd` is not a
// terminal (nothing changed, nothing to leave).
bool EnterRawTerminal(int fd);
// Leaves one level; the last one puts the saved settings back and shows the
// cursor again.
void LeaveRawTerminal();

}  // namespace qv
