// The UI loop of a run: one thread, timers, input sources and the two pumping
// procedures the workflows use. Everything that happens while a dialog is shown
// or the engine works (dialog timer ticks, clicks, one-shot timers) is delivered
// from inside ProcessEvents, possibly nested inside an event handler.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace qv {

class EventLoop {
 public:
  using Callback = std::function<void()>;
  static constexpr int64_t kWaitForever = -1;

  virtual ~EventLoop() = default;

  // Milliseconds on a monotonic clock (never jumps back, ignores midnight and
  // wall-clock changes).
  virtual int64_t NowMs() const = 0;

  // One pass: runs the timers that are due and the input that is ready. When
  // nothing is due, waits up to maxWaitMs (0: no wait; kWaitForever: until
  // something happens) for the first of them, then runs it.
  void ProcessEvents(int64_t maxWaitMs = 0);

  // Repeating timers: the callback runs every intervalMs until the timer is
  // removed. A timer's callback never runs nested inside itself.
  int AddTimer(int64_t intervalMs, Callback cb);
  void RemoveTimer(int id);
  bool HasTimer(int id) const { return timers_.count(id) != 0; }

  // Input sources (POSIX file descriptors; unused on Windows).
  virtual void WatchFd(int fd, Callback onReadable);
  virtual void UnwatchFd(int fd);

 protected:
  // Waits for input up to timeoutMs (kWaitForever: no limit) and runs what is
  // ready; returns true when something ran. A loop without input sources
  // simply lets the time pass.
  virtual bool WaitForInput(int64_t timeoutMs) = 0;
  // Runs the input that is ready now, without waiting.
  virtual bool PollInput() { return WaitForInput(0); }
  // Called whenever the next due time may have changed (a timer added,
  // removed or run), for loops that mirror the queue in a platform timer.
  virtual void TimersChanged() {}

  struct Timer {
    int64_t interval;
    int64_t due;
    Callback cb;
    bool running = false;
  };
  // Runs due timers; returns true when one ran.
  bool RunDueTimers();
  // Milliseconds until the next timer is due (kWaitForever when none).
  int64_t MsToNextTimer() const;

  std::map<int, Timer> timers_;
  int nextTimerId_ = 1;
};

// A loop whose clock only moves when it waits: tests of 250/500/1000/2000 ms
// behaviour run in microseconds and always the same way. Waiting with nothing
// scheduled would never end, so it throws instead of hanging the test.
class VirtualEventLoop : public EventLoop {
 public:
  explicit VirtualEventLoop(int64_t startMs = 0) : now_(startMs) {}
  int64_t NowMs() const override { return now_; }
  void Advance(int64_t ms) { now_ += ms; }

 protected:
  bool WaitForInput(int64_t timeoutMs) override;

 private:
  int64_t now_;
};

// The loop of the running process (set by the program entry or by a test).
EventLoop& Loop();
void SetLoop(EventLoop* loop);
// The platform's own loop (poll() on POSIX, the message queue on Windows).
std::unique_ptr<EventLoop> MakePlatformLoop();

// A VB-style timer of the hidden owner: fires every Interval ms while Enabled.
// The workflows use them as one-shot timers by disabling them in the handler.
class UiTimer {
 public:
  UiTimer(int64_t intervalMs, EventLoop::Callback onTimer)
      : interval_(intervalMs), onTimer_(std::move(onTimer)) {}
  ~UiTimer() { SetEnabled(false); }
  UiTimer(const UiTimer&) = delete;
  UiTimer& operator=(const UiTimer&) = delete;

  void SetEnabled(bool enabled);
  bool Enabled() const { return id_ != 0; }
  int64_t Interval() const { return interval_; }

 private:
  int64_t interval_;
  EventLoop::Callback onTimer_;
  int id_ = 0;
  EventLoop* loop_ = nullptr;
};

// Processes the pending UI events count + 1 times in a row.
void PumpEvents(int16_t count);
// Processes UI events until `ms` milliseconds have passed since the call; the
// time is tested before each pass. Measured on the monotonic clock, so it also
// ends when the wall clock passes midnight or is set back.
void WaitMs(float ms);

}  // namespace qv
