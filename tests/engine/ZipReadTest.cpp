// What the engine trusts in an archive from outside: the real entries (not
// the end record's count nor a planted end record), data that belong to one
// entry only and stay within their declared size, the space they need, names
// that would land on one another, the password's check, names of any length
// and script, and whether an extraction left every entry on disk.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "ZipTestUtil.h"
#include "engine/FileSystem.h"
#include "engine/ZipEngine.h"
#include "support/process.h"

using qv::ZipEngine;
using qvtest::Names;
using qvtest::RawZip;
using qvtest::ReadFile;
using qvtest::TempDir;
using qvtest::Tree;
using qvtest::WriteFile;
namespace stdfs = qvtest::stdfs;

namespace {

class ZipReadTest : public ::testing::Test {
 protected:
  void SetUp() override { qv::ThrowOnEndProcess(); }
  void TearDown() override { qv::SetEndProcessHandler(nullptr); }
  TempDir t;
};

bool HasTemporary(const std::string& folder) {
  for (auto& e : stdfs::recursive_directory_iterator(folder))
    if (e.path().filename().string().rfind(".qv", 0) == 0) return true;
  return false;
}

TEST_F(ZipReadTest, EntriesComeFromTheDirectoryNotFromTheEndRecordCount) {
  for (const std::string& name : qvtest::SaveEndRecordTricks(t.path())) {
    SCOPED_TRACE(name);
    ZipEngine z;
    ASSERT_EQ(z.OpenArchive(t / (name + ".zip")), 1);
    EXPECT_EQ(z.EntryCount(), 3);
    EXPECT_EQ(z.ExtractAll(t / name), 3) << z.ErrorText();
    EXPECT_EQ(z.AllEntriesExtracted(), 1);
    EXPECT_EQ(Tree(t / name), qvtest::kThreeFiles);
  }
}

TEST_F(ZipReadTest, CountWrappedAtSixtyFiveThousandFiveHundredThirtySix) {
  RawZip z;
  const int n = 65536 + 3;
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "d%02d/%05d", i % 64, i);
    z.Add(RawZip::Stored(name, i % 1000 == 0 ? std::to_string(i) : std::string()));
  }
  z.Save(t / "many.zip");  // the end record says 3
  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "many.zip"), 1);
  EXPECT_EQ(e.EntryCount(), n);
  EXPECT_EQ(e.ExtractAll(t / "out"), n);
  EXPECT_EQ(e.AllEntriesExtracted(), 1);
  EXPECT_EQ(ReadFile(t / "out/d40/65000"), "65000");
  EXPECT_EQ(Names(t / "out/d63").size(), 1024u);
}

TEST_F(ZipReadTest, NothingExtractedFromANonEmptyArchiveIsAFailure) {
  RawZip z;
  z.Add(RawZip::Stored("../dehors.txt", "x"));
  auto link = RawZip::Stored("lien", "/etc/passwd");
  link.unixMode = 0120777;
  z.Add(link);
  z.Save(t / "a.zip");
  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_LT(e.ExtractAll(t / "out"), 0);
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
  EXPECT_NE(e.ErrorText().find("dehors.txt"), std::string::npos) << e.ErrorText();

  // A handler that excludes everything leaves nothing either.
  ZipEngine x;
  x.ToBeUnzipped = [](const std::string&, int64_t, int64_t, int32_t& exclude) { exclude = 1; };
  qvtest::ThreeFiles().Save(t / "b.zip");
  ASSERT_EQ(x.OpenArchive(t / "b.zip"), 1);
  EXPECT_LT(x.ExtractAll(t / "out2"), 0);
  EXPECT_EQ(x.AllEntriesExtracted(), 0);
}

