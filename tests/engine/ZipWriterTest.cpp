// Our own zip writer, read back byte by byte: the records it lays out, the
// same archive whatever the number of threads, large files cut in pieces and
// put back together, and every way a run over them can end early.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "ZipTestUtil.h"
#include "engine/PackPipeline.h"
#include "engine/ZipEngine.h"
#include "support/process.h"

using qv::ZipEngine;
using qvtest::MTime;
using qvtest::Names;
using qvtest::Quote;
using qvtest::ReadFile;
using qvtest::Shell;
using qvtest::TempDir;
using qvtest::Tree;
using qvtest::WriteFile;
namespace stdfs = qvtest::stdfs;

namespace {

constexpr size_t kChunk = qv::packing::kChunk;

// What the records of an archive say, read straight from its bytes.
struct Record {
  std::string name;
  uint16_t madeBy = 0, needed = 0, flags = 0, method = 0;
  uint32_t crc = 0, external = 0;
  uint64_t compressed = 0, size = 0, offset = 0;
  std::map<uint16_t, std::string> extra;  // central extra fields by tag
  // The local header of the same entry.
  uint16_t localFlags = 0, localMethod = 0, localNeeded = 0;
  uint32_t localCrc = 0;
  uint64_t localCompressed = 0, localSize = 0;
  std::map<uint16_t, std::string> localExtra;
};

struct Parsed {
  std::vector<Record> records;
  bool zip64End = false;
  uint64_t count = 0;  // from the end records
  std::string error;
};

uint64_t Le(const std::string& b, size_t at, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | uint8_t(b.at(at + static_cast<size_t>(i)));
  return v;
}

std::map<uint16_t, std::string> Extras(const std::string& x) {
  std::map<uint16_t, std::string> m;
  for (size_t p = 0; p + 4 <= x.size();) {
    uint16_t tag = static_cast<uint16_t>(Le(x, p, 2)), len = static_cast<uint16_t>(Le(x, p + 2, 2));
    m[tag] = x.substr(p + 4, len);
    p += 4 + len;
  }
  return m;
}

// Values of a zip64 extra field, in the order the 0xFFFFFFFF fields ask.
void Zip64(const std::map<uint16_t, std::string>& extra, uint64_t& size, uint64_t& compressed,
           uint64_t* offset) {
  auto it = extra.find(1);
  if (it == extra.end()) return;
  size_t p = 0;
  if (size == 0xFFFFFFFF) size = Le(it->second, p, 8), p += 8;
  if (compressed == 0xFFFFFFFF) compressed = Le(it->second, p, 8), p += 8;
  if (offset && *offset == 0xFFFFFFFF) *offset = Le(it->second, p, 8);
}

Parsed Parse(const std::string& zip) {
  Parsed out;
  std::string b = ReadFile(zip);
  size_t end = b.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) return out.error = "no end record", out;
  uint64_t count = Le(b, end + 10, 2), start = Le(b, end + 16, 4);
  if (end >= 20 && b.compare(end - 20, 4, "PK\x06\x07") == 0) {
    size_t z = static_cast<size_t>(Le(b, end - 20 + 8, 8));
    if (b.compare(z, 4, "PK\x06\x06") != 0) return out.error = "bad zip64 locator", out;
    out.zip64End = true;
    count = Le(b, z + 32, 8);
    start = Le(b, z + 48, 8);
  }
  out.count = count;
  size_t p = static_cast<size_t>(start);
  for (uint64_t i = 0; i < count; ++i) {
    if (b.compare(p, 4, "PK\x01\x02") != 0) return out.error = "bad central record", out;
    Record r;
    r.madeBy = static_cast<uint16_t>(Le(b, p + 4, 2));
    r.needed = static_cast<uint16_t>(Le(b, p + 6, 2));
    r.flags = static_cast<uint16_t>(Le(b, p + 8, 2));
    r.method = static_cast<uint16_t>(Le(b, p + 10, 2));
    r.crc = static_cast<uint32_t>(Le(b, p + 16, 4));
    r.compressed = Le(b, p + 20, 4);
    r.size = Le(b, p + 24, 4);
    size_t n = Le(b, p + 28, 2), x = Le(b, p + 30, 2), c = Le(b, p + 32, 2);
    r.external = static_cast<uint32_t>(Le(b, p + 38, 4));
    r.offset = Le(b, p + 42, 4);
    r.name = b.substr(p + 46, n);
    r.extra = Extras(b.substr(p + 46 + n, x));
    Zip64(r.extra, r.size, r.compressed, &r.offset);
    p += 46 + n + x + c;

    size_t l = static_cast<size_t>(r.offset);
    if (b.compare(l, 4, "PK\x03\x04") != 0) return out.error = "bad local header", out;
    r.localNeeded = static_cast<uint16_t>(Le(b, l + 4, 2));
    r.localFlags = static_cast<uint16_t>(Le(b, l + 6, 2));
    r.localMethod = static_cast<uint16_t>(Le(b, l + 8, 2));
    r.localCrc = static_cast<uint32_t>(Le(b, l + 14, 4));
    r.localCompressed = Le(b, l + 18, 4);
    r.localSize = Le(b, l + 22, 4);
    size_t ln = Le(b, l + 26, 2), lx = Le(b, l + 28, 2);
    if (b.substr(l + 30, ln) != r.name) return out.error = "local name differs", out;
    r.localExtra = Extras(b.substr(l + 30 + ln, lx));
    Zip64(r.localExtra, r.localSize, r.localCompressed, nullptr);
    out.records.push_back(std::move(r));
  }
  return out;
}

