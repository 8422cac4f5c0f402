// The archives we write, judged by the other zip tools: a tree of awkward
// names and sizes (the writer cuts large files into chunks of 256 KiB and
// 1 MiB, so files sit on either side of those sizes), written with one thread
// and with all cores, plain and AES-256; an archive of more entries than the
// end record can count; and the checks themselves shown to catch damage.
#include <gtest/gtest.h>
#include <utime.h>

#include <cstring>
#include <set>
#include <sstream>

#include "PeerChecks.h"
#include "ZipTestUtil.h"
#include "engine/ZipEngine.h"

using qv::ZipEngine;
using qvtest::ReadFile;
using qvtest::TempDir;
using qvtest::Tree;
using qvtest::WriteFile;

namespace {

const char* kPassword = "Mot de passe – été € 9";

void SetTime(const std::string& path, int64_t t) {
  struct utimbuf u{static_cast<time_t>(t), static_cast<time_t>(t)};
  ::utime(path.c_str(), &u);
}

// Blocks of 64 KiB, alternately incompressible and text-like.
std::string Mixed(size_t n, uint32_t seed) {
  std::string s;
  for (uint32_t k = 0; s.size() < n; ++k) s += qvtest::Bytes(64 * 1024, seed + k, k % 2 == 1);
  s.resize(n);
  return s;
}

// A name of more than 200 bytes (the accents count twice), within the 255 a
// file system takes.
std::string LongName() {
  std::string n;
  while (n.size() < 210) n += "Un nom très, très long – ";
  return n + "fin.txt";
}

// Names with accents, "’", "€", "œ" and emoji, a name of 200+ bytes, empty and
// nested empty folders, empty files, files on either side of the writer's
// chunk sizes, a multi-megabyte file of mixed data and a folder of small
// files; every file and folder with its own fixed time, odd seconds included.
void MakeRichTree(const std::string& root) {
  int64_t t = 1700000001;
  const std::pair<std::string, std::string> files[] = {
      {"Été 2026/À propos.txt", "Bonjour à tous\n"},
      {"Été 2026/zéro.txt", ""},
      {"vide.bin", ""},
      {"L’été – œuvres €/œuf à 5 €.txt", "apostrophe, œ et euro\n"},
      {"Dossier 😀/🎉 fête.txt", "emoji\n"},
      {LongName(), "un nom de plus de 200 octets\n"},
      {"bornes/256Ki-1.bin", qvtest::Bytes(256 * 1024 - 1, 1)},
      {"bornes/256Ki.bin", qvtest::Bytes(256 * 1024, 2, true)},
      {"bornes/256Ki+1.bin", Mixed(256 * 1024 + 1, 3)},
      {"bornes/1Mi-1.bin", Mixed(1024 * 1024 - 1, 4)},
      {"bornes/1Mi.bin", qvtest::Bytes(1024 * 1024, 5)},
      {"bornes/1Mi+1.bin", qvtest::Bytes(1024 * 1024 + 1, 6, true)},
      {"gros/mélange.bin", Mixed(6 * 1024 * 1024 + 12345, 7)},
  };
  for (auto& [name, data] : files) WriteFile(root + "/" + name, data, t += 3);
  for (int i = 0; i < 120; ++i)
    WriteFile(root + "/petits/fichier " + std::to_string(i) + ".txt",
              qvtest::Bytes(static_cast<size_t>(i * 37), 100 + static_cast<uint32_t>(i), i % 3 != 0),
              t += 1);
  for (const char* dir : {"vide", "a/b/c", "Été 2026/Noël vide"})
    qvtest::stdfs::create_directories(root + "/" + dir);
  // Folders last, deepest first, so that writing into them does not move
  // their times again.
  for (const char* dir : {"a/b/c", "a/b", "a", "vide", "Été 2026/Noël vide", "Été 2026",
                          "L’été – œuvres €", "Dossier 😀", "bornes", "gros", "petits"})
    SetTime(root + "/" + dir, t += 5);
}

std::string PackWith(int threads, const std::string& folder, const std::string& archive,
                     const std::string& password = "") {
  ZipEngine z;
  z.Threads(threads);
  int32_t r = qvtest::Pack(z, folder, archive, password);
  return r == 1 ? std::string() : "WriteAndClose = " + std::to_string(r) + ": " + z.ErrorText();
}

bool IsAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// One rich tree for the whole suite: it takes a moment to make.
class RichTree : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    MakeRichTree(Src());
    tree_ = new std::map<std::string, std::string>(Tree(Src()));
  }
  static void TearDownTestSuite() {
    delete tree_;
    delete dir_;
  }
  static std::string Src() { return *dir_ / "src"; }
  static const std::map<std::string, std::string>& SrcTree() { return *tree_; }
  static std::set<std::string> Names() { return qvtest::EntryNames(*tree_); }

  TempDir t;

 private:
  static TempDir* dir_;
  static std::map<std::string, std::string>* tree_;
};
TempDir* RichTree::dir_ = nullptr;
std::map<std::string, std::string>* RichTree::tree_ = nullptr;

