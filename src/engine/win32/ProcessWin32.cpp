#include <windows.h>

#include "engine/TempNames.h"

namespace qv::tempnames {

uint64_t CurrentProcess() { return static_cast<uint64_t>(GetCurrentProcessId()); }

bool ProcessAlive(uint64_t pid) {
  if (pid == 0 || pid > 0xFFFFFFFFull) return false;
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                         static_cast<DWORD>(pid));
  if (!h) {
    // Access denied: the process exists under another account.
    return GetLastError() == ERROR_ACCESS_DENIED;
  }
  DWORD code = 0;
  bool alive = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  // A process that ended with exit code 259 still reads as active; the wait
  // tells them apart.
  if (alive) alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return alive;
}

}  // namespace qv::tempnames

#include "engine/WorkerThreads.h"

namespace qv::workers {

void LowerThisThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

}  // namespace qv::workers
