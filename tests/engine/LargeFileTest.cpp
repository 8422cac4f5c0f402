// A file over 4 GiB needs zip64: written, checked by 7-Zip, read back.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

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

  std::string cmd = "LANG=C.UTF-8 7zz t '" + t / "src.zip" + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);

  qv::ZipEngine r;
  ASSERT_EQ(r.OpenArchive(t / "src.zip"), 1);
  ASSERT_EQ(r.ExtractAll(t / "out"), 2) << r.ErrorText();
  std::string out = t / "out/énorme.bin";
  EXPECT_EQ(static_cast<int64_t>(qvtest::stdfs::file_size(out)), kSize);
  EXPECT_EQ(ReadAt(out, 0, head.size()), head);
  EXPECT_EQ(ReadAt(out, kSize - static_cast<int64_t>(tail.size()), tail.size()), tail);
  EXPECT_EQ(qvtest::ReadFile(t / "out/petit.txt"), "après le gros");
}

}  // namespace