class WriterInterop : public RichTree, public ::testing::WithParamInterface<int> {};

TEST_P(WriterInterop, PlainArchivePassesEveryPeer) {
  std::string zip = t / "plain.zip";
  ASSERT_EQ(PackWith(GetParam(), Src(), zip), "");
  EXPECT_TRUE(qvtest::SevenZipTests(zip));
  EXPECT_TRUE(qvtest::UnzipTests(zip));
  EXPECT_TRUE(qvtest::BsdtarLists(zip, Names()));
  EXPECT_TRUE(qvtest::ZipfileAgrees(zip, Names()));

  ASSERT_TRUE(qvtest::BsdtarExtracts(zip, t / "x-bsdtar"));
  EXPECT_EQ(Tree(t / "x-bsdtar"), SrcTree());
  ASSERT_TRUE(qvtest::SevenZipExtracts(zip, t / "x-7zz"));
  EXPECT_EQ(Tree(t / "x-7zz"), SrcTree());
  EXPECT_TRUE(qvtest::TimesClose(Src(), t / "x-7zz"));

  // Every name beyond ASCII carries the UTF-8 flag; nothing here needs zip64.
  qvtest::ZipView v = qvtest::Inspect(zip, false);
  ASSERT_EQ(v.entries.size(), Names().size()) << v.raw;
  EXPECT_FALSE(v.zip64End);
  for (const auto& e : v.entries) {
    SCOPED_TRACE(e.name);
    if (!IsAscii(e.name)) {
      EXPECT_TRUE(e.flags & 0x800);
    }
    EXPECT_FALSE(e.flags & 0x1);
    EXPECT_FALSE(e.zip64Central);
    EXPECT_FALSE(e.zip64Local);
  }
}

TEST_P(WriterInterop, AesArchivePassesSevenZip) {
  std::string zip = t / "aes.zip";
  ASSERT_EQ(PackWith(GetParam(), Src(), zip, kPassword), "");
  EXPECT_TRUE(qvtest::SevenZipTests(zip, kPassword));
  EXPECT_FALSE(qvtest::SevenZipTests(zip, "Mot de passe – été € 8"));
  EXPECT_TRUE(qvtest::BsdtarLists(zip, Names()));
  EXPECT_TRUE(qvtest::ZipfileAgrees(zip, Names(), true));
  ASSERT_TRUE(qvtest::SevenZipExtracts(zip, t / "x-7zz", kPassword));
  EXPECT_EQ(Tree(t / "x-7zz"), SrcTree());
  EXPECT_TRUE(qvtest::TimesClose(Src(), t / "x-7zz"));

  std::string out;
  ASSERT_EQ(qvtest::Shell("7zz l -slt" + qvtest::PasswordOption(kPassword) + " " + qvtest::Quote(zip), &out), 0);
  // Every file with data is AES-256 (an empty one has nothing to hide).
  size_t withData = 0, aes = 0;
  for (auto& [name, data] : SrcTree()) withData += !data.empty();
  std::istringstream in(out.substr(out.find("\n----------\n")));
  std::string line, size;
  while (std::getline(in, line)) {
    if (line.rfind("Size = ", 0) == 0) size = line.substr(7);
    if (line.rfind("Method = ", 0) == 0 && size != "0") {
      EXPECT_NE(line.find("AES-256"), std::string::npos) << line;
      ++aes;
    }
  }
  EXPECT_EQ(aes, withData);
}

INSTANTIATE_TEST_SUITE_P(Threads, WriterInterop, ::testing::Values(1, 0),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return p.param == 1 ? std::string("OneThread") : std::string("AllCores");
                         });

// Without a password the archive does not depend on how many threads wrote it.
TEST_F(RichTree, PlainArchiveIsByteIdenticalWhateverTheThreadCount) {
  ASSERT_EQ(PackWith(1, Src(), t / "1.zip"), "");
  std::string one = ReadFile(t / "1.zip");
  for (int threads : {0, 2, 3, 16}) {
    SCOPED_TRACE(threads);
    std::string zip = t / (std::to_string(threads) + ".zip");
    ASSERT_EQ(PackWith(threads, Src(), zip), "");
    std::string other = ReadFile(zip);
    EXPECT_EQ(other.size(), one.size());
    EXPECT_TRUE(other == one) << "first difference at byte "
                              << std::mismatch(one.begin(), one.end(), other.begin(), other.end()).first -
                                     one.begin();
  }
}

