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
