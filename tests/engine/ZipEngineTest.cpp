// The engine with the real libarchive on scratch folders: round trips, events,
// cancels and early ends, passwords, update-only runs, hostile and damaged
// archives.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "ZipTestUtil.h"
#include "engine/ZipEngine.h"
#include "support/process.h"

using qv::ZipEngine;
using qvtest::Names;
using qvtest::Pack;
using qvtest::RawZip;
using qvtest::ReadFile;
using qvtest::TempDir;
using qvtest::Tree;
using qvtest::WriteFile;

namespace {

struct Recorder {
  std::vector<int32_t> percents;
  std::vector<std::string> added, unzipped;
  int writeEnds = 0, unzipEnds = 0, abortChecks = 0;
  std::function<void(int32_t, int32_t&)> onPercent;
  std::function<void(int32_t&)> onAbortCheck;
  std::function<void(const std::string&)> onUnzipped;

  void Attach(ZipEngine& z) {
    z.PercentDone = [this](int32_t p, int32_t& abort) {
      percents.push_back(p);
      if (onPercent) onPercent(p, abort);
    };
    z.AbortCheck = [this](int32_t& abort) {
      ++abortChecks;
      if (onAbortCheck) onAbortCheck(abort);
    };
    z.ToBeAdded = [this](const std::string& f, int64_t, int32_t&) { added.push_back(f); };
    z.ToBeUnzipped = [this](const std::string& f, int64_t, int64_t, int32_t&) {
      unzipped.push_back(f);
      if (onUnzipped) onUnzipped(f);
    };
    z.WriteZipEnd = [this] { ++writeEnds; };
    z.UnzipEnd = [this] { ++unzipEnds; };
  }
  void ExpectProgressComplete() const {
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.front(), 0);
    EXPECT_EQ(percents.back(), 100);
    for (size_t i = 1; i < percents.size(); ++i) EXPECT_LE(percents[i - 1], percents[i]);
  }
};

// A tree with what the programs meet: accents, an empty folder, an empty file,
// text, incompressible data, a link to a folder that would loop.
void MakeSampleTree(const std::string& root) {
  WriteFile(root + "/Été 2026/À propos.txt", "Bonjour à tous\n", 1700000000);
  WriteFile(root + "/vide.bin", "", 1700000100);
  WriteFile(root + "/data/texte.txt", qvtest::Bytes(300000, 1, true), 1700000200);
  WriteFile(root + "/data/bruit.bin", qvtest::Bytes(2500000, 2), 1700000300);
  qvtest::stdfs::create_directories(root + "/dossier vide");
  ::symlink("..", (root + "/data/boucle").c_str());
}


std::map<std::string, std::string> WithoutLinks(std::map<std::string, std::string> t) {
  for (auto it = t.begin(); it != t.end();) it = it->first.back() == '@' ? t.erase(it) : std::next(it);
  return t;
}

class ZipEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { qv::ThrowOnEndProcess(); }
  void TearDown() override { qv::SetEndProcessHandler(nullptr); }
  TempDir t;
};

TEST_F(ZipEngineTest, RoundTripKeepsTreeTimesAndEmptyFolders) {
  std::string src = t / "Mes documents";
  MakeSampleTree(src);
  ZipEngine z;
  Recorder rec;
  rec.Attach(z);
  ASSERT_EQ(Pack(z, src, t / "Mes documents.zip"), 1) << z.ErrorText();
  EXPECT_EQ(z.ErrorText(), "");
  EXPECT_EQ(rec.writeEnds, 1);
  rec.ExpectProgressComplete();
  // Files only, each once; the link to a folder is not followed.
  EXPECT_EQ(rec.added.size(), 4u);
  EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"Mes documents", "Mes documents.zip"}));

  ZipEngine r;
  Recorder rrec;
  rrec.Attach(r);
  ASSERT_EQ(r.OpenArchive(t / "Mes documents.zip"), 1);
  EXPECT_EQ(r.HasProtectedEntries(), 0);
  EXPECT_EQ(r.ArchiveCipher(), 0);
  EXPECT_EQ(r.PasswordMatches(), 1);  // nothing to protect
  int32_t n = r.ExtractAll(t / "out");
  EXPECT_EQ(n, 7);  // 4 files, 3 folders
  EXPECT_EQ(rrec.unzipEnds, 1);
  rrec.ExpectProgressComplete();
  EXPECT_EQ(Tree(t / "out"), WithoutLinks(Tree(src)));
  EXPECT_EQ(qvtest::MTime(t / "out/Été 2026/À propos.txt"), 1700000000);
  EXPECT_EQ(qvtest::MTime(t / "out/vide.bin"), 1700000100);
  EXPECT_EQ(qvtest::MTime(t / "out/data/bruit.bin"), 1700000300);
  r.CloseArchive();
  r.CloseArchive();  // harmless twice
  EXPECT_LT(r.ExtractAll(t / "out2"), 0);
}

