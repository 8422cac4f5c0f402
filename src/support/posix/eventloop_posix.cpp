#include <poll.h>
#include <time.h>

#include <cerrno>
#include <map>
#include <vector>

#include "support/eventloop.h"

namespace qv {
namespace {

class PosixEventLoop : public EventLoop {
 public:
  int64_t NowMs() const override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }
  void WatchFd(int fd, Callback onReadable) override { fds_[fd] = std::move(onReadable); }
  void UnwatchFd(int fd) override { fds_.erase(fd); }

 protected:
  bool WaitForInput(int64_t timeoutMs) override {
    std::vector<pollfd> pfds;
    for (auto& [fd, cb] : fds_) pfds.push_back(pollfd{fd, POLLIN, 0});
    int timeout = timeoutMs == kWaitForever ? -1 : static_cast<int>(timeoutMs);
    int n = poll(pfds.data(), pfds.size(), timeout);
    if (n <= 0) return false;  // timeout, or EINTR (a signal handler ran)
    bool ran = false;
    for (auto& p : pfds) {
      if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      auto it = fds_.find(p.fd);
      if (it == fds_.end()) continue;  // unwatched by an earlier callback
      Callback cb = it->second;
      cb();
      ran = true;
    }
    return ran;
  }

 private:
  std::map<int, Callback> fds_;
};

}  // namespace

std::unique_ptr<EventLoop> MakePlatformLoop() { return std::make_unique<PosixEventLoop>(); }

}  // namespace qv
