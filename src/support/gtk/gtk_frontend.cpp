#include "support/gtk/gtk_frontend.h"

#include <adwaita.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "support/eventloop.h"

namespace qv {
namespace {

// The run's loop on the GLib main context. The timer queue of EventLoop stays
// the one source of truth (workflows enable and disable UiTimers freely);
// it is mirrored in a single GLib timeout so that the timers also fire in any
// iteration of the context, and a wait is one blocking iteration bounded by a
// timeout of its own. A timer's handler (TZip runs the whole engine call)
// waits and pumps inside its own dispatch: every wait and every re-arm is a
// fresh source, so nothing is held back while that dispatch lasts.
class GlibEventLoop : public EventLoop {
 public:
  GlibEventLoop() : context_(g_main_context_default()) {}
  ~GlibEventLoop() override {
    DropMirror();
    for (auto& [fd, id] : fds_) g_source_remove(id);
  }

  int64_t NowMs() const override { return g_get_monotonic_time() / 1000; }

  void WatchFd(int fd, Callback onReadable) override {
    UnwatchFd(fd);
    auto* watch = new Callback(std::move(onReadable));
    guint id = g_unix_fd_add_full(
        G_PRIORITY_DEFAULT, fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
        [](gint, GIOCondition, gpointer data) -> gboolean {
          Callback cb = *static_cast<Callback*>(data);  // the watch may go in cb
          cb();
          return G_SOURCE_CONTINUE;
        },
        watch, [](gpointer data) { delete static_cast<Callback*>(data); });
    fds_[fd] = id;
  }
  void UnwatchFd(int fd) override {
    auto it = fds_.find(fd);
    if (it == fds_.end()) return;
    g_source_remove(it->second);
    fds_.erase(it);
  }

 protected:
  bool WaitForInput(int64_t timeoutMs) override {
    if (timeoutMs == 0) return g_main_context_iteration(context_, FALSE);
    bool woke = false;
    GSource* wake = nullptr;
    if (timeoutMs != kWaitForever) {
      wake = g_timeout_source_new(static_cast<guint>(timeoutMs));
      g_source_set_can_recurse(wake, TRUE);
      g_source_set_callback(
          wake,
          [](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
          },
          &woke, nullptr);
      g_source_attach(wake, context_);
    }
    const bool ran = g_main_context_iteration(context_, TRUE);
    if (wake) {
      g_source_destroy(wake);
      g_source_unref(wake);
    }
    return ran && !woke;
  }

  void TimersChanged() override {
    DropMirror();
    const int64_t ms = MsToNextTimer();
    if (ms == kWaitForever) return;
    mirror_ = g_timeout_source_new(static_cast<guint>(ms));
    g_source_set_can_recurse(mirror_, TRUE);
    g_source_set_callback(
        mirror_,
        [](gpointer data) -> gboolean {
          auto* self = static_cast<GlibEventLoop*>(data);
          // This source ends here; the timers re-arm a new one.
          self->DropMirror();
          self->RunDueTimers();
          self->TimersChanged();
          return G_SOURCE_REMOVE;
        },
        this, nullptr);
    g_source_attach(mirror_, context_);
  }

 private:
  void DropMirror() {
    if (!mirror_) return;
    g_source_destroy(mirror_);
    g_source_unref(mirror_);
    mirror_ = nullptr;
  }

  GMainContext* context_;
  GSource* mirror_ = nullptr;
  std::map<int, guint> fds_;
};

bool g_active = false;

}  // namespace

bool StartGtkFrontEnd(const std::string& programName) {
  if (g_active) return true;
  if (!programName.empty() && !g_get_prgname()) g_set_prgname(programName.c_str());
  if (!gtk_init_check()) return false;
  adw_init();
  // Lives as long as the process: the last dialog may close while the
  // process is already ending from inside a nested handler.
  static std::unique_ptr<EventLoop> loop = MakeGlibEventLoop();
  SetLoop(loop.get());
  g_active = true;
  return true;
}

bool GtkFrontEndActive() { return g_active; }

std::unique_ptr<EventLoop> MakeGlibEventLoop() { return std::make_unique<GlibEventLoop>(); }

}  // namespace qv
