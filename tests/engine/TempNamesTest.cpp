#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/TempNames.h"
#include "../support/tempdir.h"

using namespace qv::tempnames;

TEST(TempNames, ShortOwnPatternCarryingTheProcess) {
  std::string a = New(), b = New();
  EXPECT_NE(a, b);
  EXPECT_LE(a.size(), 32u);
  ASSERT_TRUE(OwnerOf(a).has_value());
  EXPECT_EQ(*OwnerOf(a), CurrentProcess());
  // Names that merely look alike are not ours.
  for (const char* n : {"x.tmp", ".qv-abcdefgh.tmp", ".qv12-abcdefg.tmp", ".qv12-ABCDEFGH.tmp",
                        ".qvzz-abcdefgh.tmp", ".qv12-abcdefgh.tmpx", "qv12-abcdefgh.tmp",
                        ".qv12345678901234567-abcdefgh.tmp"})
    EXPECT_FALSE(OwnerOf(n).has_value()) << n;
}

TEST(TempNames, OnlyFilesOfEndedProcessesAreRemoved) {
  qv::test::TempDir dir;
  // A process that has certainly ended: a child we waited for.
  pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_FALSE(ProcessAlive(static_cast<uint64_t>(child)));
  EXPECT_TRUE(ProcessAlive(CurrentProcess()));
  EXPECT_TRUE(ProcessAlive(1));  // init: alive, whoever owns it

  char hex[32];
  snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(child));
  auto path = [&](const std::string& n) { return dir.path() + "/" + n; };
  const std::string stale = ".qv" + std::string(hex) + "-abcdefgh.tmp";
  const std::string mine = New();
  const std::string init = ".qv1-abcdefgh.tmp";
  for (const std::string& n : {stale, mine, init, std::string("keep.txt")})
    std::ofstream(path(n)) << "x";
  // A folder of that pattern is someone's data, not our leftover.
  const std::string staleDir = ".qv" + std::string(hex) + "-zzzzzzzz.tmp";
  std::filesystem::create_directory(path(staleDir));

  EXPECT_EQ(RemoveStale(dir.path()), 1);
  EXPECT_FALSE(std::filesystem::exists(path(stale)));
  EXPECT_TRUE(std::filesystem::exists(path(mine)));
  EXPECT_TRUE(std::filesystem::exists(path(init)));
  EXPECT_TRUE(std::filesystem::exists(path("keep.txt")));
  EXPECT_TRUE(std::filesystem::is_directory(path(staleDir)));
}