// Each entry's local header holds its CRC and sizes, as the directory does,
// and no data descriptor follows the data: readers that walk the local
// headers (streaming unzippers) need nothing else. libarchive's writer
// always ends deflated entries with a descriptor, so this holds only with a
// writer that knows the sizes before the header is final.
TEST_F(RichTree, LocalHeadersCarrySizesWithoutDataDescriptor) {
  for (const char* password : {"", kPassword}) {
    SCOPED_TRACE(*password ? "AES" : "plain");
    std::string zip = t / (*password ? "aes.zip" : "plain.zip");
    ASSERT_EQ(PackWith(0, Src(), zip, password), "");
    qvtest::ZipView v = qvtest::Inspect(zip, false);
    ASSERT_EQ(v.entries.size(), Names().size()) << v.raw;
    size_t withDescriptor = 0, disagreeing = 0;
    std::string first;
    for (const auto& e : v.entries) {
      if (e.flags & 0x8) ++withDescriptor;
      if (!e.localAgrees) ++disagreeing;
      if ((e.flags & 0x8 || !e.localAgrees) && first.empty()) first = e.name;
    }
    EXPECT_EQ(withDescriptor, 0u) << "first: " << first;
    EXPECT_EQ(disagreeing, 0u) << "first: " << first;
  }
}

// The checks above must see damage: one byte changed in an entry's data,
// and one name stripped of its UTF-8 flag.
size_t LocalHeaderOf(const std::string& bytes, const std::string& name) {
  for (size_t at = 0; (at = bytes.find(name, at)) != std::string::npos; ++at)
    if (at >= 30 && bytes.compare(at - 30, 4, "PK\x03\x04") == 0) return at - 30;
  return std::string::npos;
}
size_t CentralRecordOf(const std::string& bytes, const std::string& name) {
  for (size_t at = 0; (at = bytes.find(name, at)) != std::string::npos; ++at)
    if (at >= 46 && bytes.compare(at - 46, 4, "PK\x01\x02") == 0) return at - 46;
  return std::string::npos;
}
uint16_t U16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8));
}

TEST_F(RichTree, PeerChecksCatchOneCorruptByte) {
  for (const char* password : {"", kPassword}) {
    SCOPED_TRACE(*password ? "AES" : "plain");
    std::string zip = t / "damaged.zip";
    ASSERT_EQ(PackWith(0, Src(), zip, password), "");
    std::string bytes = ReadFile(zip);
    size_t header = LocalHeaderOf(bytes, "gros/mélange.bin");
    ASSERT_NE(header, std::string::npos);
    size_t data = header + 30 + U16(bytes, header + 26) + U16(bytes, header + 28);
    bytes[data + 200000] = static_cast<char>(bytes[data + 200000] ^ 0x40);
    WriteFile(zip, bytes);

    EXPECT_FALSE(qvtest::SevenZipTests(zip, password));
    EXPECT_FALSE(qvtest::SevenZipExtracts(zip, t / "x-7zz", password));
    if (!*password) {
      EXPECT_FALSE(qvtest::UnzipTests(zip));
      EXPECT_FALSE(qvtest::ZipfileAgrees(zip, Names()));
      EXPECT_FALSE(qvtest::BsdtarExtracts(zip, t / "x-bsdtar"));
    }
    qvtest::stdfs::remove_all(t / "x-7zz");
    qvtest::stdfs::remove_all(t / "x-bsdtar");
  }
}

TEST_F(RichTree, ZipfileCheckCatchesANameWithoutItsUtf8Flag) {
  std::string zip = t / "flag.zip";
  ASSERT_EQ(PackWith(1, Src(), zip), "");
  ASSERT_TRUE(qvtest::ZipfileAgrees(zip, Names()));
  std::string bytes = ReadFile(zip);
  const std::string name = "Été 2026/À propos.txt";
  size_t local = LocalHeaderOf(bytes, name), central = CentralRecordOf(bytes, name);
  ASSERT_NE(local, std::string::npos);
  ASSERT_NE(central, std::string::npos);
  ASSERT_TRUE(U16(bytes, local + 6) & 0x800);
  bytes[local + 7] = static_cast<char>(bytes[local + 7] & ~0x08);
  bytes[central + 9] = static_cast<char>(bytes[central + 9] & ~0x08);
  WriteFile(zip, bytes);
  EXPECT_FALSE(qvtest::ZipfileAgrees(zip, Names()));
  // The archive is otherwise sound: only the name is read another way.
  EXPECT_TRUE(qvtest::SevenZipTests(zip));
}

