#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "support/process.h"
#include "support/rawterminal.h"

namespace qv {
namespace {

termios g_saved;
int g_fd = -1;
int g_depth = 0;
int g_cleanup = 0;
bool g_raw = false;

void Restore() {
  if (g_fd < 0) return;
  ::tcsetattr(g_fd, TCSANOW, &g_saved);
  // The dialogs hide the cursor while they draw; a quiet read drew nothing,
  // and its output may be a log file.
  if (g_raw) {
    ssize_t n = ::write(STDOUT_FILENO, "\x1b[?25h", 6);
    (void)n;
  }
  g_fd = -1;
  g_depth = 0;
}

enum class Mode { Raw, Quiet };

bool Enter(int fd, Mode mode) {
  if (g_depth > 0) {
    ++g_depth;
    return true;
  }
  termios t;
  if (::tcgetattr(fd, &t) != 0) return false;
  g_saved = t;
  if (mode == Mode::Raw) {
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
  } else {
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK);
    t.c_lflag |= ECHONL;
  }
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return false;
  g_fd = fd;
  g_depth = 1;
  g_raw = mode == Mode::Raw;
  g_cleanup = AddCleanup(Restore);
  static bool atexitDone = false;
  if (!atexitDone) {
    std::atexit(Restore);
    atexitDone = true;
  }
  return true;
}

}  // namespace

bool EnterRawTerminal(int fd) { return Enter(fd, Mode::Raw); }
bool EnterQuietTerminal(int fd) { return Enter(fd, Mode::Quiet); }

void DiscardTypedAhead(int fd) {
  if (::isatty(fd)) ::tcflush(fd, TCIFLUSH);
}

void LeaveRawTerminal() {
  if (g_depth == 0 || --g_depth > 0) return;
  Restore();
  if (g_cleanup) RemoveCleanup(g_cleanup);
  g_cleanup = 0;
}

}  // namespace qv