TEST_F(ZipReadTest, EntriesSharingDataOrRunningIntoTheDirectoryAreRefusedBeforeWriting) {
  // The classic small bomb: every directory record points at one local header.
  RawZip shared;
  shared.Add(RawZip::Stored("bombe1.bin", std::string(1000, '\0')));
  for (int i = 2; i <= 4; ++i) {
    auto b = RawZip::Stored("bombe" + std::to_string(i) + ".bin", std::string(1000, '\0'));
    b.sharesLocalOf = 0;
    shared.Add(b);
  }
  shared.Save(t / "shared.zip");
  // An entry whose declared data cover the next entry's header.
  RawZip over;
  auto a = RawZip::Stored("avant.txt", "abc");
  a.declaredCompressed = 3 + 40;
  over.Add(a);
  over.Add(RawZip::Stored("après.txt", std::string(60, 'y')));
  over.Save(t / "over.zip");
  // The last entry's data running into the directory.
  RawZip tail;
  tail.Add(RawZip::Stored("bien.txt", "ok"));
  auto last = RawZip::Stored("fin.txt", "abc");
  last.declaredCompressed = 3 + 20;
  tail.Add(last);
  tail.Save(t / "tail.zip");

  struct Case {
    const char* file;
    const char* named;
    const char* why;
  } cases[] = {{"shared.zip", "bombe1.bin", "partagent"},
               {"over.zip", "avant.txt", "partagent"},
               {"tail.zip", "fin.txt", "débordent"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ZipEngine z;
    EXPECT_EQ(z.OpenArchive(t / c.file), 0);
    EXPECT_NE(z.ErrorText().find(c.named), std::string::npos) << z.ErrorText();
    EXPECT_NE(z.ErrorText().find(c.why), std::string::npos) << z.ErrorText();
    // Whoever goes on all the same gets the reason, and nothing is written.
    EXPECT_LT(z.ExtractAll(t / "out"), 0);
    EXPECT_NE(z.ErrorText().find(c.why), std::string::npos) << z.ErrorText();
    EXPECT_EQ(z.AllEntriesExtracted(), 0);
    EXPECT_FALSE(stdfs::exists(t / "out"));
  }
}

TEST_F(ZipReadTest, DataBeyondTheDeclaredSizeAreNeverWritten) {
  RawZip z;
  z.Add(RawZip::Stored("avant.txt", "bon"));
  z.Add(RawZip::Deflated("bombe.bin", std::string(8 << 20, '\0'), 1000));
  z.Add(RawZip::Deflated("court.bin", "dix octets", 5000));
  z.Add(RawZip::Stored("après.txt", "bon aussi"));
  z.Save(t / "a.zip");
  ZipEngine e;
  int64_t biggest = 0;
  e.PercentDone = [&](int32_t, int32_t&) {
    if (!stdfs::exists(t / "out")) return;
    for (auto& f : stdfs::directory_iterator(t / "out"))
      if (f.is_regular_file()) biggest = std::max<int64_t>(biggest, f.file_size());
  };
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_LT(e.ExtractAll(t / "out"), 0);
  EXPECT_NE(e.ErrorText().find("bombe.bin"), std::string::npos) << e.ErrorText();
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
  EXPECT_EQ(Tree(t / "out"),
            (std::map<std::string, std::string>{{"avant.txt", "bon"}, {"après.txt", "bon aussi"}}));
  EXPECT_FALSE(HasTemporary(t / "out"));
  EXPECT_LE(biggest, 1000);
}

TEST_F(ZipReadTest, WhatCannotFitOnTheDiskFailsAtOnce) {
  RawZip z;
  z.Add(RawZip::Stored("petit.txt", "x"));
  auto huge = RawZip::Deflated("énorme.bin", "presque rien", 12);
  huge.bigSize = uint64_t{1} << 52;  // 4 PiB declared
  z.Add(huge);
  z.Save(t / "a.zip");
  ZipEngine e;
  int percents = 0;
  e.PercentDone = [&](int32_t, int32_t&) { ++percents; };
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_LT(e.ExtractAll(t / "out"), 0);
  EXPECT_NE(e.ErrorText().find("Place insuffisante"), std::string::npos) << e.ErrorText();
  EXPECT_FALSE(stdfs::exists(t / "out"));
  EXPECT_EQ(percents, 0);
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
}

TEST_F(ZipReadTest, NamesThatLandOnOneAnotherNeverOverwriteSilently) {
  RawZip z;
  z.Add(RawZip::Stored("même.txt", "le premier"));
  z.Add(RawZip::Stored("même.txt", "le second"));
  z.Add(RawZip::Stored("a\\b.txt", "barre inverse"));
  z.Add(RawZip::Stored("a/b.txt", "barre"));
  z.Add(RawZip::Stored("./c.txt", "point"));
  z.Add(RawZip::Stored("c.txt", "sans point"));
  z.Add(RawZip::Stored("x", "fichier x"));
  z.Add(RawZip::Stored("x/", ""));
  z.Add(RawZip::Stored("y/dedans.txt", "dans y"));
  z.Add(RawZip::Stored("y", "fichier y"));
  z.Save(t / "a.zip");
  WriteFile(t / "out/déjà.txt", "sur le disque avant");
  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_LT(e.ExtractAll(t / "out"), 0);
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
  EXPECT_NE(e.ErrorText().find("même.txt"), std::string::npos) << e.ErrorText();
  EXPECT_EQ(Tree(t / "out"),
            (std::map<std::string, std::string>{{"même.txt", "le premier"},
                                                {"a/", ""},
                                                {"a/b.txt", "barre inverse"},
                                                {"c.txt", "point"},
                                                {"x", "fichier x"},
                                                {"y/", ""},
                                                {"y/dedans.txt", "dans y"},
                                                {"déjà.txt", "sur le disque avant"}}));
  EXPECT_FALSE(HasTemporary(t / "out"));

  // A file that was there before the run is the user's to overwrite.
  RawZip one;
  one.Add(RawZip::Stored("déjà.txt", "de l'archive"));
  one.Save(t / "b.zip");
  ASSERT_EQ(e.OpenArchive(t / "b.zip"), 1);
  EXPECT_EQ(e.ExtractAll(t / "out"), 1) << e.ErrorText();
  EXPECT_EQ(ReadFile(t / "out/déjà.txt"), "de l'archive");
}

TEST_F(ZipReadTest, AllEntriesExtractedIsExact) {
  RawZip z;
  z.Add(RawZip::Stored("dossier/", ""));
  z.Add(RawZip::Stored("dossier/f.txt", "contenu"));
  z.Add(RawZip::Stored("g.txt", "autre"));
  z.Save(t / "a.zip");
  ZipEngine e;
  EXPECT_EQ(e.AllEntriesExtracted(), 0);  // nothing ran
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
  ASSERT_EQ(e.ExtractAll(t / "out"), 3);
  EXPECT_EQ(e.AllEntriesExtracted(), 1);
  // Update only, everything already there with the entries' sizes and times.
  EXPECT_EQ(e.ExtractNewer(t / "out"), 0);
  EXPECT_EQ(e.AllEntriesExtracted(), 1);
  // A newer file of another size on disk is kept: the archive's is not there.
  WriteFile(t / "out/g.txt", "changé depuis", 1900000000);
  EXPECT_EQ(e.ExtractNewer(t / "out"), 0);
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
  // A missing one is written again, the rest is there.
  stdfs::remove(t / "out/g.txt");
  EXPECT_EQ(e.ExtractNewer(t / "out"), 1);
  EXPECT_EQ(e.AllEntriesExtracted(), 1);
  // An entry excluded by the handler is not on disk.
  e.ToBeUnzipped = [](const std::string& name, int64_t, int64_t, int32_t& exclude) {
    exclude = name == "g.txt";
  };
  EXPECT_EQ(e.ExtractAll(t / "out2"), 2);
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
  // An abort leaves it at 0 as well.
  e.ToBeUnzipped = nullptr;
  e.AbortCheck = [](int32_t& abort) { abort = 1; };
  EXPECT_EQ(e.ExtractAll(t / "out3"), ZipEngine::kExtractAborted);
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
  // Closing keeps it (the archive is closed before it is deleted); opening
  // an archive forgets the last run.
  e.AbortCheck = nullptr;
  ASSERT_EQ(e.ExtractAll(t / "out4"), 3);
  e.CloseArchive();
  EXPECT_EQ(e.AllEntriesExtracted(), 1);
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
}

// A wrong password that passes ZipCrypto's check byte and decrypts a 1-byte
// entry to its right byte (1 password in 65,536 does).
std::string LuckyPassword(const std::string& right, const RawZip::Item& oneByte) {
  for (int i = 0; i < 50'000'000; ++i) {
    std::string candidate = "essai" + std::to_string(i);
    qvtest::ZipCrypto z(candidate);
    qvtest::ZipCrypto enc(right);
    uint8_t check = 0;
    for (int k = 0; k < 12; ++k) {
      uint8_t plain =
          k < 11 ? static_cast<uint8_t>(k * 37 + 5) : static_cast<uint8_t>(oneByte.crc >> 24);
      check = z.Decrypt(enc.Encrypt(plain));
    }
    if (check != static_cast<uint8_t>(oneByte.crc >> 24)) continue;
    if (z.Decrypt(enc.Encrypt(static_cast<uint8_t>(oneByte.data[0]))) ==
        static_cast<uint8_t>(oneByte.data[0]))
      return candidate;
  }
  return std::string();
}

TEST_F(ZipReadTest, ZipCryptoPasswordIsCheckedOverAtLeastFourBytes) {
  RawZip z;
  auto one = RawZip::Stored("un.txt", "A");
  auto two = RawZip::Stored("deux.txt", "BC");
  auto big = RawZip::Stored("grand.txt", qvtest::Bytes(3000, 4));
  for (auto* i : {&one, &two, &big}) i->password = "juste";
  z.Add(big);
  z.Add(two);
  z.Add(one);
  z.Save(t / "a.zip");
  std::string lucky = LuckyPassword("juste", one);
  ASSERT_FALSE(lucky.empty());

  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  e.SetExtractPassword(lucky);
  EXPECT_EQ(e.PasswordMatches(), 0) << lucky;
  e.SetExtractPassword("faux");
  EXPECT_EQ(e.PasswordMatches(), 0);
  e.SetExtractPassword("juste");
  EXPECT_EQ(e.PasswordMatches(), 1);
  EXPECT_EQ(e.ExtractAll(t / "out"), 3) << e.ErrorText();
  EXPECT_EQ(ReadFile(t / "out/un.txt"), "A");
}

TEST_F(ZipReadTest, NamesOfEveryScriptAndOfUpTo255Bytes) {
  std::string accents;
  for (int i = 0; i < 127; ++i) accents += "é";
  const std::string longFile = accents + "x";            // 255 bytes
  const std::string longFolder = std::string(240, 'd');  // 240 bytes
  const std::string scripts = "L’œuvre – 5 € Ωμέγα 中文 😀.txt";
  RawZip z;
  for (std::string name :
       {longFile, longFolder + "/" + longFile, longFolder + "/" + std::string(250, 'f'), scripts}) {
    auto i = RawZip::Stored(name, "contenu " + std::to_string(name.size()));
    i.flags = 0x800;
    z.Add(i);
  }
  // A legacy name with Info-ZIP's UTF-8 field, and one whose field belongs
  // to another name (its CRC does not match): the code page decides then.
  auto withField = RawZip::Stored("caf\x82.txt", "champ");
  withField.extra = RawZip::UnicodePathField("caf\x82.txt", "café ☕.txt");
  z.Add(withField);
  auto stale = RawZip::Stored("th\x82.txt", "ancien champ");
  stale.extra = RawZip::UnicodePathField("autre", "faux nom.txt");
  z.Add(stale);
  z.Save(t / "a.zip");
  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_EQ(e.ExtractAll(t / "out"), 6) << e.ErrorText();
  EXPECT_EQ(e.AllEntriesExtracted(), 1);
  EXPECT_EQ(ReadFile(t / ("out/" + longFile)), "contenu 255");
  EXPECT_EQ(ReadFile(t / ("out/" + longFolder + "/" + longFile)), "contenu 496");
  EXPECT_EQ(ReadFile(t / ("out/" + longFolder + "/" + std::string(250, 'f'))), "contenu 491");
  EXPECT_EQ(ReadFile(t / ("out/" + scripts)), "contenu " + std::to_string(scripts.size()));
  EXPECT_EQ(ReadFile(t / "out/café ☕.txt"), "champ");
  EXPECT_EQ(ReadFile(t / "out/thé.txt"), "ancien champ");
  EXPECT_FALSE(HasTemporary(t / "out"));
}

TEST_F(ZipReadTest, StaleTemporaryFilesOfEndedRunsGoLiveOnesStay) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  char dead[64], live[64];
  std::snprintf(dead, sizeof dead, ".qv%llx-abcdefgh.tmp", static_cast<unsigned long long>(child));
  std::snprintf(live, sizeof live, ".qv%llx-abcdefgh.tmp",
                static_cast<unsigned long long>(::getppid()));
  for (std::string folder : {"out", "out/sous"}) {
    WriteFile(t / (folder + "/" + dead), "laissé par un arrêt brutal");
    WriteFile(t / (folder + "/" + live), "en cours d'écriture ailleurs");
  }
  RawZip z;
  z.Add(RawZip::Stored("f.txt", "f"));
  z.Add(RawZip::Stored("sous/g.txt", "g"));
  z.Save(t / "a.zip");
  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  ASSERT_EQ(e.ExtractAll(t / "out"), 2) << e.ErrorText();
  EXPECT_EQ(Names(t / "out"), (std::vector<std::string>{live, "f.txt", "sous"}));
  EXPECT_EQ(Names(t / "out/sous"), (std::vector<std::string>{live, "g.txt"}));
}

}  // namespace

