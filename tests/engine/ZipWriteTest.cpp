// The writing side on real folders: what a tree on disk becomes (names that
// are not UTF-8, links and special files), what makes a run fail instead of
// losing files, the trees that are refused, and the archive on disk after
// every way a write ends.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "ZipTestUtil.h"
#include "engine/TempNames.h"
#include "engine/ZipEngine.h"
#include "support/process.h"

using qv::ZipEngine;
using qvtest::Names;
using qvtest::Pack;
using qvtest::ReadFile;
using qvtest::TempDir;
using qvtest::Tree;
using qvtest::WriteFile;
namespace stdfs = qvtest::stdfs;

namespace {

// Flags and raw names of the central directory, read straight from the bytes.
std::vector<std::pair<uint16_t, std::string>> CentralNames(const std::string& zip) {
  std::string b = ReadFile(zip);
  auto u16 = [&](size_t o) { return static_cast<uint16_t>(uint8_t(b[o]) | uint8_t(b[o + 1]) << 8); };
  auto u32 = [&](size_t o) { return static_cast<uint32_t>(u16(o) | uint32_t(u16(o + 2)) << 16); };
  std::vector<std::pair<uint16_t, std::string>> out;
  size_t end = b.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) return out;
  size_t p = u32(end + 16);
  for (uint16_t i = 0; i < u16(end + 10) && p + 46 <= b.size(); ++i) {
    uint16_t n = u16(p + 28), x = u16(p + 30), c = u16(p + 32);
    out.emplace_back(u16(p + 8), b.substr(p + 46, n));
    p += 46 + n + x + c;
  }
  return out;
}

constexpr uint16_t kUtf8Flag = 1 << 11;

// What one run in a child process printed, and whether it ended in time.
struct ChildRun {
  bool finished = false;
  std::string out;
};