TEST_F(ZipEngineTest, AesRoundTripAndPasswordChecks) {
  std::string src = t / "src";
  MakeSampleTree(src);
  ZipEngine z;
  ASSERT_EQ(Pack(z, src, t / "a.zip", "mötdepasse é"), 1) << z.ErrorText();
  ZipEngine r;
  ASSERT_EQ(r.OpenArchive(t / "a.zip"), 1);
  EXPECT_NE(r.HasProtectedEntries(), 0);
  EXPECT_EQ(r.ArchiveCipher(), 4);
  EXPECT_EQ(r.PasswordMatches(), 0);  // none set yet
  r.SetExtractPassword("motdepasse é");
  EXPECT_EQ(r.PasswordMatches(), 0);
  r.SetExtractPassword("mötdepasse é");
  EXPECT_EQ(r.PasswordMatches(), 1);
  EXPECT_EQ(r.ExtractAll(t / "out"), 7);
  EXPECT_EQ(Tree(t / "out"), WithoutLinks(Tree(src)));

  // A wrong password makes the extraction fail and leaves no damaged file
  // behind (an empty file is stored without encryption: nothing to hide).
  r.SetExtractPassword("faux");
  EXPECT_LT(r.ExtractAll(t / "out3"), 0);
  for (auto& [name, data] : Tree(t / "out3")) EXPECT_EQ(data, "") << name;
  EXPECT_FALSE(qvtest::stdfs::exists(t / "out3/data/texte.txt"));
}

TEST_F(ZipEngineTest, EncryptionWithoutPasswordIsRefused) {
  WriteFile(t / "src/a.txt", "a");
  ZipEngine z;
  ASSERT_EQ(z.PrepareArchive(t / "a.zip"), 1);
  z.SetCipher(4);
  z.SetEntryRoot(t / "src");
  z.AddTree(t / "src/*", 1);
  EXPECT_EQ(z.WriteAndClose(), 0);
  EXPECT_NE(z.ErrorText(), "");
  EXPECT_FALSE(qvtest::stdfs::exists(t / "a.zip"));
}

TEST_F(ZipEngineTest, ZipCryptoWrongPasswordPassingTheCheckByteIsRefused) {
  RawZip zip;
  auto big = RawZip::Stored("big.txt", std::string(5000, 'b'));
  big.password = "juste";
  auto small = RawZip::Stored("petit.txt", "le secret");
  small.password = "juste";
  zip.Add(big);
  zip.Add(small);
  zip.Save(t / "zc.zip");
  // A wrong password whose decrypted header ends with the CRC's high byte.
  std::string data = zip.Bytes();
  size_t hdr = data.find("petit.txt") + 9;
  std::string wrong;
  for (int i = 0; i < 100000 && wrong.empty(); ++i) {
    std::string cand = "faux" + std::to_string(i);
    qvtest::ZipCrypto zc(cand);
    uint8_t last = 0;
    for (int k = 0; k < 12; ++k) last = zc.Decrypt(static_cast<uint8_t>(data[hdr + k]));
    if (last == static_cast<uint8_t>(small.crc >> 24)) wrong = cand;
  }
  ASSERT_FALSE(wrong.empty());

  ZipEngine r;
  ASSERT_EQ(r.OpenArchive(t / "zc.zip"), 1);
  EXPECT_EQ(r.ArchiveCipher(), 1);
  EXPECT_NE(r.HasProtectedEntries(), 0);
  r.SetExtractPassword(wrong);
  EXPECT_EQ(r.PasswordMatches(), 0);
  r.SetExtractPassword("juste");
  EXPECT_EQ(r.PasswordMatches(), 1);
  EXPECT_EQ(r.ExtractAll(t / "out"), 2);
  EXPECT_EQ(ReadFile(t / "out/petit.txt"), "le secret");
}