namespace {

TEST_F(ZipReadTest, AFolderSwappedForALinkDuringTheRunDivertsNothing) {
  RawZip z;
  const std::string big = qvtest::Bytes(3 << 20, 5);
  z.Add(RawZip::Stored("sous/gros.bin", big));
  z.Add(RawZip::Stored("sous/petit.txt", "petit"));
  z.Save(t / "a.zip");
  stdfs::create_directories(t / "dehors");
  ZipEngine e;
  // One worker, so that the events come between its very steps.
  e.Threads(1);
  bool swapped = false;
  // While the first file is being written, its folder is moved away and a
  // link to another place put in its stead.
  e.PercentDone = [&](int32_t percent, int32_t&) {
    if (swapped || percent == 0) return;
    swapped = true;
    stdfs::rename(t / "out/sous", t / "out/ailleurs");
    stdfs::create_directory_symlink(t / "dehors", t / "out/sous");
  };
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_EQ(e.ExtractAll(t / "out"), 2) << e.ErrorText();
  ASSERT_TRUE(swapped);
  EXPECT_TRUE(Names(t / "dehors").empty());
  // The files went on in the folder they were begun in, held open, whatever
  // now stands at its old name.
  EXPECT_EQ(ReadFile(t / "out/ailleurs/gros.bin"), big);
  EXPECT_EQ(ReadFile(t / "out/ailleurs/petit.txt"), "petit");
  EXPECT_FALSE(HasTemporary(t / "out"));
}

}  // namespace

