#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "support/frontend.h"

namespace qv {

InputKind KindOfInput(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return InputKind::Other;
  if (S_ISFIFO(st.st_mode)) return InputKind::Pipe;
  if (S_ISREG(st.st_mode)) return InputKind::File;
  if (S_ISCHR(st.st_mode) && ::isatty(fd)) return InputKind::Terminal;
  return InputKind::Other;
}

FrontEnd RunFrontEnd() {
  // The descriptors are looked at on each call (a forked child may have
  // others); whether the desktop starts is asked once.
  static std::optional<bool> desktopStarts;
  const char* ui = std::getenv("QV_UI");
  return ChooseFrontEnd(ui ? ui : "", KindOfInput(STDIN_FILENO), ::isatty(STDOUT_FILENO) != 0,
                        [] {
                          if (!desktopStarts) {
                            const DesktopFrontEnd* desktop = RegisteredDesktopFrontEnd();
                            desktopStarts = desktop && desktop->starts && desktop->starts();
                          }
                          return *desktopStarts;
                        });
}

}  // namespace qv