TEST_F(ZipEngineTest, ManySmallAndEmptyFilesStillMoveTheBar) {
  for (int i = 0; i < 300; ++i) WriteFile(t / ("src/f" + std::to_string(i)), i % 2 ? "" : "x");
  ZipEngine z;
  Recorder rec;
  rec.Attach(z);
  ASSERT_EQ(Pack(z, t / "src", t / "s.zip"), 1);
  rec.ExpectProgressComplete();
  std::set<int32_t> distinct(rec.percents.begin(), rec.percents.end());
  EXPECT_GT(distinct.size(), 50u);
  EXPECT_GE(rec.abortChecks, 300);
}

TEST_F(ZipEngineTest, AbortWhileWritingLeavesTheOldArchiveAndNoTemporaryFile) {
  MakeSampleTree(t / "src");
  WriteFile(t / "big/one.bin", qvtest::Bytes(5 << 20, 9));
  WriteFile(t / "src.zip", "l'ancienne archive");
  for (int mode = 0; mode < 2; ++mode) {
    ZipEngine z;
    Recorder rec;
    rec.Attach(z);
    if (mode == 0)
      rec.onPercent = [](int32_t p, int32_t& abort) { if (p >= 20) abort = 1; };
    else
      rec.onAbortCheck = [&](int32_t& abort) { if (rec.abortChecks > 3) abort = 1; };
    EXPECT_EQ(Pack(z, t / "big", t / "src.zip"), 0);
    EXPECT_EQ(rec.writeEnds, 1);
    EXPECT_NE(rec.percents.back(), 100);
    EXPECT_EQ(ReadFile(t / "src.zip"), "l'ancienne archive");
    EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"big", "src", "src.zip"}));
  }
}

TEST_F(ZipEngineTest, ProcessEndingInsideAnEventRemovesTheTemporaryFile) {
  WriteFile(t / "src/a.bin", qvtest::Bytes(3 << 20, 3));
  ZipEngine z;
  Recorder rec;
  rec.Attach(z);
  rec.onPercent = [](int32_t p, int32_t&) {
    if (p > 10) qv::EndProcess(qv::kExitCancelled);
  };
  EXPECT_THROW(Pack(z, t / "src", t / "src.zip"), qv::ProcessEnded);
  EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src"}));
  rec.onPercent = nullptr;

  ASSERT_EQ(Pack(z, t / "src", t / "src.zip"), 1);
  ZipEngine r;
  Recorder rrec;
  rrec.Attach(r);
  WriteFile(t / "out/a.bin", "le bon fichier");
  rrec.onPercent = [](int32_t p, int32_t&) {
    if (p > 10) qv::EndProcess(qv::kExitCancelled);
  };
  ASSERT_EQ(r.OpenArchive(t / "src.zip"), 1);
  EXPECT_THROW(r.ExtractAll(t / "out"), qv::ProcessEnded);
  EXPECT_EQ(Names(t / "out"), (std::vector<std::string>{"a.bin"}));
  EXPECT_EQ(ReadFile(t / "out/a.bin"), "le bon fichier");
}

