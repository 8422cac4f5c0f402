#include "engine/ZipDirectory.h"

#include <algorithm>
#include <memory>

#include "engine/FileSystem.h"

namespace qv::zipdir {
namespace {
uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t U64(const unsigned char* p) {
  return static_cast<uint64_t>(U32(p)) | (static_cast<uint64_t>(U32(p + 4)) << 32);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

bool ReadAt(std::FILE* f, int64_t pos, unsigned char* buf, size_t n) {
  return fs::Seek(f, pos, SEEK_SET) && std::fread(buf, 1, n, f) == n;
}

// A directory larger than this is not a real one (and must not exhaust memory).
constexpr uint64_t kMaxDirectory = 512ull << 20;
}  // namespace

bool Read(const std::string& path, std::vector<Entry>& entries) {
  entries.clear();
  std::unique_ptr<std::FILE, FileCloser> f(fs::OpenRead(path));
  if (!f || !fs::Seek(f.get(), 0, SEEK_END)) return false;
  int64_t size = fs::Tell(f.get());
  if (size < 22) return false;

  // The end record is in the last 22 + 65535 bytes (its comment is at most 64 KiB).
  int64_t tailLen = std::min<int64_t>(size, 22 + 65535);
  std::vector<unsigned char> tail(static_cast<size_t>(tailLen));
  if (!ReadAt(f.get(), size - tailLen, tail.data(), tail.size())) return false;
  int64_t eocd = -1;
  for (int64_t i = tailLen - 22; i >= 0; --i) {
    if (U32(&tail[static_cast<size_t>(i)]) == 0x06054b50) {
      eocd = i;
      break;
    }
  }
  if (eocd < 0) return false;
  const unsigned char* e = &tail[static_cast<size_t>(eocd)];
  int64_t eocdPos = size - tailLen + eocd;
  uint64_t count = U16(e + 10);
  uint64_t cdSize = U32(e + 12);
  int64_t cdEnd = eocdPos;

  // Zip64: the locator sits just before the end record.
  if (eocdPos >= 20) {
    unsigned char loc[20];
    if (ReadAt(f.get(), eocdPos - 20, loc, 20) && U32(loc) == 0x07064b50) {
      int64_t z64 = static_cast<int64_t>(U64(loc + 8));
      unsigned char rec[56];
      // The record's recorded offset is wrong when data precedes the archive;
      // it ends right before the locator in either case.
      int64_t z64pos = eocdPos - 20 - 56;
      if (z64pos >= 0 && ReadAt(f.get(), z64pos, rec, 56) && U32(rec) == 0x06064b50) {
        z64 = z64pos;
      } else if (!(z64 >= 0 && ReadAt(f.get(), z64, rec, 56) && U32(rec) == 0x06064b50)) {
        return false;
      }
      count = U64(rec + 32);
      cdSize = U64(rec + 40);
      cdEnd = z64;
    }
  }
  if (cdSize > kMaxDirectory || static_cast<int64_t>(cdSize) > cdEnd) return false;
  std::vector<unsigned char> cd(static_cast<size_t>(cdSize));
  if (cdSize > 0 && !ReadAt(f.get(), cdEnd - static_cast<int64_t>(cdSize), cd.data(), cd.size()))
    return false;

  size_t p = 0;
  for (uint64_t n = 0; n < count; ++n) {
    if (p + 46 > cd.size() || U32(&cd[p]) != 0x02014b50) return false;
    const unsigned char* h = &cd[p];
    Entry en;
    en.flags = U16(h + 8);
    en.method = U16(h + 10);
    en.compressedSize = U32(h + 20);
    en.uncompressedSize = U32(h + 24);
    size_t nameLen = U16(h + 28), extraLen = U16(h + 30), commentLen = U16(h + 32);
    if (p + 46 + nameLen + extraLen + commentLen > cd.size()) return false;
    en.rawName.assign(reinterpret_cast<const char*>(h + 46), nameLen);
    const unsigned char* x = h + 46 + nameLen;
    const unsigned char* xEnd = x + extraLen;
    while (x + 4 <= xEnd) {
      uint16_t id = U16(x), len = U16(x + 2);
      if (x + 4 + len > xEnd) break;
      if (id == 0x0001) {
        const unsigned char* v = x + 4;
        const unsigned char* vEnd = v + len;
        if (en.uncompressedSize == 0xFFFFFFFFu && v + 8 <= vEnd) {
          en.uncompressedSize = U64(v);
          v += 8;
        }
        if (en.compressedSize == 0xFFFFFFFFu && v + 8 <= vEnd) en.compressedSize = U64(v);
      } else if (id == 0x7075 && len > 5 && x[4] == 1) {
        en.unicodePath.assign(reinterpret_cast<const char*>(x + 9), len - 5);
      }
      x += 4 + len;
    }
    entries.push_back(std::move(en));
    p += 46 + nameLen + extraLen + commentLen;
  }
  return true;
}

}  // namespace qv::zipdir
