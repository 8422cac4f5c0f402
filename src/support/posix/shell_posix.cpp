// Opening an item with the desktop's default handler (xdg-open). The handler is
// started in its own session through an intermediate child that exits at once,
// so the run never waits for it and no zombie is left behind; without a desktop
// nothing is started at all.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/shell_platform.h"

extern char** environ;

namespace qv::shell {
namespace {

constexpr int32_t kStarted = 42;
constexpr int32_t kNoDesktop = 31;  // SE_ERR_NOASSOC: nothing can show it
constexpr int32_t kNotStarted = 2;  // ERROR_FILE_NOT_FOUND

bool HasDesktop() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

std::string FindInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string list = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string candidate = end > start ? list.substr(start, end - start) : std::string(".");
    candidate += '/';
    candidate += name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// Starts the handler on `item`; its process id, or 0.
pid_t StartDetached(const std::string& item) {
  const std::string program = FindInPath("xdg-open");
  if (program.empty()) return 0;
  // Everything the children need is prepared here: after fork only
  // async-signal-safe calls are allowed (GIO may have started threads).
  std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(item.c_str()),
                          nullptr};
  int report[2];  // grandchild → us: its pid, then errno if exec failed
  if (::pipe2(report, O_CLOEXEC) != 0) return 0;
  pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return 0;
  }
  if (child == 0) {
    ::close(report[0]);
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    // The handler starts as a fresh program would: no signal ignored or
    // blocked because of what this run set up for itself.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGINT, SIGQUIT, SIGPIPE, SIGCHLD, SIGTERM, SIGHUP, SIGTSTP, SIGTTOU, SIGTTIN,
                    SIGXFSZ})
      ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
    }
    pid_t self = ::getpid();
    (void)!::write(report[1], &self, sizeof self);
    ::execve(program.c_str(), argv.data(), environ);
    int e = errno;
    (void)!::write(report[1], &e, sizeof e);
    _exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // EOF after the pid: exec succeeded (the pipe closed with it).
  pid_t started = 0;
  int execErrno = 0;
  ssize_t n;
  while ((n = ::read(report[0], &started, sizeof started)) < 0 && errno == EINTR) {
  }
  if (n != sizeof started) started = 0;
  while ((n = ::read(report[0], &execErrno, sizeof execErrno)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (n == sizeof execErrno) return 0;
  return started;
}

}  // namespace

int32_t PlatformExecute(const ShellRequest& request, void*) {
  if (!HasDesktop()) return kNoDesktop;
  if (request.verb != "open" || request.file.empty()) return kNotStarted;
  // xdg-open takes one item; arguments for a program have no counterpart.
  return StartDetached(request.file) > 0 ? kStarted : kNotStarted;
}

intptr_t PlatformExecuteEx(const ShellRequest& request, void*) {
  if (!HasDesktop() || request.verb != "open" || request.file.empty()) return 0;
  return StartDetached(request.file);
}

}  // namespace qv::shell

namespace qv {
bool IsWow64() { return false; }
}  // namespace qv
