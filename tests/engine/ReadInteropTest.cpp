// Archives whose end record lies or whose entries overlap, read by us and by
// Info-ZIP's unzip and 7-Zip: we see the entries they see, and refuse what
// unzip refuses as a bomb.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "ZipTestUtil.h"
#include "engine/ZipEngine.h"

using qv::ZipEngine;
using qvtest::Quote;
using qvtest::RawZip;
using qvtest::Shell;
using qvtest::TempDir;

namespace {

// The file names a listing gives, one per line after `marker`.
std::set<std::string> Listed(const std::string& text, const std::string& marker) {
  std::set<std::string> names;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(marker, 0) == 0) names.insert(line.substr(marker.size()));
  return names;
}

std::set<std::string> SevenZipNames(const std::string& archive) {
  std::string out;
  Shell("7zz l -ba -slt " + Quote(archive), &out);
  std::set<std::string> names = Listed(out, "Path = ");
  names.erase(archive);
  return names;
}

std::set<std::string> UnzipNames(const std::string& archive) {
  std::string out;
  Shell("unzip -Z1 " + Quote(archive), &out);
  std::set<std::string> names;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line.find(' ') == std::string::npos) names.insert(line);
  return names;
}

std::set<std::string> OurFiles(const std::string& archive, const std::string& dest) {
  ZipEngine z;
  std::set<std::string> names;
  if (z.OpenArchive(archive) != 1 || z.ExtractAll(dest) < 0) return names;
  for (auto& [rel, data] : qvtest::Tree(dest))
    if (rel.back() != '/') names.insert(rel);
  return names;
}

TEST(ReadInterop, LyingEndRecordsReadAsThePeersReadThem) {
  TempDir t;
  const std::set<std::string> three = {"un.txt", "dossier/deux.txt", "trois.txt"};
  for (const std::string& name : qvtest::SaveEndRecordTricks(t.path())) {
    SCOPED_TRACE(name);
    std::string archive = t / (name + ".zip");
    EXPECT_EQ(OurFiles(archive, t / name), three);
    // unzip follows an end record planted in the comment or appended;
    // 7-Zip, and we, take the archive's own. 7-Zip does not look behind bytes glued in
    // front of an archive whose offsets were left as they were; unzip does.
    if (name.rfind("fake", 0) != 0 && name.rfind("appended", 0) != 0) {
      EXPECT_EQ(UnzipNames(archive), three);
    }
    if (name != "sfx") {
      EXPECT_EQ(SevenZipNames(archive), three);
    }
  }
}

TEST(ReadInterop, WrappedCountReadAsThePeersReadIt) {
  TempDir t;
  RawZip z;
  std::set<std::string> all;
  for (int i = 0; i < 65536 + 2; ++i) {
    std::string name = "f" + std::to_string(i);
    z.Add(RawZip::Stored(name, ""));
    all.insert(name);
  }
  z.Save(t / "many.zip");
  EXPECT_EQ(UnzipNames(t / "many.zip"), all);
  EXPECT_EQ(SevenZipNames(t / "many.zip"), all);
  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "many.zip"), 1);
  EXPECT_EQ(e.EntryCount(), static_cast<int64_t>(all.size()));
}

TEST(ReadInterop, OverlappingEntriesRefusedAsUnzipRefusesThem) {
  TempDir t;
  RawZip z;
  z.Add(RawZip::Stored("a.bin", std::string(5000, '\0')));
  auto b = RawZip::Stored("b.bin", std::string(5000, '\0'));
  b.sharesLocalOf = 0;
  z.Add(b);
  z.Save(t / "bomb.zip");
  std::string out;
  EXPECT_NE(Shell("unzip -o -d " + Quote(t / "u") + " " + Quote(t / "bomb.zip"), &out), 0) << out;
  EXPECT_NE(out.find("overlap"), std::string::npos) << out;
  ZipEngine e;
  EXPECT_EQ(e.OpenArchive(t / "bomb.zip"), 0);
  EXPECT_LT(e.ExtractAll(t / "out"), 0);
  EXPECT_FALSE(qvtest::stdfs::exists(t / "out"));
}

}  // namespace