TEST_F(ZipEngineTest, FullDiskLeavesNothing) {
  WriteFile(t / "src/a.bin", qvtest::Bytes(3 << 20, 4));
  WriteFile(t / "src.zip", "ancienne");
  // The file-size limit stands in for a full disk: writes past it fail.
  pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{1 << 20, 1 << 20};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    ZipEngine z;
    int ends = 0;
    z.WriteZipEnd = [&] { ++ends; };
    int32_t r = Pack(z, t / "src", t / "src.zip");
    ::_exit(r == 0 && ends == 1 && !z.ErrorText().empty() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src", "src.zip"}));
  EXPECT_EQ(ReadFile(t / "src.zip"), "ancienne");
}

TEST_F(ZipEngineTest, UnreadableTreeFailsTheWriteInsteadOfLosingFiles) {
  ZipEngine z;
  ASSERT_EQ(z.PrepareArchive(t / "a.zip"), 1);
  EXPECT_EQ(z.AddTree(t / "absent/*", 1), 0);
  EXPECT_EQ(z.WriteAndClose(), 0);
  EXPECT_FALSE(qvtest::stdfs::exists(t / "a.zip"));
  EXPECT_EQ(z.PrepareArchive(t / "no/such/folder/a.zip"), 0);
  EXPECT_NE(z.ErrorText(), "");
}

TEST_F(ZipEngineTest, AbortWhileCollectingWritesNothing) {
  for (int i = 0; i < 200; ++i) WriteFile(t / ("src/f" + std::to_string(i)), "x");
  ZipEngine z;
  Recorder rec;
  rec.Attach(z);
  rec.onAbortCheck = [](int32_t& abort) { abort = 1; };
  ASSERT_EQ(z.PrepareArchive(t / "a.zip"), 1);
  z.SetEntryRoot(t / "src");
  EXPECT_EQ(z.AddTree(t / "src/*", 1), 0);
  EXPECT_LT(rec.added.size(), 200u);
  rec.onAbortCheck = nullptr;  // even when the request is not repeated
  EXPECT_EQ(z.WriteAndClose(), 0);
  EXPECT_EQ(rec.writeEnds, 1);
  EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src"}));
}

TEST_F(ZipEngineTest, PatternAndExclusion) {
  WriteFile(t / "src/a.txt", "a");
  WriteFile(t / "src/b.jpg", "b");
  WriteFile(t / "src/sub/c.txt", "c");
  ZipEngine z;
  z.ToBeAdded = [](const std::string& f, int64_t size, int32_t& exclude) {
    EXPECT_EQ(size, 1);
    if (f.find("sub") != std::string::npos) exclude = 1;
  };
  ASSERT_EQ(z.PrepareArchive(t / "a.zip"), 1);
  z.SetEntryRoot(t / "src");
  ASSERT_EQ(z.AddTree(t / "src/*.txt", 1), 1);
  ASSERT_EQ(z.WriteAndClose(), 1);
  ZipEngine r;
  ASSERT_EQ(r.OpenArchive(t / "a.zip"), 1);
  EXPECT_EQ(r.ExtractAll(t / "out"), 2);
  EXPECT_EQ(Tree(t / "out"), (std::map<std::string, std::string>{{"a.txt", "a"}, {"sub/", ""}}));
}

TEST_F(ZipEngineTest, ExtractNewerWritesOnlyAbsentOrNewerEntries) {
  WriteFile(t / "src/ancien.txt", "archive", 1700000000);
  WriteFile(t / "src/recent.txt", "archive", 1700000000);
  WriteFile(t / "src/absent.txt", "archive", 1700000000);
  qvtest::stdfs::create_directories(t / "src/sous-dossier");
  ZipEngine z;
  ASSERT_EQ(Pack(z, t / "src", t / "a.zip"), 1);

  WriteFile(t / "out/ancien.txt", "disque", 1600000000);   // older on disk: replaced
  WriteFile(t / "out/recent.txt", "disque", 1800000000);   // newer on disk: kept
  ZipEngine r;
  Recorder rec;
  rec.Attach(r);
  ASSERT_EQ(r.OpenArchive(t / "a.zip"), 1);
  EXPECT_EQ(r.ExtractNewer(t / "out"), 3);
  EXPECT_EQ(ReadFile(t / "out/ancien.txt"), "archive");
  EXPECT_EQ(ReadFile(t / "out/recent.txt"), "disque");
  EXPECT_EQ(ReadFile(t / "out/absent.txt"), "archive");
  EXPECT_EQ(rec.unzipped, (std::vector<std::string>{"absent.txt", "ancien.txt", "sous-dossier/"}));
  rec.ExpectProgressComplete();
  // A second run finds nothing newer.
  rec.unzipped.clear();
  EXPECT_EQ(r.ExtractNewer(t / "out"), 0);
  EXPECT_TRUE(rec.unzipped.empty());
  EXPECT_EQ(rec.unzipEnds, 2);
  // ExtractAll overwrites whatever is there.
  EXPECT_EQ(r.ExtractAll(t / "out"), 4);
  EXPECT_EQ(ReadFile(t / "out/recent.txt"), "archive");
}

TEST_F(ZipEngineTest, CancelDuringExtractionKeepsTheGoodFile) {
  WriteFile(t / "src/a.bin", qvtest::Bytes(4 << 20, 5));
  ZipEngine z;
  ASSERT_EQ(Pack(z, t / "src", t / "a.zip"), 1);
  WriteFile(t / "out/a.bin", "le bon fichier");
  ZipEngine r;
  Recorder rec;
  rec.Attach(r);
  rec.onPercent = [](int32_t p, int32_t& abort) { if (p > 5) abort = 1; };
  ASSERT_EQ(r.OpenArchive(t / "a.zip"), 1);
  EXPECT_EQ(r.ExtractAll(t / "out"), ZipEngine::kExtractAborted);
  EXPECT_EQ(rec.unzipEnds, 1);
  EXPECT_EQ(Names(t / "out"), (std::vector<std::string>{"a.bin"}));
  EXPECT_EQ(ReadFile(t / "out/a.bin"), "le bon fichier");
}

TEST_F(ZipEngineTest, ClosingTheArchiveFromAnEventDoesNotDisturbTheExtraction) {
  MakeSampleTree(t / "src");
  ZipEngine z;
  ASSERT_EQ(Pack(z, t / "src", t / "a.zip"), 1);
  ZipEngine r;
  Recorder rec;
  rec.Attach(r);
  rec.onUnzipped = [&](const std::string&) { r.CloseArchive(); };
  ASSERT_EQ(r.OpenArchive(t / "a.zip"), 1);
  EXPECT_EQ(r.ExtractAll(t / "out"), 7);
  EXPECT_EQ(Tree(t / "out"), WithoutLinks(Tree(t / "src")));
}

TEST_F(ZipEngineTest, HostileNamesNeverLeaveTheDestination) {
  RawZip zip;
  zip.Add(RawZip::Stored("../x1", "evil"));
  zip.Add(RawZip::Stored("a\\..\\..\\x2", "evil"));
  zip.Add(RawZip::Stored("/abs/x3", "inside"));
  zip.Add(RawZip::Stored("C:\\x4", "inside"));
  zip.Add(RawZip::Stored("\\\\server\\share\\x5", "inside"));
  zip.Add(RawZip::Stored("dir\\sub\\x6", "inside"));
  auto link = RawZip::Stored("lien", t.path());
  link.unixMode = 0120777;
  zip.Add(link);
  zip.Add(RawZip::Stored("lien/x7", "inside"));
  zip.Add(RawZip::Stored("dehors/x8", "evil"));
  zip.Add(RawZip::Stored("ok.txt", "fine"));
  zip.Save(t / "hostile.zip");
  qvtest::stdfs::create_directories(t / "outside");
  qvtest::stdfs::create_directories(t / "dest");
  ::symlink((t / "outside").c_str(), (t / "dest/dehors").c_str());

  ZipEngine r;
  ASSERT_EQ(r.OpenArchive(t / "hostile.zip"), 1);
  EXPECT_EQ(r.ExtractAll(t / "dest"), ZipEngine::kExtractFailed);
  EXPECT_NE(r.ErrorText(), "");
  EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"dest", "hostile.zip", "outside"}));
  EXPECT_TRUE(Names(t / "outside").empty());
  EXPECT_EQ(Tree(t / "dest"), (std::map<std::string, std::string>{
                                  {"abs/", ""}, {"abs/x3", "inside"}, {"x4", "inside"},
                                  {"x5", "inside"}, {"dir/", ""}, {"dir/sub/", ""},
                                  {"dir/sub/x6", "inside"}, {"dehors@", t / "outside"},
                                  {"lien/", ""}, {"lien/x7", "inside"},
                                  {"ok.txt", "fine"}}));
}