bool Ascii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

int32_t Pack(ZipEngine& z, const std::string& folder, const std::string& archive, int threads = 0) {
  z.Threads(threads);
  return qvtest::Pack(z, folder, archive);
}

class ZipWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { qv::ThrowOnEndProcess(); }
  void TearDown() override { qv::SetEndProcessHandler(nullptr); }

  std::map<std::string, std::string> Extracted(const std::string& zip, const std::string& out) {
    ZipEngine r;
    EXPECT_EQ(r.OpenArchive(zip), 1);
    EXPECT_GE(r.ExtractAll(out), 0) << r.ErrorText();
    return Tree(out);
  }

  // A file of `pieces` chunks and a bit, half random, half text, so both
  // deflate's stored and its coded blocks meet the piece boundaries.
  static std::string Mixed(size_t pieces, uint32_t seed) {
    std::string s;
    for (size_t i = 0; s.size() < pieces * kChunk + 12345; ++i)
      s += qvtest::Bytes(kChunk / 3 + 1000 * i, seed + static_cast<uint32_t>(i), i % 2 == 1);
    s.resize(pieces * kChunk + 12345);
    return s;
  }

  TempDir t;
};

// ---- the records -----------------------------------------------------------

TEST_F(ZipWriterTest, RecordsFollowTheFormatWithoutDescriptorsOrNeedlessZip64) {
  std::string src = t / "src";
  WriteFile(src + "/plain.txt", qvtest::Bytes(5000, 1, true), 1700000000);
  WriteFile(src + "/Été/À propos ’€ 🎉.txt", "bonjour", 1700000002);
  WriteFile(src + "/bruit.bin", qvtest::Bytes(4000, 2), 1700000004);  // incompressible
  WriteFile(src + "/vide", "", 1700000006);
  WriteFile(src + "/gros.bin", Mixed(3, 3), 1700000008);  // in pieces
  stdfs::create_directories(src + "/dossier vide");
  ZipEngine z;
  ASSERT_EQ(Pack(z, src, t / "a.zip"), 1) << z.ErrorText();

  Parsed a = Parse(t / "a.zip");
  ASSERT_EQ(a.error, "");
  EXPECT_FALSE(a.zip64End);
  std::map<std::string, Record> byName;
  for (Record& r : a.records) {
    SCOPED_TRACE(r.name);
    byName[r.name] = r;
    bool dir = r.name.back() == '/';
    EXPECT_EQ(r.madeBy, (3 << 8) | 63);
    EXPECT_EQ(r.flags & 8, 0) << "data descriptor";
    EXPECT_EQ(r.flags, r.localFlags);
    EXPECT_EQ((r.flags & (1 << 11)) != 0, !Ascii(r.name));
    EXPECT_EQ(r.needed, 20);
    EXPECT_EQ(r.localNeeded, 20);
    EXPECT_EQ(r.external, dir ? (040755u << 16 | 0x10) : 0100644u << 16);
    // The local header tells the truth on its own.
    EXPECT_EQ(r.localMethod, r.method);
    EXPECT_EQ(r.localCrc, r.crc);
    EXPECT_EQ(r.localCompressed, r.compressed);
    EXPECT_EQ(r.localSize, r.size);
    EXPECT_EQ(r.extra.count(1), 0u) << "zip64";
    EXPECT_EQ(r.localExtra.count(1), 0u) << "zip64";
    // The UTC time beside the DOS time, in both headers.
    ASSERT_EQ(r.extra.count(0x5455), 1u);
    EXPECT_EQ(r.extra[0x5455], r.localExtra[0x5455]);
    EXPECT_EQ(r.extra[0x5455].size(), 5u);
    EXPECT_EQ(r.extra.size(), 1u) << "nothing host-specific";
    if (dir) {
      EXPECT_EQ(r.method, 0);
      EXPECT_EQ(r.size, 0u);
    }
  }
  ASSERT_EQ(byName.size(), 7u);
  EXPECT_EQ(Le(byName["plain.txt"].extra[0x5455], 1, 4), 1700000000u);
  EXPECT_EQ(byName["plain.txt"].method, 8);
  EXPECT_EQ(byName["gros.bin"].method, 8);
  EXPECT_EQ(byName["bruit.bin"].method, 0);
  EXPECT_EQ(byName["bruit.bin"].compressed, 4000u);
  EXPECT_EQ(byName["vide"].method, 0);
  EXPECT_EQ(byName["vide"].compressed, 0u);
  EXPECT_EQ(byName["Été/À propos ’€ 🎉.txt"].size, 7u);
  EXPECT_EQ(byName.count("dossier vide/"), 1u);
  EXPECT_EQ(Extracted(t / "a.zip", t / "out"), Tree(src));
}