namespace {

// Many folders, files of every size, damaged entries, names that land on
// one another and a name that leaves the destination: what several workers
// make of it must be what one makes of it. The first failure in archive order
// shows only at the end of a large entry, while the second is at the start
// of what another worker takes, so a reason taken from whichever worker failed
// first would differ (the large entries make the first two batches, which
// are handed out first).
void SaveBusyArchive(const std::string& path) {
  RawZip z;
  z.Add(RawZip::Stored("d00/", ""));
  auto bigBad = RawZip::Stored("d00/grand abîmé.bin", qvtest::Bytes(6 << 20, 1));
  bigBad.crc ^= 1;
  z.Add(bigBad);
  auto bad = RawZip::Stored("d00/petit abîmé.txt", "contenu abîmé");
  bad.crc ^= 1;
  z.Add(bad);
  z.Add(RawZip::Stored("d00/moyen.bin", qvtest::Bytes(5 << 20, 2)));
  for (int i = 0; i < 400; ++i) {
    std::string folder = "d" + std::to_string(1 + i % 37);
    z.Add(RawZip::Stored(folder + "/sous " + std::to_string(i % 5) + "/f" + std::to_string(i),
                         qvtest::Bytes(static_cast<size_t>(i * 997 % 60000), static_cast<uint32_t>(i))));
    if (i == 150) z.Add(RawZip::Stored("d1/sous 0/f0", "deuxième du même nom"));
    if (i == 250) z.Add(RawZip::Stored("../dehors.txt", "x"));
    if (i == 300) z.Add(RawZip::Stored("d9/", ""));
  }
  z.Save(path);
}

TEST_F(ZipReadTest, TheOutcomeIsTheSameWhateverTheNumberOfWorkers) {
  SaveBusyArchive(t / "a.zip");
  struct Result {
    int32_t count;
    std::string error;
    int32_t all;
    std::map<std::string, std::string> tree;
    int64_t folderTime;
  };
  auto extract = [&](int threads, const std::string& out) {
    ZipEngine e;
    e.Threads(threads);
    EXPECT_EQ(e.OpenArchive(t / "a.zip"), 1);
    Result r;
    r.count = e.ExtractAll(out);
    r.error = e.ErrorText();
    r.all = e.AllEntriesExtracted();
    r.tree = Tree(out);
    r.folderTime = qvtest::MTime(out + "/d9");
    return r;
  };
  Result one = extract(1, t / "un");
  EXPECT_EQ(one.count, ZipEngine::kExtractFailed);
  EXPECT_NE(one.error.find("grand abîmé.bin"), std::string::npos) << one.error;
  EXPECT_NE(one.error.find("(4 éléments n'ont pas été extraits.)"), std::string::npos) << one.error;
  EXPECT_EQ(one.tree.at("d2/sous 1/f1"), qvtest::Bytes(997, 1));
  EXPECT_EQ(one.tree.at("d1/sous 0/f0"), "");
  EXPECT_EQ(one.tree.count("d00/petit abîmé.txt"), 0u);
  EXPECT_EQ(one.tree.at("d00/moyen.bin"), qvtest::Bytes(5 << 20, 2));
  EXPECT_EQ(one.tree.size(), 400u + 37u + 5u * 37u + 2u);
  for (int threads : {2, 4, 16}) {
    SCOPED_TRACE(threads);
    Result many = extract(threads, t / ("plusieurs" + std::to_string(threads)));
    EXPECT_EQ(many.count, one.count);
    EXPECT_EQ(many.error, one.error);
    EXPECT_EQ(many.all, one.all);
    EXPECT_EQ(many.tree, one.tree);
    EXPECT_EQ(many.folderTime, one.folderTime);
    EXPECT_FALSE(HasTemporary(t / ("plusieurs" + std::to_string(threads))));
  }
}

// `files` files of `size` bytes spread over `folders` folders, "d<n>/f<i>".
void SaveSpreadArchive(const std::string& path, int files, int folders, size_t size) {
  RawZip z;
  for (int i = 0; i < files; ++i)
    z.Add(RawZip::Stored("d" + std::to_string(i % folders) + "/f" + std::to_string(i),
                         qvtest::Bytes(size, static_cast<uint32_t>(i))));
  z.Save(path);
}

TEST_F(ZipReadTest, ALinkPlantedBeforeTheWorkersReachAFolderIsNeverFollowed) {
  SaveSpreadArchive(t / "a.zip", 60, 6, 100000);
  stdfs::create_directories(t / "dehors");
  ZipEngine e;
  e.Threads(4);
  // Every entry is announced before any is written: the link is in place
  // before the folder it stands for is made.
  e.ToBeUnzipped = [&](const std::string&, int64_t, int64_t, int32_t&) {
    if (!stdfs::exists(t / "out/d3"))
      stdfs::create_directory_symlink(t / "dehors", t / "out/d3");
  };
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_LT(e.ExtractAll(t / "out"), 0);
  EXPECT_TRUE(Names(t / "dehors").empty());
  EXPECT_NE(e.ErrorText().find("lien symbolique"), std::string::npos) << e.ErrorText();
  EXPECT_NE(e.ErrorText().find("(10 éléments"), std::string::npos) << e.ErrorText();
  EXPECT_EQ(Names(t / "out/d0").size(), 10u);
  EXPECT_FALSE(HasTemporary(t / "out"));
}

TEST_F(ZipReadTest, UpdateOnlyLooksAtNothingThroughALink) {
  // What a link in the destination leads to is not what is there: the
  // entry is not taken as kept, it is refused.
  WriteFile(t / "dehors/f.txt", "plus récent, ailleurs", 1900000000);
  stdfs::create_directories(t / "out");
  stdfs::create_directory_symlink(t / "dehors", t / "out/sous");
  RawZip z;
  z.Add(RawZip::Stored("sous/f.txt", "de l'archive"));
  z.Add(RawZip::Stored("g.txt", "g"));
  z.Save(t / "a.zip");
  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_LT(e.ExtractNewer(t / "out"), 0);
  EXPECT_NE(e.ErrorText().find("lien symbolique"), std::string::npos) << e.ErrorText();
  EXPECT_EQ(ReadFile(t / "dehors/f.txt"), "plus récent, ailleurs");
  EXPECT_EQ(ReadFile(t / "out/g.txt"), "g");
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
}

TEST_F(ZipReadTest, ProcessEndingInsideAnEventStopsEveryWorkerFirst) {
  SaveSpreadArchive(t / "a.zip", 300, 8, 200000);
  ZipEngine e;
  e.Threads(4);
  // Names and sizes: what a worker still at work would change.
  auto snapshot = [&] {
    std::map<std::string, uintmax_t> files;
    for (auto& f : stdfs::recursive_directory_iterator(t / "out"))
      files[f.path().string()] = f.is_regular_file() ? f.file_size() : 0;
    return files;
  };
  auto stillAtWork = [&] {
    auto before = snapshot();
    ::usleep(200 * 1000);
    return snapshot() != before;
  };
  bool workingDuringCleanups = true, temporaryAtTheEnd = true, workingAtTheEnd = true;
  // What the process would leave if it ended here: the cleanups have run,
  // and no worker may create, fill or rename anything any more.
  qv::SetEndProcessHandler([&](int code) {
    temporaryAtTheEnd = HasTemporary(t / "out");
    workingAtTheEnd = stillAtWork();
    throw qv::ProcessEnded{code};
  });
  e.PercentDone = [&](int32_t percent, int32_t&) {
    if (percent == 0) return;
    // The newest cleanup, so among the first to run: the workers must be
    // stopped before it, as before those of their temporary files.
    qv::AddCleanup([&] { workingDuringCleanups = stillAtWork(); });
    qv::EndProcess(qv::kExitCancelled);
  };
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_THROW(e.ExtractAll(t / "out"), qv::ProcessEnded);
  EXPECT_FALSE(workingDuringCleanups);
  EXPECT_FALSE(temporaryAtTheEnd);
  EXPECT_FALSE(workingAtTheEnd);
  EXPECT_FALSE(HasTemporary(t / "out"));
  // The end came while there was work left (the first percent of 60 MB).
  EXPECT_LT(Tree(t / "out").size(), 300u + 8u);
}

TEST_F(ZipReadTest, CancelDuringALargeEntryReturnsAtOnceAndLeavesNothing) {
  std::string block = qvtest::Bytes(1 << 20, 9), big;
  big.reserve(size_t{320} << 20);
  for (int i = 0; i < 320; ++i) big += block;
  {
    RawZip z;
    z.Add(RawZip::Stored("petit.txt", "petit"));
    z.Add(RawZip::Stored("gros.bin", big));
    z.Save(t / "a.zip");
  }
  big = std::string();
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    ZipEngine e;
    e.Threads(threads);
    std::chrono::steady_clock::time_point asked{};
    e.PercentDone = [&](int32_t percent, int32_t& abort) {
      if (percent < 5) return;
      abort = 1;
      if (asked == std::chrono::steady_clock::time_point{}) asked = std::chrono::steady_clock::now();
    };
    ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
    std::string out = t / ("out" + std::to_string(threads));
    EXPECT_EQ(e.ExtractAll(out), ZipEngine::kExtractAborted);
    auto took = std::chrono::steady_clock::now() - asked;
    EXPECT_LT(took, std::chrono::milliseconds(500))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_FALSE(stdfs::exists(out + "/gros.bin"));
    EXPECT_FALSE(HasTemporary(out));
  }
}

