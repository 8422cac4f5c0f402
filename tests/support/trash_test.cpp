#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "support/modOperationFichier.h"
#include "tempdir.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

// GLib reads HOME and XDG_DATA_HOME once per process: each case runs in a child
// with its own. Returns the child's answer.
bool TrashInChild(const std::string& home, const std::string& dataHome, const std::string& path) {
  pid_t pid = fork();
  if (pid == 0) {
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    _exit(DeleteToRecycleBin(path, false) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(Trash, FolderWithItsContentGoesToTheTrash) {
  test::TempDir dir;
  fs::create_directories(dir / "home");
  test::WriteText(dir / "photos été/a.jpg", "image");
  test::WriteText(dir / "photos été/sous/b.jpg", "image b");
  ASSERT_TRUE(TrashInChild(dir / "home", dir / "data", dir / "photos été"));
  EXPECT_FALSE(fs::exists(dir / "photos été"));
  EXPECT_EQ(test::ReadText(dir / "data/Trash/files/photos été/sous/b.jpg"), "image b");
  std::string info = test::ReadText(dir / "data/Trash/info/photos été.trashinfo");
  EXPECT_NE(info.find("[Trash Info]"), std::string::npos);
  EXPECT_NE(info.find("DeletionDate="), std::string::npos);
}

TEST(Trash, AFileGoesToTheTrashToo) {
  test::TempDir dir;
  fs::create_directories(dir / "home");
  test::WriteText(dir / "f.zip", "zip");
  ASSERT_TRUE(TrashInChild(dir / "home", dir / "data", dir / "f.zip"));
  EXPECT_FALSE(fs::exists(dir / "f.zip"));
  EXPECT_EQ(test::ReadText(dir / "data/Trash/files/f.zip"), "zip");
}

TEST(Trash, WhenTheTrashCannotTakeItNothingIsDeleted) {
  test::TempDir dir;
  fs::create_directories(dir / "home");
  test::WriteText(dir / "photos/a.jpg", "image");
  test::WriteText(dir / "blocked", "a file where the trash folder should go");
  EXPECT_FALSE(TrashInChild(dir / "home", dir / "blocked/data", dir / "photos"));
  EXPECT_EQ(test::ReadText(dir / "photos/a.jpg"), "image");
  EXPECT_FALSE(TrashInChild(dir / "home", dir / "data", dir / "absent"));
  EXPECT_FALSE(TrashInChild(dir / "home", dir / "data", ""));
}

}  // namespace
}  // namespace qv
