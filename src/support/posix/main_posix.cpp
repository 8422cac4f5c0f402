#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "support/eventloop.h"
#include "support/main_platform.h"
#include "support/modMain.h"
#include "support/process.h"

namespace qv {

namespace {

// A termination request (SIGTERM, SIGHUP: a closed terminal, a session
// logout, `kill`) must not leave a half-written archive or temporary file
// behind. The handler only writes to a pipe; the loop, which the engine pumps
// between chunks, then ends the run through EndProcess so the cleanups run. A
// second request while that is under way ends the process at once.
// A reader of standard output that goes away (`| head`) is the same request:
// the run stops cleanly instead of dying in the middle of a write. Every later
// write to that output raises SIGPIPE again, so it never counts as a second
// request; those writes fail quietly.
int g_termPipe[2] = {-1, -1};
volatile sig_atomic_t g_termRequested = 0;
// Which of these signals the caller had set to be ignored, read when the
// process starts: the desktop front end's start, which comes before the
// handlers are installed, sets SIGPIPE to be ignored for its own sake.
bool g_ignoredByCaller[3] = {false, false, false};
constexpr int kTerminationSignals[3] = {SIGTERM, SIGHUP, SIGPIPE};

void ReadCallersDispositions() {
  for (int i = 0; i < 3; ++i) {
    struct sigaction old {};
    g_ignoredByCaller[i] =
        sigaction(kTerminationSignals[i], nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
  }
}

void OnTerminationSignal(int sig) {
  if (sig == SIGPIPE && g_termRequested) return;
  if (g_termRequested) {
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    return;
  }
  g_termRequested = 1;
  char c = 1;
  if (g_termPipe[1] >= 0) (void)!::write(g_termPipe[1], &c, 1);
}

void InstallTerminationHandlers() {
  if (g_termPipe[0] >= 0 || ::pipe(g_termPipe) != 0) return;
  for (int fd : g_termPipe) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  Loop().WatchFd(g_termPipe[0], [] {
    char buf[16];
    while (::read(g_termPipe[0], buf, sizeof buf) > 0) {
    }
    EndProcess(kExitCancelled);
  });
  struct sigaction sa {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < 3; ++i) {
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (g_ignoredByCaller[i]) continue;
    sigaction(kTerminationSignals[i], &sa, nullptr);
  }
}

// A launcher may start the program with standard descriptors closed. The
// next file opened would then take their number, and what is meant for the
// terminal (a dialog, a message) would be written into an archive: each
// closed one is held by /dev/null instead.
void HoldClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

// Before anything else of the process: the desktop front end's start (asked
// before the first dialog) opens descriptors of its own, which would
// otherwise take a closed standard descriptor's number, and changes how
// SIGPIPE is handled.
[[gnu::constructor]] void HoldAtProcessStart() {
  HoldClosedStandardDescriptors();
  ReadCallersDispositions();
}

}  // namespace

namespace mainplatform {
void* Startup() {
  HoldClosedStandardDescriptors();
  InstallTerminationHandlers();
  // A file-size limit (ulimit -f, a quota) must fail the write that meets it,
  // which the engine reports and cleans up after, not end the process with a
  // half-written temporary file left behind.
  ::signal(SIGXFSZ, SIG_IGN);
  return nullptr;
}
void Shutdown(void*) {}
}  // namespace mainplatform

void ShowUncaughtError(const NumberedError& error) {
  std::fprintf(stderr, "%s\n", error.what());
  std::fflush(stderr);
}

}  // namespace qv
