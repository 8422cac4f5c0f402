#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "engine/TempNames.h"

namespace qv::tempnames {

uint64_t CurrentProcess() { return static_cast<uint64_t>(::getpid()); }

bool ProcessAlive(uint64_t pid) {
  if (pid == 0 || pid > static_cast<uint64_t>(INT32_MAX)) return false;
  if (::kill(static_cast<pid_t>(pid), 0) == 0) return true;
  // EPERM: it exists but belongs to someone else.
  return errno != ESRCH;
}

}  // namespace qv::tempnames

#include <sys/resource.h>
#include <sys/syscall.h>

#include "engine/WorkerThreads.h"

namespace qv::workers {

void LowerThisThreadPriority() {
  // Linux keeps a nice value per thread, addressed by its thread id.
  const id_t self = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  int current = ::getpriority(PRIO_PROCESS, self);
  if (current == -1 && errno != 0) return;
  ::setpriority(PRIO_PROCESS, self, current + 5 > 19 ? 19 : current + 5);
}

}  // namespace qv::workers