// Every reader here (libarchive, 7-Zip) takes the extended timestamp as an
// unsigned count: a file from before 1970 must not come back from the future,
// where it would win every "newer only" extraction.
TEST_F(ZipWriterTest, TimesBefore1970AndAfter2038ComeBackInTheirCentury) {
  std::string src = t / "src";
  WriteFile(src + "/1960.txt", "a", -302400000);  // 1960-06-01
  WriteFile(src + "/1969.txt", "b", -1);
  WriteFile(src + "/2200.txt", "c", 7258118400);
  WriteFile(src + "/2023.txt", "d", 1700000000);
  ZipEngine z;
  ASSERT_EQ(Pack(z, src, t / "a.zip"), 1) << z.ErrorText();
  EXPECT_EQ(Extracted(t / "a.zip", t / "out"), Tree(src));
  const int64_t y1980 = 315532800 + 86400;  // a day of slack for the DOS time's zone
  EXPECT_LE(MTime(t / "out/1960.txt"), y1980);
  EXPECT_LE(MTime(t / "out/1969.txt"), y1980);
  EXPECT_EQ(MTime(t / "out/2200.txt"), INT32_MAX);
  EXPECT_EQ(MTime(t / "out/2023.txt"), 1700000000);
  std::string out;
  ASSERT_EQ(Shell("7zz x -y -o" + Quote(t / "out7") + " " + Quote(t / "a.zip"), &out), 0) << out;
  EXPECT_LE(MTime(t / "out7/1960.txt"), y1980);
  EXPECT_LE(MTime(t / "out7/1969.txt"), y1980);
  EXPECT_EQ(MTime(t / "out7/2023.txt"), 1700000000);
}

TEST_F(ZipWriterTest, Zip64EndRecordsOnlyFromSixtyFiveThousandFiveHundredThirtyFiveEntries) {
  std::string src = t / "src";
  // 65,534 files and the folder that holds them: 65,535 entries.
  for (int i = 0; i < 65534; ++i) {
    std::string p = src + "/d/" + std::to_string(i);
    if (i == 0) stdfs::create_directories(src + "/d");
    std::FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fclose(f);
  }
  ZipEngine z;
  ASSERT_EQ(Pack(z, src, t / "a.zip"), 1) << z.ErrorText();
  Parsed a = Parse(t / "a.zip");
  ASSERT_EQ(a.error, "");
  EXPECT_TRUE(a.zip64End);
  EXPECT_EQ(a.count, 65535u);
  EXPECT_EQ(a.records.size(), 65535u);
  std::string out;
  EXPECT_EQ(Shell("python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                  "assert len(z.infolist()) == 65535; assert z.testzip() is None' " +
                      Quote(t / "a.zip"),
                  &out),
            0)
      << out;

  // One entry fewer: the plain end record counts them all.
  stdfs::remove(src + "/d/0");
  ASSERT_EQ(Pack(z, src, t / "b.zip"), 1) << z.ErrorText();
  Parsed b = Parse(t / "b.zip");
  ASSERT_EQ(b.error, "");
  EXPECT_FALSE(b.zip64End);
  EXPECT_EQ(b.count, 65534u);
}

