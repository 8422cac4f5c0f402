// Which front end a run gets off Windows, decided once per process from what
// the process was given: the QV_UI variable when set ("gtk", "terminal",
// "line"), else the kind of standard input, which tells who is there:
//   - a pipe or a regular file: a script, line mode;
//   - a terminal: a person at a terminal, the terminal renderer (line mode
//     when standard output is not a terminal, `| tee log`);
//   - anything else (/dev/null, a closed descriptor, a socket: what a file
//     manager or a launcher gives): the desktop, when a desktop front end is
//     registered and can start, else line mode, whose end of input does
//     nothing destructive. A run never blocks waiting for a person who
//     cannot see it.
#pragma once
#include <functional>
#include <string_view>

namespace qv {

enum class FrontEnd { Desktop, Terminal, Line };
enum class InputKind { Pipe, File, Terminal, Other };

// The choice itself, pure. `desktopStarts` is asked only when the desktop is
// the candidate (it may open a display connection).
FrontEnd ChooseFrontEnd(std::string_view qvUi, InputKind input, bool outputIsTerminal,
                        const std::function<bool()>& desktopStarts);

// What kind of thing a descriptor is (a closed one is Other).
InputKind KindOfInput(int fd);

// The desktop front end (GTK) plugs in here before the first dialog:
// `starts` answers whether it can run (gtk_init_check), `install` puts its
// dialogs, questions and chooser in place.
struct DesktopFrontEnd {
  std::function<bool()> starts;
  std::function<void()> install;
};
void RegisterDesktopFrontEnd(DesktopFrontEnd desktop);
const DesktopFrontEnd* RegisteredDesktopFrontEnd();

// The front end of this process, from QV_UI, descriptors 0 and 1 and the
// registered desktop (asked once whether it starts).
FrontEnd RunFrontEnd();

}  // namespace qv
