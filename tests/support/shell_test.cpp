#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "support/modShellExtended.h"
#include "tempdir.h"

namespace qv {
namespace {

TEST(ShellSplit, QuotedProgramKeepsItsClosingQuote) {
  auto t = SplitShellTarget("\"C:\\Program Files\\App\\app.exe\" -x");
  EXPECT_EQ(t.file, "\"C:\\Program Files\\App\\app.exe\"");
  EXPECT_EQ(t.parameters, "-x");
}

TEST(ShellSplit, ProgramWithoutArgumentsIsOpenedWhole) {
  EXPECT_EQ(SplitShellTarget("C:\\Tools\\app.exe").file, "C:\\Tools\\app.exe");
  EXPECT_EQ(SplitShellTarget("C:\\Tools\\app.exe").parameters, "");
  // One character after ".exe" only: nothing remains for the parameters.
  EXPECT_EQ(SplitShellTarget("C:\\Tools\\app.exe ").file, "C:\\Tools\\app.exe ");
  EXPECT_EQ(SplitShellTarget("C:\\Tools\\app.exe ").parameters, "");
}

TEST(ShellSplit, UnquotedProgramTakesTheBlankAndTrimsTheArguments) {
  auto t = SplitShellTarget("C:\\TOOLS\\APP.EXE   -a -b  ");
  EXPECT_EQ(t.file, "C:\\TOOLS\\APP.EXE ");
  EXPECT_EQ(t.parameters, "-a -b");
  t = SplitShellTarget("C:\\x.exe.d\\y.Exe /q");  // the last ".exe" counts
  EXPECT_EQ(t.file, "C:\\x.exe.d\\y.Exe ");
  EXPECT_EQ(t.parameters, "/q");
  t = SplitShellTarget("C:\\a.exeé b");  // never half a character
  EXPECT_EQ(t.file, "C:\\a.exeé");
  EXPECT_EQ(t.parameters, "b");
}

TEST(ShellSplit, ShortcutsFoldersAndDocumentsAreOpenedWhole) {
  for (const char* target : {"C:\\Links\\setup.exe tool.LNK", "C:\\Data", "C:\\Data\\été.txt", "",
                             "/home/anne/Données"}) {
    auto t = SplitShellTarget(target);
    EXPECT_EQ(t.file, target);
    EXPECT_EQ(t.parameters, "");
  }
}

TEST(ShellSplit, WorkingDirectoryIsTheParentWithoutQuotes) {
  EXPECT_EQ(ShellWorkingDirectory("C:\\Data", '\\'), "C:");
  EXPECT_EQ(ShellWorkingDirectory("\"C:\\Program Files\\App\\app.exe\"", '\\'), "C:\\Program Files\\App");
  EXPECT_EQ(ShellWorkingDirectory("app.exe", '\\'), "");
  EXPECT_EQ(ShellWorkingDirectory("/home/anne/Données", '/'), "/home/anne");
}

class ShellOpenTest : public testing::Test {
 protected:
  void TearDown() override { SetShellExecuteHook(nullptr); }
};

TEST_F(ShellOpenTest, HookReceivesTheRequestAndItsAnswerIsTheResult) {
  std::vector<ShellRequest> seen;
  SetShellExecuteHook([&](const ShellRequest& r) -> intptr_t {
    seen.push_back(r);
    return r.extended ? 1234 : 42;
  });
  EXPECT_EQ(ShellOpen("/home/anne/Données", SW_SHOWNORMAL_, false), 42.0);
  EXPECT_EQ(ShellOpen("/opt/app.exe -v", SW_HIDE_, true), 1234.0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].file, "/home/anne/Données");
  EXPECT_EQ(seen[0].parameters, "");
  EXPECT_EQ(seen[0].verb, "open");
  EXPECT_EQ(seen[0].directory, "/home/anne");
  EXPECT_EQ(seen[0].show, SW_SHOWNORMAL_);
  EXPECT_FALSE(seen[0].extended);
  EXPECT_EQ(seen[1].file, "/opt/app.exe ");
  EXPECT_EQ(seen[1].parameters, "-v");
  EXPECT_TRUE(seen[1].extended);
}

TEST_F(ShellOpenTest, FailingHookIsAResultNotAnException) {
  SetShellExecuteHook([](const ShellRequest&) -> intptr_t { throw std::runtime_error("x"); });
  EXPECT_EQ(ShellOpen("/x", 1, false), 0.0);
  EXPECT_EQ(ShellOpen("/x", 1, true), -1.0);
}

TEST_F(ShellOpenTest, WithoutADesktopNothingStarts) {
  test::TempDir dir;
  test::WriteText(dir / "xdg-open", "#!/bin/sh\necho \"$1\" > \"" + (dir / "opened") + "\"\n");
  ::chmod((dir / "xdg-open").c_str(), 0755);
  ::setenv("PATH", dir.path().c_str(), 1);
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  EXPECT_LE(ShellOpen(dir.path(), SW_SHOWNORMAL_, false), 32.0);
  EXPECT_EQ(ShellOpen(dir.path(), SW_SHOWNORMAL_, true), 0.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(std::filesystem::exists(dir / "opened"));
}

TEST_F(ShellOpenTest, FolderOpensInTheBackgroundWithoutZombie) {
  test::TempDir dir;
  // A handler that takes its time: the call must not wait for it.
  test::WriteText(dir / "xdg-open",
                  "#!/bin/sh\nsleep 1\necho \"$1\" > \"" + (dir / "opened.tmp") + "\"\nmv \"" +
                      (dir / "opened.tmp") + "\" \"" + (dir / "opened") + "\"\n");
  ::chmod((dir / "xdg-open").c_str(), 0755);
  ::setenv("PATH", (dir.path() + ":/usr/bin:/bin").c_str(), 1);
  ::setenv("DISPLAY", ":99", 1);
  const std::string folder = dir / "Dossier été";
  std::filesystem::create_directory(folder);
  auto start = std::chrono::steady_clock::now();
  EXPECT_GT(ShellOpen(folder, SW_SHOWNORMAL_, false), 32.0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800));
  EXPECT_FALSE(std::filesystem::exists(dir / "opened"));
  int status;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);  // nothing of ours left to reap
  EXPECT_EQ(errno, ECHILD);
  for (int i = 0; i < 100 && !std::filesystem::exists(dir / "opened"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(test::ReadText(dir / "opened"), folder + "\n");
}

TEST_F(ShellOpenTest, MissingHandlerIsAFailure) {
  test::TempDir dir;
  ::setenv("PATH", dir.path().c_str(), 1);
  ::setenv("DISPLAY", ":99", 1);
  EXPECT_LE(ShellOpen(dir.path(), SW_SHOWNORMAL_, false), 32.0);
  EXPECT_EQ(ShellOpen(dir.path(), SW_SHOWNORMAL_, true), 0.0);
}

TEST(Shell, IsWow64IsFalseOffWindows) { EXPECT_FALSE(IsWow64()); }

}  // namespace
}  // namespace qv
