#include <gtest/gtest.h>

#include "extractor/ArchiveArgument.h"

namespace qv::unpack {
namespace {

TEST(ArchiveArgument, HashPrefixAskForDeletionOnlyInFirstPosition) {
  auto a = ReadArchiveArgument("#/data/photos.zip");
  EXPECT_EQ(a.ArchivePath, "/data/photos.zip");
  EXPECT_TRUE(a.DeleteArchiveWhenDone);

  // A quote before the "#" makes it part of the path.
  a = ReadArchiveArgument("\"#/x.zip\"");
  EXPECT_EQ(a.ArchivePath, "#/x.zip");
  EXPECT_FALSE(a.DeleteArchiveWhenDone);

  // Only one "#" is the prefix.
  a = ReadArchiveArgument("##a.zip");
  EXPECT_EQ(a.ArchivePath, "#a.zip");
  EXPECT_TRUE(a.DeleteArchiveWhenDone);

  a = ReadArchiveArgument("/a#b.zip");
  EXPECT_EQ(a.ArchivePath, "/a#b.zip");
  EXPECT_FALSE(a.DeleteArchiveWhenDone);
}

TEST(ArchiveArgument, QuotesGoWhereverTheyStand) {
  EXPECT_EQ(ReadArchiveArgument("\"/My files/a.zip\"").ArchivePath, "/My files/a.zip");
  EXPECT_EQ(ReadArchiveArgument("/My \"files\"/a.zip\"").ArchivePath, "/My files/a.zip");
  EXPECT_EQ(ReadArchiveArgument("#\"/My files/a.zip\"").ArchivePath, "/My files/a.zip");
  EXPECT_EQ(ReadArchiveArgument("\"\"").ArchivePath, "");
  EXPECT_EQ(ReadArchiveArgument("#").ArchivePath, "");
  EXPECT_EQ(ReadArchiveArgument("").ArchivePath, "");
}

TEST(ArchiveArgument, DestinationDropsFourCharactersNotBytes) {
  EXPECT_EQ(DestinationFolderOf("/data/photos.zip"), "/data/photos");
  EXPECT_EQ(DestinationFolderOf("a.zip"), "a");
  // The extension is not tested.
  EXPECT_EQ(DestinationFolderOf("/data/archive.7z_"), "/data/archive");
  EXPECT_EQ(DestinationFolderOf("/data/archive.7z"), "/data/archiv");
  // An accented tail: more bytes than characters.
  EXPECT_EQ(DestinationFolderOf("/d/été.zîp"), "/d/été");
  EXPECT_EQ(DestinationFolderOf("/d/x\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"), "/d/x");
  EXPECT_EQ(DestinationFolderOf("/d/\xF0\x9F\x93\xA6.zip"), "/d/\xF0\x9F\x93\xA6");
}

TEST(ArchiveArgument, NoDestinationWhenNothingWouldRemain) {
  EXPECT_FALSE(DestinationFolderOf(""));
  EXPECT_FALSE(DestinationFolderOf("a.z"));
  EXPECT_FALSE(DestinationFolderOf(".zip"));
  EXPECT_FALSE(DestinationFolderOf("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"));
  EXPECT_EQ(DestinationFolderOf("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"), "\xC3\xA9");
}

TEST(ArchiveArgument, NoDestinationThatIsTheArchivesOwnFolderOrAbove) {
  // The name before the extension is empty, "." or "..": extracting there
  // would write over the folder that holds the archive, or its parent.
  for (const char* path : {"dir/.zip", "/data/.zip", "/.zip", "dir/..zip", "dir/...zip",
                           "/data/sub/..zip", "./.zip", "../.zip"}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(DestinationFolderOf(path, '/'));
    EXPECT_FALSE(DestinationFolderOf(path, '\\'));
  }
  for (const char* path : {"C:\\data\\.zip", "C:\\.zip", "\\\\srv\\share\\..zip", "d\\...zip",
                           "C:\\data\\. .zip", "C:\\data\\ ...zip", "C:\\data/.zip"}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(DestinationFolderOf(path, '\\'));
  }
  // A name that only begins with dots, or has more than two, is a folder of
  // its own.
  EXPECT_EQ(DestinationFolderOf("dir/.a.zip", '/'), "dir/.a");
  EXPECT_EQ(DestinationFolderOf("dir/....zip", '/'), "dir/...");
  EXPECT_EQ(DestinationFolderOf("dir/ .zip", '/'), "dir/ ");
  EXPECT_EQ(DestinationFolderOf("C:\\data\\a.b.zip", '\\'), "C:\\data\\a.b");
  // Off Windows a backslash is part of a name.
  EXPECT_EQ(DestinationFolderOf("dir/a\\.zip", '/'), "dir/a\\");
}

}  // namespace
}  // namespace qv::unpack
