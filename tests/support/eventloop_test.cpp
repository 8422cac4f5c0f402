#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/eventloop.h"

namespace qv {
namespace {

// Counts the passes of event processing.
class CountingLoop : public VirtualEventLoop {
 public:
  using VirtualEventLoop::VirtualEventLoop;
  int passes = 0;

 protected:
  bool PollInput() override {
    ++passes;
    return false;
  }
};

class LoopTest : public testing::Test {
 protected:
  void SetUp() override { SetLoop(&loop_); }
  void TearDown() override { SetLoop(nullptr); }
  int64_t Now() const { return loop_.NowMs(); }
  CountingLoop loop_{1000};
};

TEST_F(LoopTest, WaitMsEndsAfterExactlyTheTimeAsked) {
  for (float ms : {250.f, 500.f, 1000.f, 2000.f}) {
    int64_t start = Now();
    WaitMs(ms);
    EXPECT_EQ(Now() - start, static_cast<int64_t>(ms));
  }
}

TEST_F(LoopTest, WaitMsThatHasRunOutMakesNoPass) {
  bool ran = false;
  loop_.AddTimer(1, [&] { ran = true; });
  loop_.Advance(5);  // the timer is due
  for (float ms : {0.f, -3.f, NAN}) {
    WaitMs(ms);
    EXPECT_EQ(loop_.passes, 0);
    EXPECT_FALSE(ran);
  }
  WaitMs(0.5f);
  EXPECT_TRUE(ran);
}

TEST_F(LoopTest, WaitAcrossMidnightEndsAfterTheRightTime) {
  VirtualEventLoop late(23 * 3600000 + 59 * 60000 + 59500);  // 23:59:59.5
  SetLoop(&late);
  std::vector<int64_t> fired;
  UiTimer t(250, [&] { fired.push_back(late.NowMs()); });
  t.SetEnabled(true);
  WaitMs(1000);
  EXPECT_EQ(late.NowMs(), 86400500);
  EXPECT_EQ(fired, (std::vector<int64_t>{86399750, 86400000, 86400250, 86400500}));
}

TEST_F(LoopTest, PumpEventsMakesCountPlusOnePassesWithoutTime) {
  PumpEvents(20);
  EXPECT_EQ(loop_.passes, 21);
  PumpEvents(0);
  EXPECT_EQ(loop_.passes, 22);
  EXPECT_EQ(Now(), 1000);
}

TEST_F(LoopTest, OneShotTimerDisablingItselfFiresOnce) {
  std::vector<int64_t> fired;
  UiTimer* self = nullptr;
  UiTimer tzip(250, [&] {
    self->SetEnabled(false);
    fired.push_back(Now());
  });
  self = &tzip;
  tzip.SetEnabled(true);
  WaitMs(2000);
  EXPECT_EQ(fired, std::vector<int64_t>{1250});
  EXPECT_FALSE(tzip.Enabled());
}

TEST_F(LoopTest, EnabledTimerRepeatsAndReEnablingRestartsTheInterval) {
  std::vector<int64_t> fired;
  UiTimer t(500, [&] { fired.push_back(Now()); });
  t.SetEnabled(true);
  WaitMs(2000);
  EXPECT_EQ(fired, (std::vector<int64_t>{1500, 2000, 2500, 3000}));
  fired.clear();
  WaitMs(400);
  t.SetEnabled(false);
  t.SetEnabled(true);  // at 3400: next at 3900, not 3500
  WaitMs(400);
  EXPECT_TRUE(fired.empty());
  WaitMs(100);
  EXPECT_EQ(fired, std::vector<int64_t>{3900});
}

TEST_F(LoopTest, NestedWaitInsideATimerKeepsOtherTimersRunning) {
  std::vector<int64_t> ticks;
  int64_t closeStart = 0, closeEnd = 0;
  UiTimer dialogTimer(200, [&] { ticks.push_back(Now()); });
  UiTimer* self = nullptr;
  UiTimer tclose(500, [&] {
    self->SetEnabled(false);
    closeStart = Now();
    WaitMs(1000);
    closeEnd = Now();
  });
  self = &tclose;
  dialogTimer.SetEnabled(true);
  tclose.SetEnabled(true);
  WaitMs(2000);
  EXPECT_EQ(closeStart, 1500);
  EXPECT_EQ(closeEnd, 2500);
  EXPECT_EQ(Now(), 3000);
  EXPECT_EQ(ticks, (std::vector<int64_t>{1200, 1400, 1600, 1800, 2000, 2200, 2400, 2600, 2800, 3000}));
}

TEST_F(LoopTest, TimerNeverRunsNestedInsideItself) {
  int depth = 0, maxDepth = 0, runs = 0;
  UiTimer t(100, [&] {
    ++runs;
    maxDepth = std::max(maxDepth, ++depth);
    if (runs == 1) WaitMs(350);
    --depth;
  });
  t.SetEnabled(true);
  WaitMs(1000);
  EXPECT_EQ(maxDepth, 1);
  EXPECT_GE(runs, 2);
}

TEST_F(LoopTest, DestroyedTimerNeverFires) {
  bool fired = false;
  {
    UiTimer t(250, [&] { fired = true; });
    t.SetEnabled(true);
  }
  WaitMs(1000);
  EXPECT_FALSE(fired);
}

}  // namespace
}  // namespace qv
