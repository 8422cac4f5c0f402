#include "support/eventloop.h"

#include <limits>
#include <stdexcept>
#include <vector>

namespace qv {

void EventLoop::ProcessEvents(int64_t maxWaitMs) {
  bool ran = RunDueTimers();
  ran = PollInput() || ran;
  if (ran || maxWaitMs == 0) return;
  int64_t toTimer = MsToNextTimer();
  int64_t wait = maxWaitMs;
  if (toTimer != kWaitForever && (wait == kWaitForever || toTimer < wait)) wait = toTimer;
  if (WaitForInput(wait)) return;
  RunDueTimers();
}

int EventLoop::AddTimer(int64_t intervalMs, Callback cb) {
  int id = nextTimerId_++;
  if (intervalMs < 1) intervalMs = 1;
  timers_[id] = Timer{intervalMs, NowMs() + intervalMs, std::move(cb)};
  TimersChanged();
  return id;
}

void EventLoop::RemoveTimer(int id) {
  if (timers_.erase(id)) TimersChanged();
}

void EventLoop::WatchFd(int, Callback) {}
void EventLoop::UnwatchFd(int) {}

bool EventLoop::RunDueTimers() {
  bool ran = false;
  int64_t now = NowMs();
  // Collect first: callbacks may add or remove timers, and nested passes may
  // run other timers meanwhile.
  std::vector<int> due;
  for (auto& [id, t] : timers_)
    if (t.due <= now && !t.running) due.push_back(id);
  for (int id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end() || it->second.running || it->second.due > NowMs()) continue;
    it->second.due = NowMs() + it->second.interval;
    it->second.running = true;
    Callback cb = it->second.cb;  // the timer may be removed by its own callback
    ran = true;
    struct Reset {
      EventLoop* loop;
      int id;
      ~Reset() {
        auto i = loop->timers_.find(id);
        if (i != loop->timers_.end()) i->second.running = false;
      }
    } reset{this, id};
    cb();
  }
  if (ran) TimersChanged();
  return ran;
}

int64_t EventLoop::MsToNextTimer() const {
  int64_t best = kWaitForever;
  int64_t now = NowMs();
  for (auto& [id, t] : timers_) {
    if (t.running) continue;
    int64_t d = t.due > now ? t.due - now : 0;
    if (best == kWaitForever || d < best) best = d;
  }
  return best;
}

bool VirtualEventLoop::WaitForInput(int64_t timeoutMs) {
  if (timeoutMs == kWaitForever)
    throw std::logic_error("virtual loop: waiting forever with nothing scheduled");
  now_ += timeoutMs;
  return false;
}

namespace {
EventLoop* g_loop = nullptr;
}

EventLoop& Loop() {
  if (!g_loop) {
    static std::unique_ptr<EventLoop> platform = MakePlatformLoop();
    g_loop = platform.get();
  }
  return *g_loop;
}

void SetLoop(EventLoop* loop) { g_loop = loop; }

void UiTimer::SetEnabled(bool enabled) {
  if (enabled == Enabled()) return;
  if (enabled) {
    loop_ = &Loop();
    id_ = loop_->AddTimer(interval_, [this] { onTimer_(); });
  } else {
    loop_->RemoveTimer(id_);
    id_ = 0;
  }
}

void PumpEvents(int16_t count) {
  for (int i = 0; i <= count; ++i) Loop().ProcessEvents(0);
}

void WaitMs(float ms) {
  if (!(ms > 0)) return;  // also a NaN, which no elapsed time would ever reach
  EventLoop& loop = Loop();
  const int64_t start = loop.NowMs();
  for (;;) {
    int64_t elapsed = loop.NowMs() - start;
    if (static_cast<float>(elapsed) >= ms) break;
    int64_t left = static_cast<int64_t>(ms) - elapsed;
    loop.ProcessEvents(left > 0 ? left : 1);
  }
}

}  // namespace qv