TEST_F(ZipEngineTest, LegacyNamesReadInTheChosenCodePage) {
  RawZip zip;
  zip.Add(RawZip::Stored("\x90t\x82 2026/\xB7 propos.txt", "cp850"));
  auto u = RawZip::Stored("Ünïcode/ça.txt", "utf8");
  u.flags = 0x800;
  zip.Add(u);
  zip.Add(RawZip::Stored("Linux/déjà.txt", "utf8 sans drapeau"));
  zip.Save(t / "n.zip");
  ZipEngine r;
  EXPECT_EQ(r.NameCodePage(), 850);
  ASSERT_EQ(r.OpenArchive(t / "n.zip"), 1);
  EXPECT_EQ(r.ExtractAll(t / "out"), 3);
  EXPECT_EQ(ReadFile(t / "out/Été 2026/À propos.txt"), "cp850");
  EXPECT_EQ(ReadFile(t / "out/Ünïcode/ça.txt"), "utf8");
  EXPECT_EQ(ReadFile(t / "out/Linux/déjà.txt"), "utf8 sans drapeau");
  r.NameCodePage(437);
  EXPECT_EQ(r.ExtractAll(t / "out437"), 3);
  EXPECT_TRUE(qvtest::stdfs::exists(t / "out437/Été 2026/╖ propos.txt"));
}

