#include <glib.h>
#include <gtest/gtest.h>

#include <memory>

#include "support/eventloop.h"
#include "support/gtk/gtk_frontend.h"

namespace qv {
namespace {

class GlibLoopTest : public testing::Test {
 protected:
  void SetUp() override {
    loop_ = MakeGlibEventLoop();
    SetLoop(loop_.get());
  }
  void TearDown() override {
    SetLoop(nullptr);
    loop_.reset();
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }
  // Iterates the context alone, as GTK's own nested loops do, until `done`
  // or the deadline.
  static bool IterateUntil(const bool& done, int64_t ms) {
    // The deadline is a source of its own: a blocking iteration with nothing
    // else scheduled would never return.
    bool late = false;
    guint deadline = g_timeout_add(static_cast<guint>(ms), [](gpointer p) -> gboolean {
      *static_cast<bool*>(p) = true;
      return G_SOURCE_REMOVE;
    }, &late);
    while (!done && !late) g_main_context_iteration(nullptr, TRUE);
    if (!late) g_source_remove(deadline);
    return done;
  }
  std::unique_ptr<EventLoop> loop_;
};

TEST_F(GlibLoopTest, TimersFireWhenOnlyTheContextIterates) {
  bool fired = false;
  int id = Loop().AddTimer(30, [&] { fired = true; });
  EXPECT_TRUE(IterateUntil(fired, 2000));
  Loop().RemoveTimer(id);
}

// The workflows' shape: a one-shot timer runs the engine and, inside, waits
// and pumps; the dialog timer and the cancel timer fire there, nested, and a
// nested GLib loop (a GTK dialog's) sees them too.
TEST_F(GlibLoopTest, TimersFireInsideTheWaitsOfAnotherTimer) {
  int ticks = 0;
  bool closeFired = false, nestedFired = false;
  int64_t waited = -1;
  int tick = 0, close = 0;
  bool outerDone = false;
  int outer = Loop().AddTimer(10, [&] {
    Loop().RemoveTimer(outer);
    tick = Loop().AddTimer(20, [&] { ++ticks; });
    close = Loop().AddTimer(100, [&] {
      Loop().RemoveTimer(close);
      closeFired = true;
    });
    const int64_t start = Loop().NowMs();
    WaitMs(300);
    waited = Loop().NowMs() - start;
    int nested = Loop().AddTimer(20, [&] { nestedFired = true; });
    IterateUntil(nestedFired, 2000);
    Loop().RemoveTimer(nested);
    Loop().RemoveTimer(tick);
    outerDone = true;
  });
  while (!outerDone) Loop().ProcessEvents(EventLoop::kWaitForever);
  EXPECT_TRUE(closeFired);
  EXPECT_GE(ticks, 5);
  EXPECT_GE(waited, 300);
  EXPECT_LT(waited, 1000);
  EXPECT_TRUE(nestedFired);
}

// A wait with nothing else to do still ends on time: the wait's own timeout
// wakes the blocking iteration.
TEST_F(GlibLoopTest, WaitMsEndsWithNothingScheduled) {
  const int64_t start = Loop().NowMs();
  WaitMs(150);
  const int64_t took = Loop().NowMs() - start;
  EXPECT_GE(took, 150);
  EXPECT_LT(took, 1000);
}

}  // namespace
}  // namespace qv
