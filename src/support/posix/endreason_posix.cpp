#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "support/process.h"
#include "support/text.h"

namespace qv {

void ReportEndReason(std::string_view reason) {
  if (reason.empty()) return;
  // Escaped without its line feeds, the reason stays one line a script can
  // read, and a name from outside cannot drive the terminal.
  std::string line = EscapeForDisplay(reason) + "\n";
  std::fflush(stderr);
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace qv