// ---- threads and pieces ----------------------------------------------------

TEST_F(ZipWriterTest, TheSameArchiveWhateverTheNumberOfThreads) {
  std::string src = t / "src";
  WriteFile(src + "/juste sous.txt", qvtest::Bytes(kChunk - 1, 1, true), 1700000000);
  WriteFile(src + "/pile.bin", qvtest::Bytes(kChunk, 2), 1700000000);
  WriteFile(src + "/juste au-dessus.txt", qvtest::Bytes(kChunk + 1, 3, true), 1700000000);
  WriteFile(src + "/plusieurs.bin", Mixed(4, 4), 1700000000);
  WriteFile(src + "/vide", "", 1700000000);
  for (int i = 0; i < 40; ++i)
    WriteFile(src + "/petits/" + std::to_string(i), qvtest::Bytes(100 * i, 5 + i, i % 2), 1700000000);
  stdfs::create_directories(src + "/sans rien/dossier");
  stdfs::create_directories(src + "/autre dossier");
  std::string first;
  for (int threads : {1, 2, 7}) {
    SCOPED_TRACE(threads);
    ZipEngine z;
    std::string zip = t / ("a" + std::to_string(threads) + ".zip");
    ASSERT_EQ(Pack(z, src, zip, threads), 1) << z.ErrorText();
    std::string bytes = ReadFile(zip);
    if (first.empty())
      first = bytes;
    else
      EXPECT_TRUE(bytes == first) << "the archive differs";
  }
  EXPECT_EQ(Extracted(t / "a7.zip", t / "out"), Tree(src));
}

// The workers run ahead of the writer, never further than their budget: with
// the writer taking nothing, they stop; what they read by then is what was
// on the disk before every file was rewritten, and it is bounded.
TEST_F(ZipWriterTest, TheWorkersStayWithinTheirBudgetAheadOfTheWriter) {
  using qv::packing::kMaxJobsAhead;
  struct Case {
    const char* what;
    size_t files, size;
    size_t most;  // pieces that may be claimed while nothing is taken
  };
  // Two threads may have 6 chunks' worth of input ahead.
  const Case cases[] = {
      {"tiny files: the number of jobs", kMaxJobsAhead + 200, 8, kMaxJobsAhead},
      {"200 KiB files: their bytes", 40, 200 << 10, 6 * kChunk / (200 << 10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string src = t / "src";
    stdfs::remove_all(src);
    std::vector<qv::sourcetree::Item> items;
    for (size_t i = 0; i < c.files; ++i) {
      qv::sourcetree::Item item;
      item.path = src + "/" + std::to_string(i);
      item.name = std::to_string(i);
      item.size = static_cast<int64_t>(c.size);
      WriteFile(item.path, std::string(c.size, 'a'));
      items.push_back(item);
    }
    qv::packing::Options options;
    options.threads = 2;
    qv::packing::Pipeline pipeline(items, options);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (const auto& item : items) WriteFile(item.path, std::string(c.size, 'b'));
    uint32_t before = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(std::string(c.size, 'a').data()),
              static_cast<uInt>(c.size)));
    size_t early = 0, count = 0;
    while (auto piece = pipeline.Next(std::chrono::seconds(10))) {
      ASSERT_TRUE(piece->error.empty()) << piece->error;
      EXPECT_EQ(piece->item, count++);
      if (piece->crc == before) ++early;
      if (count == c.files) break;
    }
    EXPECT_EQ(count, c.files);
    EXPECT_GE(early, 1u);
    EXPECT_LE(early, c.most);
  }
}