// The layout check sees what a writer without data descriptors produces:
// Python's zipfile writing to a file.
TEST(PeerChecks, LayoutCheckAcceptsLocalHeadersWithSizes) {
  TempDir t;
  std::string out;
  ASSERT_EQ(qvtest::Shell("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED); "
                          "z.writestr('été.txt','x'*100000); z.writestr('vide/',''); z.close()\" " +
                              qvtest::Quote(t / "py.zip"),
                          &out),
            0)
      << out;
  qvtest::ZipView v = qvtest::Inspect(t / "py.zip");
  ASSERT_EQ(v.entries.size(), 2u) << v.raw;
  EXPECT_EQ(v.testzip, "ok");
  for (const auto& e : v.entries) {
    EXPECT_FALSE(e.flags & 0x8) << e.name;
    EXPECT_TRUE(e.localAgrees) << e.name;
  }
  // A CRC in the local header that is not the directory's is seen.
  std::string bytes = ReadFile(t / "py.zip");
  bytes[14] = static_cast<char>(bytes[14] ^ 1);
  WriteFile(t / "py.zip", bytes);
  EXPECT_FALSE(qvtest::Inspect(t / "py.zip").entries.at(0).localAgrees);
}

// A decomposed accent ("e" then U+0301, as macOS writes names) is a name
// of its own: stored as it is, it comes back as it is, and beside its
// composed twin both files survive. 7-Zip and zipfile keep both in an
// archive that Python writes, so a failure here is the writer's (bsdtar is
// no judge here: libarchive composes names as it reads them).
TEST(WriterInterop, DecomposedAccentNamesAreStoredAsGiven) {
  TempDir t;
  const std::string nfc = "Caf\xC3\xA9 noir.txt", nfd = "Cafe\xCC\x81 noir.txt";
  WriteFile(t / "src/" + nfc, "composé\n", 1700000001);
  WriteFile(t / "src/" + nfd, "décomposé\n", 1700000003);
  WriteFile(t / "src/Noe\xCC\x88l/ici.txt", "dans un dossier décomposé\n", 1700000005);
  const std::set<std::string> names = qvtest::EntryNames(Tree(t / "src"));
  ASSERT_EQ(names.size(), 4u);

  std::string out;
  ASSERT_EQ(qvtest::Shell("cd " + qvtest::Quote(t / "src") + " && python3 -c \"import zipfile,os,sys; "
                          "z=zipfile.ZipFile(sys.argv[1],'w'); [z.write(os.path.join(r,n)[2:]) for r,ds,fs in os.walk('.') "
                          "for n in ds+fs]; z.close()\" " + qvtest::Quote(t / "py.zip"),
                          &out),
            0)
      << out;
  EXPECT_TRUE(qvtest::ZipfileAgrees(t / "py.zip", names));
  ASSERT_TRUE(qvtest::SevenZipExtracts(t / "py.zip", t / "x-py"));
  ASSERT_EQ(Tree(t / "x-py"), Tree(t / "src"));

  std::string zip = t / "nfd.zip";
  ASSERT_EQ(PackWith(0, t / "src", zip), "");
  EXPECT_TRUE(qvtest::ZipfileAgrees(zip, names));
  EXPECT_TRUE(qvtest::SevenZipExtracts(zip, t / "x-7zz"));
  EXPECT_EQ(Tree(t / "x-7zz"), Tree(t / "src"));
}

// More entries than the end record's 16-bit count holds: a zip64 end record
// must carry the count, and every tool must find them all (our own
// extraction of them, a minute of fsyncs, is in the slow tests).
TEST(WriterInterop, SeventyThousandEntriesNeedTheZip64EndRecord) {
  TempDir t;
  std::string src = t / "src";
  const size_t files = qvtest::ManySmallFiles(src, 280, 250), folders = 280;
  std::string zip = t / "many.zip";
  ASSERT_EQ(PackWith(0, src, zip), "");

  qvtest::ZipView v = qvtest::Inspect(zip);
  EXPECT_EQ(v.testzip, "ok");
  EXPECT_EQ(v.count, files + folders);
  EXPECT_TRUE(v.zip64End);
  std::string out;
  EXPECT_EQ(qvtest::Shell("7zz t " + qvtest::Quote(zip), &out), 0) << out.substr(0, 3000);
  EXPECT_NE(out.find("Folders: " + std::to_string(folders) + "\n"), std::string::npos) << out.substr(out.size() > 600 ? out.size() - 600 : 0);
  EXPECT_NE(out.find("Files: " + std::to_string(files) + "\n"), std::string::npos);
  EXPECT_TRUE(qvtest::UnzipTests(zip));
  EXPECT_EQ(qvtest::Shell("unzip -Z1 " + qvtest::Quote(zip) + " | wc -l", &out), 0);
  EXPECT_EQ(std::stoul(out), files + folders);
  EXPECT_EQ(qvtest::Shell("bsdtar -tf " + qvtest::Quote(zip) + " | wc -l", &out), 0);
  EXPECT_EQ(std::stoul(out), files + folders);
}

}  // namespace
