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

void Restore() {
  if (g_fd < 0) return;
  ::tcsetattr(g_fd, TCSANOW, &g_saved);
  // The dialogs hide the cursor while they draw.
  ssize_t n = ::write(STDOUT_FILENO, "\x1b[?25h", 6);
  (void)n;
  g_fd = -1;
  g_depth = 0;
}

}  // namespace

bool EnterRawTerminal(int fd) {
  if (g_depth > 0) {
    ++g_depth;
    return true;
  }
  termios t;
  if (::tcgetattr(fd, &t) != 0) return false;
  g_saved = t;
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return false;
  g_fd = fd;
  g_depth = 1;
  g_cleanup = AddCleanup(Restore);
  static bool atexitDone = false;
  if (!atexitDone) {
    std::atexit(Restore);
    atexitDone = true;
  }
  return true;
}

void LeaveRawTerminal() {
  if (g_depth == 0 || --g_depth > 0) return;
  Restore();
  if (g_cleanup) RemoveCleanup(g_cleanup);
  g_cleanup = 0;
}

}  // namespace qv
