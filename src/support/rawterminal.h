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
// Line editing kept, echo off (the line feed that ends a line still shows):
// how line mode reads a password typed at a terminal whose output goes
// elsewhere (`| tee log`). Nests and leaves like raw mode; inside a raw
// level it changes nothing.
bool EnterQuietTerminal(int fd);
// Leaves one level; the last one puts the saved settings back and shows the
// cursor again.
void LeaveRawTerminal();
// Throws away what was typed and not read yet, in the terminal's queue:
// keys pressed before a question was shown must not answer it.
void DiscardTypedAhead(int fd);

}  // namespace qv
