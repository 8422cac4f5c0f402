#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/modMain.h"
#include "support/modQuorvelRegSettings.h"
#include "support/process.h"

namespace qv {
namespace {

class EndTest : public testing::Test {
 protected:
  void SetUp() override { ThrowOnEndProcess(); }
  void TearDown() override {
    RunCleanups();
    SetEndProcessHandler(nullptr);
  }
};

TEST_F(EndTest, EndProcessRunsEveryCleanupLastFirst) {
  std::vector<int> order;
  AddCleanup([&] { order.push_back(1); });
  int removed = AddCleanup([&] { order.push_back(2); });
  AddCleanup([&] { throw std::runtime_error("disque plein"); });
  AddCleanup([&] { order.push_back(4); });
  RemoveCleanup(removed);
  try {
    EndProcess(kExitCancelled);
    FAIL() << "EndProcess returned";
  } catch (const ProcessEnded& e) {
    EXPECT_EQ(e.code, kExitCancelled);
  }
  EXPECT_EQ(order, (std::vector<int>{4, 1}));
  RunCleanups();  // nothing left to run twice
  EXPECT_EQ(order.size(), 2u);
}

TEST_F(EndTest, EarlyCleanupsRunFirstAndMayWaitForThreadsThatRemoveTheirs) {
  std::vector<int> order;
  int fromThread = 0;
  // Registered first, run first all the same: it stops what the later
  // cleanups clean after.
  AddEarlyCleanup([&] {
    order.push_back(0);
    // A worker that ends and forgets its own cleanup while this one waits.
    std::thread worker([&] { RemoveCleanup(fromThread); });
    worker.join();
  });
  fromThread = AddCleanup([&] { order.push_back(1); });
  AddCleanup([&] { order.push_back(2); });
  EXPECT_THROW(EndProcess(kExitCancelled), ProcessEnded);
  EXPECT_EQ(order, (std::vector<int>{0, 2}));
}

TEST_F(EndTest, CleanupsComeAndGoFromManyThreads) {
  std::vector<std::thread> threads;
  for (int w = 0; w < 4; ++w)
    threads.emplace_back([] {
      for (int i = 0; i < 20000; ++i) RemoveCleanup(AddCleanup([] {}));
    });
  for (auto& th : threads) th.join();
  int ran = 0;
  AddCleanup([&] { ++ran; });
  RunCleanups();
  EXPECT_EQ(ran, 1);
}

TEST_F(EndTest, MainReturnsWhenTheLoadHandlerReturns) {
  bool ran = false;
  EXPECT_EQ(Main([&] { ran = true; }), kExitDone);
  EXPECT_TRUE(ran);
}

TEST_F(EndTest, MainShowsAnUncaughtNumberedErrorAndEndsFailed) {
  bool cleaned = false;
  AddCleanup([&] { cleaned = true; });
  testing::internal::CaptureStderr();
  try {
    Main([] { SaveSettingString(" ", "Data", "LastDir", "x"); });
    FAIL() << "Main returned";
  } catch (const ProcessEnded& e) {
    EXPECT_EQ(e.code, kExitFailed);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "AppName doit être renseigné\n");
  EXPECT_TRUE(cleaned);
}

TEST(MainDeathTest, UncaughtNumberedErrorEndsTheProcessWithItsDescription) {
  EXPECT_EXIT(Main([] { throw NumberedError(ErrorNumber(1001), "t", "Section doit être renseigné"); }),
              testing::ExitedWithCode(kExitFailed), "Section doit être renseigné");
}

TEST(CommandLine, ArgumentsAreJoinedBySingleBlanks) {
  char a0[] = "Quorvelpack", a1[] = "§/home/anne/Mes", a2[] = "photos";
  char* argv[] = {a0, a1, a2, nullptr};
  EXPECT_EQ(CommandLineText(3, argv), "§/home/anne/Mes photos");
  EXPECT_EQ(CommandLineText(1, argv), "");
}

TEST(CommandLine, RawTextAfterTheProgramNameKeepsQuotesAndInnerBlanks) {
  EXPECT_EQ(TextAfterProgramName("\"C:\\Program Files\\Q\\Quorvelpack.exe\" §\"C:\\Mes  photos\" "),
            "§\"C:\\Mes  photos\" ");
  EXPECT_EQ(TextAfterProgramName("Quorvelunpack.exe \t  #C:\\a.zip"), "#C:\\a.zip");
  EXPECT_EQ(TextAfterProgramName("\"C:\\Q\\Quorvelpack.exe\"C:\\Data"), "C:\\Data");
  EXPECT_EQ(TextAfterProgramName("Quorvelpack.exe"), "");
  EXPECT_EQ(TextAfterProgramName("\"C:\\non fermé"), "");
  EXPECT_EQ(TextAfterProgramName(""), "");
}

}  // namespace
}  // namespace qv
