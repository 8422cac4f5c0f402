#include <gtest/gtest.h>

#include <filesystem>

#include "support/longpath.h"
#include "support/modOperationFichier.h"
#include "tempdir.h"

namespace qv {
namespace {

// The cases are written with "\"; each runs with "\" and with "/".
class PathText : public testing::TestWithParam<char> {
 protected:
  std::string P(std::string s) const {
    for (char& c : s)
      if (c == '\\') c = GetParam();
    return s;
  }
  char sep() const { return GetParam(); }
};

TEST_P(PathText, RemoveTrailingBackslashDropsBlanksThenOneSeparator) {
  std::string path = P("C:\\Data\\photos\\  ");
  EXPECT_EQ(RemoveTrailingBackslash(path, sep()), P("C:\\Data\\photos"));
  EXPECT_EQ(path, P("C:\\Data\\photos"));  // written back

  path = P("D:\\");
  EXPECT_EQ(RemoveTrailingBackslash(path, sep()), "D:");
  path = P("C:\\a\\\\");
  EXPECT_EQ(RemoveTrailingBackslash(path, sep()), P("C:\\a\\"));
  path = P("  C:\\a\\ ");
  EXPECT_EQ(RemoveTrailingBackslash(path, sep()), P("  C:\\a"));
  path = "";
  EXPECT_EQ(RemoveTrailingBackslash(path, sep()), "");
}

TEST_P(PathText, AddTrailingBackslashAppendsOnlyWhenMissing) {
  std::string path = P("C:\\Data\\photos");
  EXPECT_EQ(AddTrailingBackslash(path, sep()), P("C:\\Data\\photos\\"));
  EXPECT_EQ(path, P("C:\\Data\\photos\\"));
  EXPECT_EQ(AddTrailingBackslash(path, sep()), P("C:\\Data\\photos\\"));
  path = P("C:\\a\\  ");
  EXPECT_EQ(AddTrailingBackslash(path, sep()), P("C:\\a\\"));
  path = "";
  EXPECT_EQ(AddTrailingBackslash(path, sep()), P("\\"));
}

TEST_P(PathText, ParentFolderIsTheTextBeforeTheLastSeparator) {
  EXPECT_EQ(GetParentFolder(P("C:\\a\\b"), sep()), P("C:\\a"));
  EXPECT_EQ(GetParentFolder(P("C:\\a"), sep()), "C:");
  EXPECT_EQ(GetParentFolder(P("C:\\"), sep()), "C:");
  EXPECT_EQ(GetParentFolder("D:", sep()), "");
  EXPECT_EQ(GetParentFolder(P("\\\\server\\share"), sep()), P("\\\\server"));
  EXPECT_EQ(GetParentFolder("photos", sep()), "");
  EXPECT_EQ(GetParentFolder("", sep()), "");
}

TEST_P(PathText, FileNameIsTheTextAfterTheLastSeparator) {
  EXPECT_EQ(GetFileName(P("C:\\Data\\photos.zip"), sep()), "photos.zip");
  EXPECT_EQ(GetFileName("photos.zip", sep()), "photos.zip");
  EXPECT_EQ(GetFileName(P("C:\\Data\\"), sep()), "");
  EXPECT_EQ(GetFileName(P("C:\\Données\\été.zip"), sep()), "été.zip");
  EXPECT_EQ(GetFileName("", sep()), "");
}

INSTANTIATE_TEST_SUITE_P(Separators, PathText, testing::Values('\\', '/'),
                         [](const auto& info) { return info.param == '/' ? "slash" : "backslash"; });

TEST(PathText, TheOtherSeparatorIsPlainText) {
  EXPECT_EQ(GetFileName("a\\b", '/'), "a\\b");
  EXPECT_EQ(GetParentFolder("a/b", '\\'), "");
  std::string p = "C:/a/";
  EXPECT_EQ(RemoveTrailingBackslash(p, '\\'), "C:/a/");
}

TEST(FileOps, FileExistsAnswersFalseOnEveryError) {
  test::TempDir dir;
  test::WriteText(dir / "f.zip", "x");
  test::WriteText(dir / "vide", "");
  EXPECT_TRUE(FileExists(dir / "f.zip"));
  EXPECT_TRUE(FileExists(dir / "vide"));
  EXPECT_FALSE(FileExists(dir / "absent.zip"));
  EXPECT_FALSE(FileExists(dir / "absent/f.zip"));
  EXPECT_FALSE(FileExists(dir / "f.zip/x"));
  EXPECT_FALSE(FileExists(""));
}

TEST(FileOps, DeleteFileRemovesOneFileAndIgnoresErrors) {
  test::TempDir dir;
  test::WriteText(dir / "f.zip", "x");
  test::WriteText(dir / "sub/keep", "x");
  DeleteFile(dir / "f.zip");
  EXPECT_FALSE(std::filesystem::exists(dir / "f.zip"));
  DeleteFile(dir / "f.zip");      // already gone: nothing happens
  DeleteFile(dir / "none/f.zip");
  DeleteFile(dir / "sub");        // a folder is not a file
  DeleteFile("");
  EXPECT_TRUE(std::filesystem::exists(dir / "sub/keep"));
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST(LongPathForm, AbsolutePathsTakeTheFormWithoutALengthLimit) {
  EXPECT_EQ(LongPathForm("C:\\Data\\photos"), "\\\\?\\C:\\Data\\photos");
  EXPECT_EQ(LongPathForm("c:/Data/./x/../photos/"), "\\\\?\\c:\\Data\\photos\\");
  EXPECT_EQ(LongPathForm("C:\\..\\..\\x"), "\\\\?\\C:\\x");  // never above the root
  EXPECT_EQ(LongPathForm("C:\\"), "\\\\?\\C:\\");
  EXPECT_EQ(LongPathForm("\\\\srv\\share\\a\\b.zip"), "\\\\?\\UNC\\srv\\share\\a\\b.zip");
  EXPECT_EQ(LongPathForm("\\\\srv\\share"), "\\\\?\\UNC\\srv\\share");
  std::string deep = "D:\\" + std::string(300, 'a') + "\\L’été € 🎉.txt";
  EXPECT_EQ(LongPathForm(deep), "\\\\?\\" + deep);
}

TEST(LongPathForm, OtherFormsAreLeftAlone) {
  for (const char* p : {"\\\\?\\C:\\x", "\\\\.\\pipe\\x", "relative\\x", "C:x", "", "\\x",
                        "\\\\srv"})
    EXPECT_EQ(LongPathForm(p), p) << p;
}

}  // namespace
}  // namespace qv