TEST_F(ZipReadTest, WorkersMakingTheSameFoldersAtOnceAllGetThem) {
  qv::fs::Folder root;
  ASSERT_TRUE(qv::fs::Folder::Open(t.path(), root));
  constexpr int kThreads = 8, kFolders = 3000;
  std::atomic<int> ready{0}, failures{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kThreads; ++w)
    threads.emplace_back([&] {
      ++ready;
      while (ready < kThreads) std::this_thread::yield();
      for (int i = 0; i < kFolders; ++i) {
        qv::fs::Folder sub;
        if (root.Enter("dossier " + std::to_string(i), sub) != qv::fs::Folder::Step::ok)
          ++failures;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(Names(t.path()).size(), static_cast<size_t>(kFolders));
}

}  // namespace

// A name of 64 KiB makes a path no system call takes, thousands of folders
// deep: it is refused before the first folder is made, with its reason. A
// deep path the system still takes is extracted.
TEST_F(ZipReadTest, PathsLongerThanTheSystemTakesAreRefusedBeforeAnyFolder) {
  std::string deep, tooDeep;
  while (deep.size() < 3000) deep += "d/";
  while (tooDeep.size() < 5000) tooDeep += "p/";
  RawZip z;
  z.Add(RawZip::Stored(deep + "fin.txt", "profond"));
  z.Add(RawZip::Stored(tooDeep + "fin.txt", "trop profond"));
  z.Save(t / "a.zip");
  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_LT(e.ExtractAll(t / "out"), 0);
  EXPECT_NE(e.ErrorText().find("nom trop long"), std::string::npos) << e.ErrorText().substr(0, 200);
  EXPECT_EQ(e.AllEntriesExtracted(), 0);
  EXPECT_EQ(ReadFile(t / ("out/" + deep + "fin.txt")), "profond");
  EXPECT_FALSE(stdfs::exists(t / "out/p"));
}

// Names many folders deep cost memory in proportion to their length, not
// to its square: a few megabytes of such names once took gigabytes before
// the first byte was written. Seen in a child whose address space is capped.
TEST_F(ZipReadTest, DeepNamesCostMemoryInProportionToTheirLength) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory does not fit under the cap";
#endif
  std::string deep;
  while (deep.size() < 3900) deep += "a/";
  RawZip z;
  for (int i = 0; i < 800; ++i) z.Add(RawZip::Stored("k" + std::to_string(i) + "/" + deep + "f", ""));
  // Declared too large for any disk: the run ends before it writes anything,
  // once every name has been checked against the others.
  auto huge = RawZip::Deflated("énorme.bin", "presque rien", 12);
  huge.bigSize = uint64_t{1} << 52;
  z.Add(huge);
  z.Save(t / "a.zip");
  const std::string archive = t / "a.zip", out = t / "out";
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct rlimit cap {};
    cap.rlim_cur = cap.rlim_max = rlim_t{1536} << 20;
    ::setrlimit(RLIMIT_AS, &cap);
    int code = 3;
    try {
      ZipEngine e;
      e.Threads(1);
      if (e.OpenArchive(archive) == 1 && e.ExtractAll(out) < 0 &&
          e.ErrorText().find("Place insuffisante") != std::string::npos)
        code = 0;
    } catch (...) {
      code = 4;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A DOS date that names no day (month 0 or 15, day 0, hour 31: some writers
// leave zeros, damaged ones anything) gives no time: the file is not dated
// 2108 nor 1979, and in an update it is not newer than the user's file.
TEST_F(ZipReadTest, InvalidDosTimesAreNeitherNewerNorInvented) {
  RawZip z;
  auto garbage = RawZip::Stored("illisible.txt", "de l'archive");
  garbage.dosTime = garbage.dosDate = 0xFFFF;
  z.Add(garbage);
  auto zeros = RawZip::Stored("zéro.txt", "de l'archive");
  zeros.dosTime = zeros.dosDate = 0;
  z.Add(zeros);
  auto dated = RawZip::Stored("daté.txt", "de l'archive");  // 2026-01-01
  z.Add(dated);
  z.Save(t / "a.zip");
  const int64_t y2010 = 1262304000;
  for (const char* name : {"illisible.txt", "zéro.txt", "daté.txt"})
    WriteFile(t / ("out/" + std::string(name)), "de l'utilisateur", y2010);

  ZipEngine e;
  ASSERT_EQ(e.OpenArchive(t / "a.zip"), 1);
  EXPECT_EQ(e.ExtractNewer(t / "out"), 1) << e.ErrorText();
  EXPECT_EQ(ReadFile(t / "out/illisible.txt"), "de l'utilisateur");
  EXPECT_EQ(ReadFile(t / "out/zéro.txt"), "de l'utilisateur");
  EXPECT_EQ(ReadFile(t / "out/daté.txt"), "de l'archive");
  // Whether the kept files are the archive's is not known: "#" keeps it.
  EXPECT_EQ(e.AllEntriesExtracted(), 0);

  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  EXPECT_EQ(e.ExtractAll(t / "all"), 3) << e.ErrorText();
  const int64_t after = static_cast<int64_t>(std::time(nullptr));
  for (const char* name : {"illisible.txt", "zéro.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_GE(qvtest::MTime(t / ("all/" + std::string(name))), before - 2);
    EXPECT_LE(qvtest::MTime(t / ("all/" + std::string(name))), after + 2);
  }
  EXPECT_LT(qvtest::MTime(t / "all/daté.txt"), before - 86400);
}