TEST_F(ZipWriterTest, FilesInPiecesReadBackWithEveryTool) {
  std::string src = t / "src";
  WriteFile(src + "/mélange.bin", Mixed(9, 7), 1700000000);
  WriteFile(src + "/texte.txt", qvtest::Bytes(5 * kChunk + 1, 8, true), 1700000000);
  WriteFile(src + "/bruit.bin", qvtest::Bytes(3 * kChunk, 9), 1700000000);
  ZipEngine z;
  ASSERT_EQ(Pack(z, src, t / "a.zip", 3), 1) << z.ErrorText();
  std::string out;
  EXPECT_EQ(Shell("7zz t " + Quote(t / "a.zip"), &out), 0) << out;
  EXPECT_EQ(Shell("unzip -tq " + Quote(t / "a.zip"), &out), 0) << out;
  EXPECT_EQ(Shell("python3 -c 'import sys, zipfile; "
                  "assert zipfile.ZipFile(sys.argv[1]).testzip() is None' " +
                      Quote(t / "a.zip"),
                  &out),
            0)
      << out;
  EXPECT_EQ(Extracted(t / "a.zip", t / "out"), Tree(src));
  // Incompressible pieces stay deflate, in zlib's stored blocks: a few bytes more.
  Parsed a = Parse(t / "a.zip");
  for (const Record& r : a.records)
    if (r.name == "bruit.bin") {
      EXPECT_EQ(r.method, 8);
      EXPECT_LT(r.compressed, r.size + r.size / 1000);
    }
}

TEST_F(ZipWriterTest, AesEntriesAreWinZipAe2AndOpenWithSevenZip) {
  std::string src = t / "src";
  WriteFile(src + "/petit.txt", qvtest::Bytes(3000, 3, true), 1700000000);
  WriteFile(src + "/bruit.bin", qvtest::Bytes(3000, 1), 1700000000);
  WriteFile(src + "/vide", "", 1700000000);
  WriteFile(src + "/gros.bin", Mixed(5, 2), 1700000000);  // in pieces, encrypted in order
  stdfs::create_directories(src + "/dossier");
  const std::string password = "mötdepasse €";
  for (int bits : {128, 256}) {
    SCOPED_TRACE(bits);
    std::string zip = t / ("aes" + std::to_string(bits) + ".zip");
    ZipEngine z;
    z.Threads(2);
    ASSERT_EQ(z.PrepareArchive(zip), 1);
    z.SetCipher(ZipEngine::kCipherAes);
    z.SetKeyBits(bits);
    z.SetArchivePassword(password);
    z.SetEntryRoot(src);
    z.AddTree(src + "/*", 1);
    ASSERT_EQ(z.WriteAndClose(), 1) << z.ErrorText();

    Parsed a = Parse(zip);
    ASSERT_EQ(a.error, "");
    size_t salt = bits == 128 ? 8 : 16;
    std::map<std::string, Record> byName;
    for (Record& r : a.records) byName[r.name] = r;
    for (const char* name : {"petit.txt", "bruit.bin", "vide", "gros.bin"}) {
      SCOPED_TRACE(name);
      Record& r = byName[name];
      EXPECT_EQ(r.method, 99);
      EXPECT_EQ(r.localMethod, 99);
      EXPECT_EQ(r.flags & 1, 1);
      EXPECT_EQ(r.flags & 8, 0);
      EXPECT_EQ(r.crc, 0u);  // AE-2
      EXPECT_EQ(r.localCrc, 0u);
      EXPECT_EQ(r.needed, 51);
      EXPECT_EQ(r.localCompressed, r.compressed);
      std::string ae = r.extra[0x9901];
      ASSERT_EQ(ae.size(), 7u);
      EXPECT_EQ(ae, r.localExtra[0x9901]);
      EXPECT_EQ(Le(ae, 0, 2), 2u);
      EXPECT_EQ(ae.substr(2, 2), "AE");
      EXPECT_EQ(Le(ae, 4, 1), bits == 128 ? 1u : 3u);
      uint64_t real = Le(ae, 5, 2);
      if (std::string(name) == "vide" || std::string(name) == "bruit.bin") {
        EXPECT_EQ(real, 0u);
        EXPECT_EQ(r.compressed, r.size + salt + 2 + 10);
      } else {
        EXPECT_EQ(real, 8u);
      }
    }
    EXPECT_EQ(byName["dossier/"].method, 0);
    EXPECT_EQ(byName["dossier/"].flags & 1, 0);
    std::string out;
    EXPECT_EQ(Shell("7zz t -p" + Quote(password) + " " + Quote(zip), &out), 0) << out;
    EXPECT_NE(Shell("7zz t -pfaux " + Quote(zip), &out), 0) << out;
    ZipEngine r;
    ASSERT_EQ(r.OpenArchive(zip), 1);
    r.SetExtractPassword(password);
    EXPECT_EQ(r.PasswordMatches(), 1);
    ASSERT_GE(r.ExtractAll(t / ("out" + std::to_string(bits))), 0) << r.ErrorText();
    EXPECT_EQ(Tree(t / ("out" + std::to_string(bits))), Tree(src));
  }
  // A fresh salt per entry: the same tree twice never gives the same bytes.
  ZipEngine z;
  ASSERT_EQ(qvtest::Pack(z, src, t / "encore.zip", password), 1);
  ASSERT_EQ(qvtest::Pack(z, src, t / "encore2.zip", password), 1);
  EXPECT_NE(ReadFile(t / "encore.zip"), ReadFile(t / "encore2.zip"));
}

