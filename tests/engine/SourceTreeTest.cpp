// The naming rules of the collection: names that are not UTF-8, clashes they
// cause, entry prefixes and the folders that keep their separator.
#include <gtest/gtest.h>

#include <set>

#include "engine/EntryNames.h"
#include "engine/SourceTree.h"

using namespace qv::sourcetree;

TEST(SourceTree, NamesThatAreNotUtf8ReadAsWindows1252) {
  EXPECT_EQ(ReadableName("caf\xE9.txt"), "café.txt");
  // The characters Windows-1252 puts in 0x80..0x9F, and its undefined bytes.
  EXPECT_EQ(ReadableName("L\x92\xE9t\xE9 \x80 \x9C\x96\x85"), "L’été € œ–…");
  EXPECT_EQ(ReadableName("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
  // UTF-8 stays as it is, whatever it holds.
  EXPECT_EQ(ReadableName("L’été 😀"), "L’été 😀");
  // Forms the C library refuses to convert are not UTF-8: an overlong "/",
  // a surrogate, a code point past U+10FFFF.
  EXPECT_EQ(ReadableName("\xE0\x80\xAF"), "à\u20AC¯");
  EXPECT_EQ(ReadableName("\xED\xA0\x80"), "í\u00A0\u20AC");
  EXPECT_EQ(ReadableName("\xF4\x90\x80\x80"), "ô\u0090\u20AC\u20AC");
  for (const char* raw : {"caf\xE9", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
    EXPECT_TRUE(qv::entrynames::IsValidUtf8(ReadableName(raw))) << raw;
}

TEST(SourceTree, ClashingNamesAreNumberedNeverMerged) {
  // Sorted as a folder listing is: the UTF-8 names keep their form, the
  // decoded ones that clash take the next free number, before the extension.
  std::vector<std::string> raw = {"caf\xE9.txt", "café (2).txt", "café.txt", "\xE9t\xE9",
                                  "été", ".\xE9", ".é", "plain"};
  std::vector<std::string> got = EntryNames(raw);
  EXPECT_EQ(got, (std::vector<std::string>{"café (3).txt", "café (2).txt", "café.txt", "été (2)",
                                           "été", ".é (2)", ".é", "plain"}));
  std::set<std::string> distinct(got.begin(), got.end());
  EXPECT_EQ(distinct.size(), raw.size());
  // Two raw names that give one text.
  EXPECT_EQ(EntryNames({"\x93x\x94", "\x93x\x94.d"}),
            (std::vector<std::string>{"“x”", "“x”.d"}));
}

TEST(SourceTree, PrefixesAndFolders) {
  EXPECT_EQ(PrefixUnder("/data/photos", "/data/photos"), "");
  EXPECT_EQ(PrefixUnder("/data/photos/2026/\xE9t\xE9", "/data/photos/"), "2026/été");
  EXPECT_EQ(PrefixUnder("/data/photos2", "/data/photos"), "");
  EXPECT_EQ(PrefixUnder("/data/x", "/"), "data/x");
  EXPECT_EQ(WithoutTrailingSeparators("/data/x//"), "/data/x");
  EXPECT_EQ(WithoutTrailingSeparators("/"), "/");
  EXPECT_EQ(WithoutTrailingSeparators("//"), "/");
  EXPECT_EQ(FolderOf("/data/x//.zip"), "/data/x");
  EXPECT_EQ(FolderOf("/a.zip"), "/");
  EXPECT_EQ(FolderOf(".zip"), ".");
}
