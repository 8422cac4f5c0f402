// A file over 4 GiB needs zip64: written, checked by 7-Zip, Info-ZIP,
// bsdtar and Python's zipfile, read back. And 70,000 entries extracted.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <sstream>

#include "PeerChecks.h"
#include "ZipTestUtil.h"
#include "engine/ZipEngine.h"

namespace {

constexpr int64_t kSize = (int64_t{4} << 30) + (int64_t{300} << 20);

std::string ReadAt(const std::string& path, int64_t offset, size_t n) {
  std::string s(n, '\0');
  int fd = ::open(path.c_str(), O_RDONLY);
  ssize_t got = ::pread(fd, s.data(), n, offset);
  ::close(fd);
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return s;
}

uint32_t FileCrc(const std::string& path, int64_t& size) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::vector<unsigned char> buf(1 << 20);
  uLong crc = crc32(0, nullptr, 0);
  size = 0;
  for (size_t n; f && (n = std::fread(buf.data(), 1, buf.size(), f)) > 0; size += static_cast<int64_t>(n))
    crc = crc32(crc, buf.data(), static_cast<uInt>(n));
  if (f) std::fclose(f);
  return static_cast<uint32_t>(crc);
}

std::string Hex8(uint32_t v) {
  char s[9];
  std::snprintf(s, sizeof s, "%08X", v);
  return s;
}

// The size and CRC each tool reports for `name` in `zip`, as "<size> <CRC>"
// (CRC in capitals), or what went wrong.
std::string SevenZipSays(const std::string& zip, const std::string& name) {
  std::string out;
  if (qvtest::Shell("7zz l -slt " + qvtest::Quote(zip), &out) != 0) return "7zz l failed: " + out;
  size_t at = out.find("\nPath = " + name + "\n");
  if (at == std::string::npos) return "7zz does not list " + name;
  auto field = [&](const std::string& key) {
    size_t f = out.find("\n" + key + " = ", at);
    return f == std::string::npos ? std::string() : out.substr(f + key.size() + 4, out.find('\n', f + 1) - f - key.size() - 4);
  };
  return field("Size") + " " + field("CRC");
}
std::string UnzipSays(const std::string& zip, const std::string& name) {
  std::string out;
  if (qvtest::Shell("unzip -v " + qvtest::Quote(zip), &out) != 0) return "unzip -v failed: " + out;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.size() < name.size() || line.compare(line.size() - name.size(), name.size(), name) != 0) continue;
    std::istringstream f(line);
    std::string length, method, size, ratio, date, time, crc;
    f >> length >> method >> size >> ratio >> date >> time >> crc;
    for (char& c : crc) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return length + " " + crc;
  }
  return "unzip -v does not list " + name + ":\n" + out;
}
// bsdtar reads the entry through (checking its CRC as it goes) into a counter.
std::string BsdtarSays(const std::string& zip, const std::string& name) {
  std::string out;
  const std::string pipeline = "set -o pipefail; bsdtar -xOf " + qvtest::Quote(zip) + " " +
                               qvtest::Quote(name) +
                               " | python3 -c 'import sys, zlib\nc = n = 0\n"
                               "while b := sys.stdin.buffer.read(1 << 20): c = zlib.crc32(b, c); n += len(b)\n"
                               "print(n, \"%08X\" % c)'";
  int status = qvtest::Shell("bash -c " + qvtest::Quote(pipeline), &out);
  if (status != 0) return "bsdtar -xO failed: " + out;
  return out.substr(0, out.find('\n'));
}

TEST(LargeFile, OverFourGiBRoundTripsThroughZip64) {
  qvtest::TempDir t;
  std::string big = t / "src/énorme.bin";
  std::string head = qvtest::Bytes(1 << 20, 11), tail = qvtest::Bytes(1 << 20, 12);
  qvtest::WriteFile(big, head);
  {
    int fd = ::open(big.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), kSize - static_cast<int64_t>(tail.size())),
              static_cast<ssize_t>(tail.size()));
    ::close(fd);
  }
  qvtest::WriteFile(t / "src/petit.txt", "après le gros");

  qv::ZipEngine z;
  std::vector<int32_t> percents;
  z.PercentDone = [&](int32_t p, int32_t&) { percents.push_back(p); };
  ASSERT_EQ(z.PrepareArchive(t / "src.zip"), 1);
  z.SetEntryRoot(t / "src");
  z.AddTree(t / "src/*", 1);
  ASSERT_EQ(z.WriteAndClose(), 1) << z.ErrorText();
  EXPECT_EQ(percents.back(), 100);
  EXPECT_GT(percents.size(), 90u);

  // Every tool agrees on the big entry's size and CRC, and only that entry
  // carries a zip64 field.
  std::string zip = t / "src.zip";
  int64_t size = 0;
  const std::string want = std::to_string(kSize) + " " + Hex8(FileCrc(big, size));
  ASSERT_EQ(size, kSize);
  EXPECT_TRUE(qvtest::SevenZipTests(zip));
  EXPECT_TRUE(qvtest::UnzipTests(zip));
  EXPECT_EQ(SevenZipSays(zip, "énorme.bin"), want);
  EXPECT_EQ(UnzipSays(zip, "énorme.bin"), want);
  EXPECT_EQ(BsdtarSays(zip, "énorme.bin"), want);
  qvtest::ZipView v = qvtest::Inspect(zip);
  EXPECT_EQ(v.testzip, "ok") << v.raw;
  ASSERT_EQ(v.entries.size(), 2u) << v.raw;
  for (const auto& e : v.entries) {
    SCOPED_TRACE(e.name);
    bool isBig = e.name == "énorme.bin";
    if (isBig) {
      EXPECT_EQ(std::to_string(e.size) + " " + Hex8(e.crc), want);
    } else {
      EXPECT_FALSE(e.zip64Local);
    }
    EXPECT_EQ(e.zip64Central, isBig);
    EXPECT_TRUE(e.localAgrees);
  }

  qv::ZipEngine r;
  ASSERT_EQ(r.OpenArchive(t / "src.zip"), 1);
  ASSERT_EQ(r.ExtractAll(t / "out"), 2) << r.ErrorText();
  std::string out = t / "out/énorme.bin";
  EXPECT_EQ(static_cast<int64_t>(qvtest::stdfs::file_size(out)), kSize);
  EXPECT_EQ(ReadAt(out, 0, head.size()), head);
  EXPECT_EQ(ReadAt(out, kSize - static_cast<int64_t>(tail.size()), tail.size()), tail);
  EXPECT_EQ(qvtest::ReadFile(t / "out/petit.txt"), "après le gros");
}

// Our own extraction writes every one of 70,000 entries (more than the end
// record's 16-bit count): each file is synced before its rename, so this
// takes a minute or more.
TEST(LargeFile, SeventyThousandEntriesAllExtracted) {
  qvtest::TempDir t;
  std::string src = t / "src";
  const size_t entries = qvtest::ManySmallFiles(src, 280, 250) + 280;
  qv::ZipEngine z;
  ASSERT_EQ(qvtest::Pack(z, src, t / "many.zip"), 1) << z.ErrorText();
  qv::ZipEngine r;
  ASSERT_EQ(r.OpenArchive(t / "many.zip"), 1) << r.ErrorText();
  EXPECT_EQ(r.EntryCount(), static_cast<int64_t>(entries));
  EXPECT_EQ(r.ExtractAll(t / "out"), static_cast<int32_t>(entries)) << r.ErrorText();
  EXPECT_EQ(r.AllEntriesExtracted(), 1);
  EXPECT_TRUE(qvtest::Tree(t / "out") == qvtest::Tree(src));
}

}  // namespace