// Runs `fn` in a child process, as an ordinary user when the tests run as root
// (root reads and searches every folder whatever its mode), and gives up after
// `seconds`: a run that waits on a FIFO must fail the test, not hang it.
ChildRun InChild(const std::function<std::string()>& fn, bool unprivileged, int seconds = 20) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(3);
    std::string s = fn();
    ssize_t ignored = ::write(fds[1], s.data(), s.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  ChildRun r;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    pollfd p{fds[0], POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, left) <= 0) break;
    char buf[4096];
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n <= 0) {
      r.finished = true;
      break;
    }
    r.out.append(buf, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  if (!r.finished) ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.finished = r.finished && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

// Gives the whole scratch folder to the user the child runs as.
void GiveAway(const std::string& root) {
  if (::geteuid() != 0) return;
  ::chown(root.c_str(), 65534, 65534);
  for (auto& e : stdfs::recursive_directory_iterator(root))
    ::lchown(e.path().c_str(), 65534, 65534);
}

std::string Result(ZipEngine& z, int32_t r) { return std::to_string(r) + "|" + z.ErrorText(); }

// A tmpfs of `size` mounted on `dir` for the life of the object; mounted()
// is false where mounting is not permitted (not root, a restricted container).
class SmallDisk {
 public:
  SmallDisk(const std::string& dir, const char* size) : dir_(dir) {
    stdfs::create_directories(dir);
    mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_ = false;
};

class ZipWriteTest : public ::testing::Test {
 protected:
  void SetUp() override { qv::ThrowOnEndProcess(); }
  void TearDown() override {
    qv::SetEndProcessHandler(nullptr);
    // Modes taken away by a case are given back so the folder can go.
    std::error_code ec;
    for (auto it = stdfs::recursive_directory_iterator(t.path(), ec);
         it != stdfs::recursive_directory_iterator(); it.increment(ec))
      if (it->is_directory(ec)) ::chmod(it->path().c_str(), 0755);
  }

  // Extracts `zip` with our own reader into `out` and gives the tree.
  std::map<std::string, std::string> Extracted(const std::string& zip, const std::string& out) {
    ZipEngine r;
    EXPECT_EQ(r.OpenArchive(zip), 1);
    EXPECT_GE(r.ExtractAll(out), 0) << r.ErrorText();
    return Tree(out);
  }

  TempDir t;
};

// ---- names -----------------------------------------------------------------

TEST_F(ZipWriteTest, NamesThatAreNotUtf8AreArchivedReadableWithTheRest) {
  std::string src = t / "src";
  WriteFile(src + "/caf\xE9.txt", "café");                         // file
  WriteFile(src + "/\x93" "citation\x94/dedans.txt", "dans le dossier");  // folder
  WriteFile(src + "/\x93" "citation\x94/L\x92\xE9t\xE9", "été");         // both
  WriteFile(src + "/normal.txt", "normal");
  WriteFile(src + "/déjà UTF-8 ’€.txt", "utf8");
  ZipEngine z;
  std::vector<std::string> added;
  z.ToBeAdded = [&](const std::string& f, int64_t, int32_t&) { added.push_back(f); };
  ASSERT_EQ(Pack(z, src, t / "src.zip"), 1) << z.ErrorText();
  // The events name the real files, as they are on disk.
  EXPECT_NE(std::find(added.begin(), added.end(), src + "/caf\xE9.txt"), added.end());

  std::map<std::string, uint16_t> entries;
  for (auto& [flags, name] : CentralNames(t / "src.zip")) entries[name] = flags;
  std::map<std::string, uint16_t> names;
  for (auto& [name, flags] : entries) names[name] = flags & kUtf8Flag;
  EXPECT_EQ(names, (std::map<std::string, uint16_t>{{"café.txt", kUtf8Flag},
                                                    {"“citation”/", kUtf8Flag},
                                                    {"“citation”/dedans.txt", kUtf8Flag},
                                                    {"“citation”/L’été", kUtf8Flag},
                                                    {"normal.txt", 0},
                                                    {"déjà UTF-8 ’€.txt", kUtf8Flag}}));
  EXPECT_EQ(Extracted(t / "src.zip", t / "out"),
            (std::map<std::string, std::string>{{"café.txt", "café"},
                                                {"“citation”/", ""},
                                                {"“citation”/dedans.txt", "dans le dossier"},
                                                {"“citation”/L’été", "été"},
                                                {"normal.txt", "normal"},
                                                {"déjà UTF-8 ’€.txt", "utf8"}}));
}

TEST_F(ZipWriteTest, RawNamesThatReadAlikeStayDistinctEntries) {
  std::string src = t / "src";
  WriteFile(src + "/café.txt", "utf8");
  WriteFile(src + "/caf\xE9.txt", "1252");
  WriteFile(src + "/été/a.txt", "dossier utf8");
  WriteFile(src + "/\xE9t\xE9/a.txt", "dossier 1252");
  ZipEngine z;
  ASSERT_EQ(Pack(z, src, t / "src.zip"), 1) << z.ErrorText();
  EXPECT_EQ(Extracted(t / "src.zip", t / "out"),
            (std::map<std::string, std::string>{{"café.txt", "utf8"},
                                                {"café (2).txt", "1252"},
                                                {"été/", ""},
                                                {"été/a.txt", "dossier utf8"},
                                                {"été (2)/", ""},
                                                {"été (2)/a.txt", "dossier 1252"}}));
}

// ---- nothing silently omitted ----------------------------------------------

TEST_F(ZipWriteTest, WhatCannotBeExaminedOrReadFailsTheRunAndKeepsTheOldArchive) {
  std::string src = t / "src";
  WriteFile(src + "/a.txt", "a");
  WriteFile(t / "src.zip", "l'ancienne archive");
  struct Case {
    const char* what;
    std::string chmodPath;
    mode_t mode;
    std::string expected;  // in the reason
  };
  std::vector<Case> cases = {
      // Listed but not searched: names without a status.
      {"folder r--", src + "/verrou", 0444, "Impossible d'examiner « " + src + "/verrou/x.txt » : accès refusé."},
      {"folder ---", src + "/verrou", 0000, "Impossible de lire le dossier « " + src + "/verrou » : accès refusé."},
      {"file ---", src + "/verrou/x.txt", 0000, "Impossible de lire le fichier « " + src + "/verrou/x.txt » : accès refusé."},
      // Read in pieces by the workers.
      {"large file ---", src + "/verrou/y gros.bin", 0000,
       "Impossible de lire le fichier « " + src + "/verrou/y gros.bin » : accès refusé."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(src + "/verrou/x.txt", "x");
    WriteFile(src + "/verrou/y gros.bin", qvtest::Bytes(3 << 20, 4, true));
    WriteFile(t / "src.zip", "l'ancienne archive");
    GiveAway(t.path());
    ::chmod(c.chmodPath.c_str(), c.mode);
    ChildRun run = InChild(
        [&] {
          ZipEngine z;
          int ends = 0;
          z.WriteZipEnd = [&] { ++ends; };
          if (z.PrepareArchive(t / "src.zip") != 1) return std::string("prepare|") + z.ErrorText();
          z.SetEntryRoot(src);
          std::string added = Result(z, z.AddTree(src + "/*", 1));
          std::string written = Result(z, z.WriteAndClose());
          return added + "\n" + written + "\n" + std::to_string(ends);
        },
        true);
    bool fileCase = c.chmodPath != src + "/verrou";
    ::chmod(c.chmodPath.c_str(), fileCase ? 0644 : 0755);
    ASSERT_TRUE(run.finished) << run.out;
    // A file is found unreadable only when the write opens it; a folder
    // already fails the collection.
    std::string addLine = run.out.substr(0, run.out.find('\n'));
    EXPECT_EQ(addLine, fileCase ? "1|" : "0|" + c.expected);
    EXPECT_NE(run.out.find("\n0|" + c.expected + "\n1"), std::string::npos) << run.out;
    EXPECT_EQ(ReadFile(t / "src.zip"), "l'ancienne archive");
    EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src", "src.zip"}));
  }
}

TEST_F(ZipWriteTest, LinksAndSpecialFilesAreLeftOutTheRestArchived) {
  std::string src = t / "src";
  WriteFile(src + "/a.txt", "a");
  WriteFile(t / "ailleurs/b.txt", "b");
  ::symlink((t / "ailleurs").c_str(), (src + "/lien dossier").c_str());
  ::symlink((t / "ailleurs/b.txt").c_str(), (src + "/lien fichier").c_str());
  ::symlink((t / "nulle part").c_str(), (src + "/lien mort").c_str());
  ::symlink("/dev/zero", (src + "/lien zéro").c_str());
  ASSERT_EQ(::mkfifo((src + "/tube").c_str(), 0644), 0);
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string sockPath = src + "/prise";
  ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sockPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  bool device = ::mknod((src + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  ChildRun run = InChild(
      [&] {
        ZipEngine z;
        return Result(z, Pack(z, src, t / "src.zip"));
      },
      false);
  ::close(sock);
  ASSERT_TRUE(run.finished) << "the collection waited on a special file";
  EXPECT_EQ(run.out, "1|");
  EXPECT_EQ(Extracted(t / "src.zip", t / "out"),
            (std::map<std::string, std::string>{{"a.txt", "a"}, {"lien fichier", "b"}}));
  if (!device) GTEST_LOG_(INFO) << "no device node: mknod not permitted here";
}

TEST_F(ZipWriteTest, AFileSwappedAfterTheCollectionIsRefusedWithoutWaiting) {
  std::string src = t / "src";
  struct Swap {
    const char* what;
    std::function<void(const std::string&)> make;
    const char* reason;
  };
  std::vector<Swap> swaps = {
      {"fifo", [](const std::string& p) { ::mkfifo(p.c_str(), 0644); },
       "ce n'est plus un fichier ordinaire"},
      {"link to a fifo",
       [&](const std::string& p) {
         ::mkfifo((t / "tube").c_str(), 0644);
         ::symlink((t / "tube").c_str(), p.c_str());
       },
       "ce n'est plus un fichier ordinaire"},
      {"folder", [](const std::string& p) { stdfs::create_directories(p); },
       "c'est maintenant un dossier"},
  };
  for (const Swap& s : swaps) {
    SCOPED_TRACE(s.what);
    stdfs::remove_all(src);
    stdfs::remove(t / "tube");
    WriteFile(src + "/a.txt", "a");
    WriteFile(src + "/b.txt", "bbbb");
    WriteFile(t / "src.zip", "ancienne");
    ChildRun run = InChild(
        [&] {
          ZipEngine z;
          z.PrepareArchive(t / "src.zip");
          z.SetEntryRoot(src);
          z.AddTree(src + "/*", 1);
          stdfs::remove(src + "/b.txt");
          s.make(src + "/b.txt");
          return Result(z, z.WriteAndClose());
        },
        false, 10);
    ASSERT_TRUE(run.finished) << "the write waited on what replaced the file";
    EXPECT_EQ(run.out, "0|Impossible de lire le fichier « " + src + "/b.txt » : " + s.reason + ".");
    EXPECT_EQ(ReadFile(t / "src.zip"), "ancienne");
  }
}

TEST_F(ZipWriteTest, AFileGrowingDuringTheWriteFailsTheRun) {
  std::string src = t / "src";
  WriteFile(src + "/journal.log", qvtest::Bytes(3 << 20, 5));
  WriteFile(t / "src.zip", "ancienne");
  ZipEngine z;
  bool appended = false;
  z.PercentDone = [&](int32_t p, int32_t&) {
    if (p > 0 && !appended) {
      appended = true;
      std::ofstream(src + "/journal.log", std::ios::app) << "une ligne de plus\n";
    }
  };
  EXPECT_EQ(Pack(z, src, t / "src.zip"), 0);
  EXPECT_TRUE(appended);
  EXPECT_EQ(z.ErrorText(), "Le fichier « " + src + "/journal.log » a changé pendant la compression.");
  EXPECT_EQ(ReadFile(t / "src.zip"), "ancienne");
}

// ---- trees that are refused ------------------------------------------------

TEST_F(ZipWriteTest, AWholeDiskIsRefused) {
  auto refused = [&](const std::string& folder) {
    ZipEngine z;
    int added = 0;
    z.ToBeAdded = [&](const std::string&, int64_t, int32_t&) { ++added; };
    EXPECT_EQ(z.PrepareArchive(t / "disque.zip"), 1);
    z.SetEntryRoot(folder);
    EXPECT_EQ(z.AddTree(folder + (folder.back() == '/' ? "*" : "/*"), 1), 0);
    EXPECT_EQ(added, 0) << "the disk was walked";
    EXPECT_EQ(z.ErrorText(), "Le dossier « " + folder +
                                 " » est la racine d'un disque entier : il ne peut pas être compressé.");
    EXPECT_EQ(z.WriteAndClose(), 0);
    EXPECT_FALSE(stdfs::exists(t / "disque.zip"));
  };
  // What the compressor passes for "/": an empty folder, then "/" + "*".
  refused("/");
  SmallDisk disk(t / "clé", "1m");
  if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  WriteFile(t / "clé/a.txt", "a");
  refused(t / "clé");
  // Its subfolders are ordinary folders.
  WriteFile(t / "clé/sous/b.txt", "b");
  ZipEngine z;
  EXPECT_EQ(Pack(z, t / "clé/sous", t / "sous.zip"), 1) << z.ErrorText();
}

TEST_F(ZipWriteTest, ATreeHoldingTheArchivesFolderIsRefused) {
  std::string src = t / "src";
  WriteFile(src + "/a.txt", "a");
  WriteFile(src + "/sous/b.txt", "b");
  ::symlink(src.c_str(), (t / "alias").c_str());
  struct Case {
    const char* what;
    std::string archive, root, pattern, folderNamed;
  };
  std::vector<Case> cases = {
      // "/data/x//" on the command line: the archive "/data/x/.zip", the tree "/data/x/*".
      {"two trailing separators", src + "/.zip", src + "/", src + "/*", src},
      {"archive deeper in the tree", src + "/sous/a.zip", src, src + "/*", src + "/sous"},
      {"same folder through a link", t / "alias/a.zip", src, src + "/*", src},
      {"tree named through a link", src + "/a.zip", t / "alias", t / "alias/*", t / "alias"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZipEngine z;
    ASSERT_EQ(z.PrepareArchive(c.archive), 1) << z.ErrorText();
    z.SetEntryRoot(c.root);
    EXPECT_EQ(z.AddTree(c.pattern, 1), 0);
    EXPECT_EQ(z.ErrorText(), "L'archive « " + c.archive +
                                 " » serait écrite dans le dossier à compresser « " + c.folderNamed +
                                 " ».");
    EXPECT_EQ(z.WriteAndClose(), 0);
    EXPECT_EQ(Tree(src), (std::map<std::string, std::string>{
                             {"a.txt", "a"}, {"sous/", ""}, {"sous/b.txt", "b"}}));
  }
  // Beside the folder, as the compressor puts it: fine.
  ZipEngine z;
  EXPECT_EQ(Pack(z, src, t / "src.zip"), 1) << z.ErrorText();
}

// ---- passwords -------------------------------------------------------------

TEST_F(ZipWriteTest, PasswordsOfAHundredBytesAreRefused) {
  WriteFile(t / "src/a.txt", "secret");
  WriteFile(t / "src.zip", "ancienne");
  // 99 bytes pass, 100 do not, counted in UTF-8 bytes: 50 "é" are 100.
  std::string p99(99, 'x'), p100(100, 'x'), accents;
  for (int i = 0; i < 50; ++i) accents += "é";
  for (const std::string& p : {p100, accents}) {
    ZipEngine z;
    EXPECT_EQ(Pack(z, t / "src", t / "src.zip", p), 0);
    EXPECT_EQ(z.ErrorText(),
              "Le mot de passe est trop long (100 octets ou plus en UTF-8) : 7-Zip ne pourrait pas "
              "ouvrir l'archive.");
    EXPECT_EQ(ReadFile(t / "src.zip"), "ancienne");
  }
  ZipEngine z;
  ASSERT_EQ(Pack(z, t / "src", t / "src.zip", p99), 1) << z.ErrorText();
  ZipEngine r;
  ASSERT_EQ(r.OpenArchive(t / "src.zip"), 1);
  r.SetExtractPassword(p99);
  EXPECT_EQ(r.PasswordMatches(), 1);
}

// ---- the archive on disk ---------------------------------------------------

TEST_F(ZipWriteTest, AFullDiskKeepsTheOldArchiveAndLeavesNothingElse) {
  SmallDisk disk(t / "petit", "1m");
  if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  WriteFile(t / "src/bruit.bin", qvtest::Bytes(3 << 20, 6));
  WriteFile(t / "petit/src.zip", "ancienne");
  ZipEngine z;
  int ends = 0;
  z.WriteZipEnd = [&] { ++ends; };
  EXPECT_EQ(Pack(z, t / "src", t / "petit/src.zip"), 0);
  EXPECT_EQ(ends, 1);
  EXPECT_NE(z.ErrorText().find("Impossible d'écrire l'archive « " + t / "petit/src.zip" + " »"),
            std::string::npos)
      << z.ErrorText();
  EXPECT_EQ(ReadFile(t / "petit/src.zip"), "ancienne");
  EXPECT_EQ(Names(t / "petit"), (std::vector<std::string>{"src.zip"}));
}

TEST_F(ZipWriteTest, ACancelKeepsTheOldArchiveAndLeavesNothingElse) {
  WriteFile(t / "src/bruit.bin", qvtest::Bytes(3 << 20, 7));
  for (int i = 0; i < 100; ++i) WriteFile(t / ("src/petits/f" + std::to_string(i)), "x");
  // The process ended from inside an event (a cancel), an abort asked while
  // the tree is collected, and one asked while it is written.
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    WriteFile(t / "src.zip", "ancienne");
    ZipEngine z;
    z.PercentDone = [&](int32_t p, int32_t& abort) {
      if (p > 10 && mode == 0) qv::EndProcess(qv::kExitCancelled);
      if (p > 10 && mode == 2) abort = 1;
    };
    z.AbortCheck = [&](int32_t& abort) {
      if (mode == 1) abort = 1;
    };
    if (mode == 0)
      EXPECT_THROW(Pack(z, t / "src", t / "src.zip"), qv::ProcessEnded);
    else
      EXPECT_EQ(Pack(z, t / "src", t / "src.zip"), 0);
    EXPECT_EQ(ReadFile(t / "src.zip"), "ancienne");
    EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src", "src.zip"}));
  }
}

TEST_F(ZipWriteTest, ASuccessReplacesTheOldArchiveAndLeavesOnlyIt) {
  WriteFile(t / "src/a.txt", "nouveau");
  WriteFile(t / "src.zip", "ancienne");
  ZipEngine z;
  ASSERT_EQ(Pack(z, t / "src", t / "src.zip"), 1) << z.ErrorText();
  EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src", "src.zip"}));
  EXPECT_EQ(Extracted(t / "src.zip", t / "out"),
            (std::map<std::string, std::string>{{"a.txt", "nouveau"}}));
}

TEST_F(ZipWriteTest, AFolderNameOf250BytesGivesAnArchiveOf254) {
  std::string name;
  for (int i = 0; i < 125; ++i) name += "é";
  ASSERT_EQ(name.size(), 250u);
  WriteFile(t / (name + "/a.txt"), "a");
  WriteFile(t / (name + ".zip"), "ancienne");
  ZipEngine z;
  ASSERT_EQ(Pack(z, t / name, t / (name + ".zip")), 1) << z.ErrorText();
  EXPECT_EQ(Names(t.path()), (std::vector<std::string>{name, name + ".zip"}));
  EXPECT_EQ(Extracted(t / (name + ".zip"), t / "out"),
            (std::map<std::string, std::string>{{"a.txt", "a"}}));
}

TEST_F(ZipWriteTest, AStaleTemporaryFileBesideTheArchiveIsRemovedByTheNextWrite) {
  // A process that has ended, and one that still runs (our parent).
  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  char stale[64], live[64];
  std::snprintf(stale, sizeof stale, ".qv%llx-abcdefgh.tmp", static_cast<unsigned long long>(dead));
  std::snprintf(live, sizeof live, ".qv%llx-abcdefgh.tmp",
                static_cast<unsigned long long>(::getppid()));
  ASSERT_FALSE(qv::tempnames::ProcessAlive(static_cast<uint64_t>(dead)));
  WriteFile(t / stale, "reste d'un arrêt brutal");
  WriteFile(t / live, "en cours ailleurs");
  WriteFile(t / "src/a.txt", "a");
  ZipEngine z;
  ASSERT_EQ(Pack(z, t / "src", t / "src.zip"), 1) << z.ErrorText();
  EXPECT_EQ(Names(t.path()), (std::vector<std::string>{live, "src", "src.zip"}));
}

}  // namespace

// ---- memory ----------------------------------------------------------------

// The address space of the process a little above what it holds already, at
// several heights: whatever allocation fails (a thread's stack, a worker's
// buffers, the writer's records), the run ends with a reason, never by an
// uncaught exception, and leaves nothing but the old archive.
TEST_F(ZipWriteTest, RunningOutOfMemoryFailsTheRunCleanly) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator ends the process itself when memory runs out";
#endif
  WriteFile(t / "src/gros.bin", qvtest::Bytes(6 << 20, 8));
  WriteFile(t / "src/zeros.bin", std::string(3 << 20, '\0'));
  for (int i = 0; i < 300; ++i)
    WriteFile(t / ("src/petits/f" + std::to_string(i)), qvtest::Bytes(2000, i));
  for (int mib : {4, 8, 12, 16, 24, 32, 48, 64, 96, 160}) {
    SCOPED_TRACE(mib);
    WriteFile(t / "src.zip", "ancienne");
    ChildRun run = InChild(
        [&] {
          ZipEngine z;
          z.Threads(16);
          long pages = 0;
          if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
            std::fclose(f);
          }
          rlimit old{};
          ::getrlimit(RLIMIT_AS, &old);
          rlimit lim = old;
          lim.rlim_cur = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) +
                         (static_cast<rlim_t>(mib) << 20);
          ::setrlimit(RLIMIT_AS, &lim);
          std::string out;
          try {
            int32_t r = Pack(z, t / "src", t / "src.zip");
            ::setrlimit(RLIMIT_AS, &old);
            out = Result(z, r);
          } catch (const std::exception& e) {
            ::setrlimit(RLIMIT_AS, &old);
            out = std::string("exception|") + e.what();
          }
          return out;
        },
        false, 60);
    ASSERT_TRUE(run.finished) << "the run did not end by itself: " << run.out;
    if (run.out.rfind("1|", 0) == 0) {
      EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src", "src.zip"}));
      EXPECT_NE(ReadFile(t / "src.zip"), "ancienne");
    } else {
      EXPECT_EQ(run.out.rfind("0|", 0), 0u) << run.out;
      EXPECT_GT(run.out.size(), 2u);
      EXPECT_EQ(ReadFile(t / "src.zip"), "ancienne") << run.out;
      EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src", "src.zip"})) << run.out;
    }
  }
}
