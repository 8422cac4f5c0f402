#include <gtest/gtest.h>

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