TEST_F(ZipEngineTest, UnsupportedMethodOrDamagedEntryIsAFailure) {
  RawZip zip;
  auto d64 = RawZip::Stored("deflate64.bin", std::string(100, 'z'));
  d64.method = 9;
  zip.Add(d64);
  auto bad = RawZip::Stored("crc.txt", "contenu abîmé");
  bad.crc ^= 1;
  zip.Add(bad);
  zip.Add(RawZip::Stored("bon.txt", "bon"));
  zip.Save(t / "bad.zip");
  WriteFile(t / "out/crc.txt", "le bon fichier");
  ZipEngine r;
  Recorder rec;
  rec.Attach(r);
  ASSERT_EQ(r.OpenArchive(t / "bad.zip"), 1);
  EXPECT_EQ(r.ExtractAll(t / "out"), ZipEngine::kExtractFailed);
  EXPECT_EQ(rec.unzipEnds, 1);
  EXPECT_EQ(Tree(t / "out"), (std::map<std::string, std::string>{{"crc.txt", "le bon fichier"},
                                                                  {"bon.txt", "bon"}}));
}

TEST_F(ZipEngineTest, FlippedCiphertextByteIsAFailure) {
  WriteFile(t / "src/secret.txt", qvtest::Bytes(200000, 6, true));
  ZipEngine z;
  ASSERT_EQ(Pack(z, t / "src", t / "a.zip", "pw"), 1);
  std::string data = ReadFile(t / "a.zip");
  size_t at = data.find("secret.txt") + 10 + 11 /* AES extra */ + 18 /* salt, verifier */ + 5000;
  data[at] = static_cast<char>(data[at] ^ 0x40);
  WriteFile(t / "a.zip", data);
  ZipEngine r;
  ASSERT_EQ(r.OpenArchive(t / "a.zip"), 1);
  r.SetExtractPassword("pw");
  EXPECT_EQ(r.PasswordMatches(), 0);
  EXPECT_EQ(r.ExtractAll(t / "out"), ZipEngine::kExtractFailed);
  EXPECT_TRUE(Names(t / "out").empty());
}

TEST_F(ZipEngineTest, OpenRefusesWhatIsNotAZip) {
  ZipEngine r;
  EXPECT_EQ(r.OpenArchive(t / "absent.zip"), 0);
  WriteFile(t / "texte.zip", "pas une archive");
  EXPECT_EQ(r.OpenArchive(t / "texte.zip"), 0);
  EXPECT_NE(r.ErrorText(), "");
  r.CloseArchive();
  EXPECT_EQ(r.HasProtectedEntries(), 0);
  EXPECT_EQ(r.PasswordMatches(), 0);
  int ends = 0;
  r.UnzipEnd = [&] { ++ends; };
  EXPECT_EQ(r.ExtractAll(t / "out"), ZipEngine::kExtractNotOpen);
  EXPECT_EQ(ends, 1);
}

TEST_F(ZipEngineTest, EmptyArchiveExtractsNothing) {
  qvtest::stdfs::create_directories(t / "vide");
  ZipEngine z;
  ASSERT_EQ(Pack(z, t / "vide", t / "vide.zip"), 1);
  ZipEngine r;
  Recorder rec;
  rec.Attach(r);
  ASSERT_EQ(r.OpenArchive(t / "vide.zip"), 1);
  EXPECT_EQ(r.ExtractAll(t / "out"), 0);
  EXPECT_EQ(rec.unzipEnds, 1);
  rec.ExpectProgressComplete();
}

}  // namespace
