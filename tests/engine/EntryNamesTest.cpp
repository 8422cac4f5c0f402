#include <gtest/gtest.h>

#include "engine/EntryNames.h"
#include "engine/ZipDirectory.h"
#include "ZipTestUtil.h"

using namespace qv::entrynames;

namespace {
std::string Parts(std::string_view name, bool windows = false) {
  std::vector<std::string> p;
  if (!SafeParts(name, windows, p)) return "REFUSED";
  std::string s;
  for (auto& x : p) s += (s.empty() ? "" : "|") + x;
  return s;
}
}  // namespace

TEST(EntryNames, PlainNamesSplitOnBothSeparators) {
  EXPECT_EQ(Parts("a/b/c.txt"), "a|b|c.txt");
  EXPECT_EQ(Parts("a\\b\\c.txt"), "a|b|c.txt");
  EXPECT_EQ(Parts("dir/"), "dir");
  EXPECT_EQ(Parts("./a//b/./c"), "a|b|c");
  EXPECT_EQ(Parts("Été 2026/À propos.txt"), "Été 2026|À propos.txt");
}

TEST(EntryNames, EscapesAreRefusedOrBroughtInside) {
  EXPECT_EQ(Parts("../x"), "REFUSED");
  EXPECT_EQ(Parts("a/../../x"), "REFUSED");
  EXPECT_EQ(Parts("a\\..\\..\\x"), "REFUSED");
  EXPECT_EQ(Parts("a/.."), "REFUSED");
  EXPECT_EQ(Parts(""), "REFUSED");
  EXPECT_EQ(Parts("/"), "REFUSED");
  EXPECT_EQ(Parts(std::string("a\0b", 3)), "REFUSED");
  // Roots, drives and servers are dropped: what is left lands inside.
  EXPECT_EQ(Parts("/etc/passwd"), "etc|passwd");
  EXPECT_EQ(Parts("C:\\x"), "x");
  EXPECT_EQ(Parts("c:x"), "x");
  EXPECT_EQ(Parts("C:/Windows/x"), "Windows|x");
  EXPECT_EQ(Parts("\\\\server\\share\\x"), "x");
  EXPECT_EQ(Parts("//server/share/dir/x"), "dir|x");
  EXPECT_EQ(Parts("\\\\server\\share\\..\\x"), "REFUSED");
}

TEST(EntryNames, WindowsRulesKeepNamesAwayFromStreamsAndDevices) {
  EXPECT_EQ(Parts("a/b:stream", true), "a|b_stream");
  EXPECT_EQ(Parts("a/x:y", false), "a|x:y");
  EXPECT_EQ(Parts("q?*<>|\".txt", true), "q______.txt");
  EXPECT_EQ(Parts("dir. /file. . ", true), "dir|file");
  EXPECT_EQ(Parts("... /x", true), "x");
  EXPECT_EQ(Parts("CON", true), "_CON");
  EXPECT_EQ(Parts("a/nul.txt", true), "a|_nul.txt");
  EXPECT_EQ(Parts("COM1.log", true), "_COM1.log");
  EXPECT_EQ(Parts("console.txt", true), "console.txt");
  EXPECT_EQ(Parts("CON", false), "CON");
}

TEST(EntryNames, LegacyCodePages) {
  // "Été 2026/À propos.txt" as French Windows writes it.
  std::string raw = "\x90t\x82 2026/\xB7 propos.txt";
  EXPECT_EQ(DecodeCodePage(raw, 850), "Été 2026/À propos.txt");
  // Code page 437 has no "À": the same bytes give a box-drawing character.
  EXPECT_EQ(DecodeCodePage(raw, 437), "Été 2026/╖ propos.txt");
  EXPECT_EQ(DecodeCodePage("\x87\x88\xFF", 850), "çê\u00A0");
  EXPECT_EQ(DecodeCodePage("plain", 1252), "plain");
}

