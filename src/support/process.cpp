#include "support/process.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace qv {
namespace {
// Cleanups are registered and removed by the engine's worker threads while the
// caller's thread may be ending the process, so the registry is locked; a
// cleanup never runs under the lock, since it may itself (stopping those
// workers) wait for threads that remove theirs.
struct Registry {
  std::mutex lock;
  std::map<int, std::function<void()>> early, late;
  int next = 1;
};
Registry& Cleanups() {
  static Registry r;
  return r;
}
std::function<void(int)>& Handler() {
  static std::function<void(int)> h;
  return h;
}

int Add(bool early, std::function<void()> cleanup) {
  Registry& r = Cleanups();
  std::lock_guard<std::mutex> hold(r.lock);
  int id = r.next++;
  (early ? r.early : r.late)[id] = std::move(cleanup);
  return id;
}

// Takes out the next cleanup to run: early ones first, each tier last
// registered first.
bool TakeNext(std::function<void()>& fn) {
  Registry& r = Cleanups();
  std::lock_guard<std::mutex> hold(r.lock);
  for (auto* tier : {&r.early, &r.late}) {
    if (tier->empty()) continue;
    auto it = std::prev(tier->end());
    fn = std::move(it->second);
    tier->erase(it);
    return true;
  }
  return false;
}
}  // namespace

int AddCleanup(std::function<void()> cleanup) { return Add(false, std::move(cleanup)); }
int AddEarlyCleanup(std::function<void()> cleanup) { return Add(true, std::move(cleanup)); }

void RemoveCleanup(int id) {
  Registry& r = Cleanups();
  std::lock_guard<std::mutex> hold(r.lock);
  r.early.erase(id);
  r.late.erase(id);
}

void RunCleanups() {
  std::function<void()> fn;
  while (TakeNext(fn)) {
    try {
      fn();
    } catch (...) {
      // A cleanup that fails must not keep the others from running.
    }
    fn = nullptr;
  }
}

void EndProcess(int code) {
  RunCleanups();
  if (Handler()) Handler()(code);
  std::fflush(nullptr);
  std::_Exit(code);
}

std::string TextAfterProgramName(std::string_view line) {
  std::size_t i = 0;
  if (i < line.size() && line[i] == '"') {
    auto close = line.find('"', 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  }
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return std::string(line.substr(i));
}

void SetEndProcessHandler(std::function<void(int)> handler) { Handler() = std::move(handler); }

void ThrowOnEndProcess() {
  SetEndProcessHandler([](int code) { throw ProcessEnded{code}; });
}

}  // namespace qv