// ---- ways out ----------------------------------------------------------------

TEST_F(ZipWriterTest, ACancelInsideALargeFileEndsAtOnceAndLeavesTheOldArchive) {
  WriteFile(t / "src/énorme.bin", qvtest::Bytes(48 << 20, 11));
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);  // the cancel from PercentDone, from AbortCheck, the process ending
    WriteFile(t / "src.zip", "ancienne");
    ZipEngine z;
    std::optional<std::chrono::steady_clock::time_point> asked;
    auto now = [] { return std::chrono::steady_clock::now(); };
    z.PercentDone = [&](int32_t p, int32_t& abort) {
      if (p < 20) return;
      if (!asked) asked = now();
      if (mode == 0) abort = 1;
      if (mode == 2) qv::EndProcess(qv::kExitCancelled);
    };
    z.AbortCheck = [&](int32_t& abort) {
      if (mode == 1 && asked) abort = 1;
    };
    if (mode == 2) {
      EXPECT_THROW(Pack(z, t / "src", t / "src.zip", 2), qv::ProcessEnded);
    } else {
      EXPECT_EQ(Pack(z, t / "src", t / "src.zip", 2), 0);
      EXPECT_EQ(z.ErrorText(), "Opération annulée.");
    }
    ASSERT_TRUE(asked);
    EXPECT_LT(now() - *asked, std::chrono::milliseconds(500));
    EXPECT_EQ(ReadFile(t / "src.zip"), "ancienne");
    EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src", "src.zip"}));
  }
}

TEST_F(ZipWriterTest, ALargeFileThatChangesFailsTheRunAndLeavesNothing) {
  std::string src = t / "src", big = src + "/gros.bin";
  struct Change {
    const char* what;
    bool beforeWrite;  // between the collection and the write, else during it
    std::function<void()> make;
    std::string reason;
  };
  std::string changed = "Le fichier « " + big + " » a changé pendant la compression.";
  std::vector<Change> changes = {
      {"grown", true, [&] { std::ofstream(big, std::ios::app) << "plus"; }, changed},
      {"shrunk", true, [&] { stdfs::resize_file(big, 5 * kChunk); }, changed},
      {"shrunk while written", false, [&] { stdfs::resize_file(big, 2 * kChunk + 5); }, changed},
      {"removed", true, [&] { stdfs::remove(big); },
       "Impossible de lire le fichier « " + big + " » : "},
      {"a fifo", true,
       [&] {
         stdfs::remove(big);
         ::mkfifo(big.c_str(), 0644);
       },
       "Impossible de lire le fichier « " + big + " » : ce n'est plus un fichier ordinaire."},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    stdfs::remove_all(src);
    WriteFile(src + "/a.txt", "a");
    WriteFile(big, Mixed(7, 12));
    WriteFile(src + "/z.txt", "z");
    WriteFile(t / "src.zip", "ancienne");
    ZipEngine z;
    z.Threads(2);
    ASSERT_EQ(z.PrepareArchive(t / "src.zip"), 1);
    z.SetEntryRoot(src);
    ASSERT_EQ(z.AddTree(src + "/*", 1), 1);
    bool done = false;
    if (c.beforeWrite) c.make();
    z.PercentDone = [&](int32_t p, int32_t&) {
      if (!c.beforeWrite && p > 0 && !done) {
        done = true;
        c.make();
      }
    };
    EXPECT_EQ(z.WriteAndClose(), 0);
    EXPECT_EQ(z.ErrorText().substr(0, c.reason.size()), c.reason) << z.ErrorText();
    EXPECT_EQ(ReadFile(t / "src.zip"), "ancienne");
    EXPECT_EQ(Names(t.path()), (std::vector<std::string>{"src", "src.zip"}));
  }
}

}  // namespace