TEST(EntryNames, Utf8Validity) {
  EXPECT_TRUE(IsValidUtf8("Été"));
  EXPECT_TRUE(IsValidUtf8("ascii"));
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("\x90t\x82"));
  EXPECT_FALSE(IsValidUtf8("\xC3"));          // cut sequence
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xE9\x80"));      // cut three-byte sequence
  EXPECT_FALSE(IsValidUtf8("a\xF8\x88\x80"));  // no such lead byte
}

TEST(EntryNames, Patterns) {
  EXPECT_TRUE(MatchPattern("photo.jpg", "*", false));
  EXPECT_TRUE(MatchPattern("", "*", false));
  EXPECT_TRUE(MatchPattern("photo.jpg", "*.jpg", false));
  EXPECT_FALSE(MatchPattern("photo.jpeg", "*.jpg", false));
  EXPECT_TRUE(MatchPattern("PHOTO.JPG", "*.jpg", true));
  EXPECT_FALSE(MatchPattern("PHOTO.JPG", "*.jpg", false));
  EXPECT_TRUE(MatchPattern("été.txt", "?t?.txt", false));
  EXPECT_TRUE(MatchPattern("abcabcabd", "*abd", false));
  EXPECT_FALSE(MatchPattern("ab", "a?b", false));
}

TEST(EntryNames, NewerAllowsForDosTimes) {
  EXPECT_FALSE(IsNewer(1000, 1000));
  EXPECT_FALSE(IsNewer(1001, 1000));  // odd seconds rounded up by the zip tool
  EXPECT_FALSE(IsNewer(1002, 1000));
  EXPECT_TRUE(IsNewer(1003, 1000));
  EXPECT_FALSE(IsNewer(900, 1000));
}

TEST(EntryNames, TimesBefore1970StayInTheirCentury) {
  using qv::entrynames::EntryTime;
  const uint16_t y1980 = 0x0021, y2040 = static_cast<uint16_t>((60 << 9) | 0x21);
  // 1960-06-01 as Info-ZIP writes it (signed), read unsigned.
  const int64_t t1960 = -302313600;
  EXPECT_EQ(EntryTime(t1960 + (int64_t{1} << 32), y1980), t1960);
  // Past 2038 with a DOS date to match: a real time, kept.
  EXPECT_EQ(EntryTime(2215000000, y2040), 2215000000);
  EXPECT_EQ(EntryTime(1700000000, y1980), 1700000000);
  EXPECT_EQ(EntryTime(0, y1980), 0);
}

TEST(ZipDirectory, ReadsFlagsMethodsAndRefusesGarbage) {
  qvtest::TempDir t;
  qvtest::RawZip z;
  auto a = qvtest::RawZip::Stored("Été/a.txt", "abc");
  a.flags = 0x800;
  z.Add(a);
  auto b = qvtest::RawZip::Stored("\x90t\x82.txt", "secret");
  b.password = "pw";
  z.Add(b);
  z.Save(t / "a.zip");
  std::vector<qv::zipdir::Entry> e;
  ASSERT_TRUE(qv::zipdir::Read(t / "a.zip", e));
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].rawName, "Été/a.txt");
  EXPECT_TRUE(e[0].utf8());
  EXPECT_FALSE(e[0].encrypted());
  EXPECT_EQ(e[0].uncompressedSize, 3u);
  EXPECT_TRUE(e[1].encrypted());
  EXPECT_FALSE(e[1].aes());
  EXPECT_EQ(e[1].compressedSize, 18u);  // 12-byte encryption header + data

  qvtest::WriteFile(t / "junk.zip", std::string(5000, 'x'));
  EXPECT_FALSE(qv::zipdir::Read(t / "junk.zip", e));
  std::string bytes = z.Bytes();
  qvtest::WriteFile(t / "cut.zip", bytes.substr(0, bytes.size() - 30) + bytes.substr(bytes.size() - 22));
  EXPECT_FALSE(qv::zipdir::Read(t / "cut.zip", e));
  EXPECT_FALSE(qv::zipdir::Read(t / "missing.zip", e));
}
