#include "engine/ZipWriter.h"

#include <ctime>

#include "engine/FileSystem.h"
#include "engine/ZipDirectory.h"

namespace qv::zipwrite {
namespace {

constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMax16 = 0xFFFF;
constexpr uint16_t kAesMethod = 99;
constexpr uint16_t kFlagEncrypted = 1 << 0;
constexpr uint16_t kFlagUtf8 = 1 << 11;
// Unix (3) in the high byte, so readers take the attributes as Unix modes;
// APPNOTE 6.3 in the low byte.
constexpr uint16_t kMadeBy = (3 << 8) | 63;
constexpr uint32_t kFileAttributes = 0100644u << 16;
constexpr uint32_t kFolderAttributes = (040755u << 16) | 0x10;  // 0x10: the DOS folder bit

class Bytes {
 public:
  void u16(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
  void u64(uint64_t v) {
    u32(static_cast<uint32_t>(v));
    u32(static_cast<uint32_t>(v >> 32));
  }
  void raw(const void* p, size_t n) {
    auto* c = static_cast<const uint8_t*>(p);
    b.insert(b.end(), c, c + n);
  }
  std::vector<uint8_t> b;
};

bool Ascii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

uint16_t Flags(const Entry& e) {
  uint16_t f = 0;
  if (e.aesStrength) f |= kFlagEncrypted;
  if (!Ascii(e.name)) f |= kFlagUtf8;
  return f;
}

uint16_t VersionNeeded(const Entry& e, bool zip64) {
  if (e.aesStrength) return 51;
  return zip64 ? 45 : 20;
}

// The Unix time in the extended timestamp field is a signed 32-bit count to
// Info-ZIP, but libarchive and 7-Zip read it unsigned: a time before 1970
// would come back after 2038, newer than anything. Those are stored as 1970.
uint32_t UnixTime32(int64_t t) {
  if (t < 0) t = 0;
  if (t > INT32_MAX) t = INT32_MAX;
  return static_cast<uint32_t>(static_cast<int32_t>(t));
}

}  // namespace

uint64_t DeflateBound(uint64_t size, uint64_t pieces) {
  // zlib's own bound for stored blocks (5 bytes per 16 KiB block and a few for
  // the stream), widened, plus what a sync flush adds to each piece.
  return size + (size >> 11) + 16 * (pieces + 1) + 64;
}

uint32_t DosDateTime(int64_t mtime) {
  std::time_t t = static_cast<std::time_t>(mtime);
  std::tm tm{};
#ifdef _WIN32
  bool ok = localtime_s(&tm, &t) == 0;
#else
  bool ok = localtime_r(&t, &tm) != nullptr;
#endif
  if (!ok || tm.tm_year < 80) return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00
  if (tm.tm_year > 207) return (127u << 9 | 12u << 5 | 31u) << 16 | (23u << 11 | 59u << 5 | 29u);
  uint32_t date = static_cast<uint32_t>((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
  uint32_t time = static_cast<uint32_t>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
  return date << 16 | time;
}

ZipWriter::ZipWriter(std::FILE* out) : out_(out) {
  int64_t at = fs::Tell(out);
  ok_ = at >= 0;
  pos_ = at >= 0 ? static_cast<uint64_t>(at) : 0;
  writtenBack_ = pos_;
}

bool ZipWriter::Put(const void* data, size_t n) {
  if (!ok_) return false;
  if (n && std::fwrite(data, 1, n, out_) != n) ok_ = false;
  pos_ += n;
  // The archive is synced to the disk at the end: start on it while the
  // workers are still compressing rather than wait for all of it then.
  if (ok_ && pos_ >= writtenBack_ + kWriteBackStep) {
    if (!fs::StartWriteBack(out_, static_cast<int64_t>(writtenBack_))) ok_ = false;
    writtenBack_ = pos_;
  }
  return ok_;
}

std::vector<uint8_t> ZipWriter::Extra(const Record& r, bool central) const {
  const Entry& e = r.e;
  Bytes x;
  if (!central) {
    if (r.localZip64) {
      // Both sizes, always, in a local header.
      x.u16(0x0001);
      x.u16(16);
      x.u64(e.size);
      x.u64(e.compressedSize);
    }
  } else {
    bool bigSize = r.localZip64 || e.size >= kMax32;
    bool bigCompressed = r.localZip64 || e.compressedSize >= kMax32;
    bool bigOffset = r.offset >= kMax32;
    if (bigSize || bigCompressed || bigOffset) {
      // Only the fields whose 32-bit value says "look in zip64", in this order.
      x.u16(0x0001);
      x.u16(8 * (bigSize + bigCompressed + bigOffset));
      if (bigSize) x.u64(e.size);
      if (bigCompressed) x.u64(e.compressedSize);
      if (bigOffset) x.u64(r.offset);
    }
  }
  // Extended timestamp: the modification time in UTC, which DOS times lack.
  x.u16(0x5455);
  x.u16(5);
  x.b.push_back(1);
  x.u32(UnixTime32(e.mtime));
  if (e.aesStrength) {
    // WinZip AE-2, vendor "AE", the key strength and the method really used.
    x.u16(0x9901);
    x.u16(7);
    x.u16(2);
    x.raw("AE", 2);
    x.b.push_back(static_cast<uint8_t>(e.aesStrength));
    x.u16(e.method);
  }
  return x.b;
}

bool ZipWriter::PutLocal(const Record& r) {
  const Entry& e = r.e;
  std::vector<uint8_t> extra = Extra(r, false);
  uint32_t dos = DosDateTime(e.mtime);
  Bytes h;
  h.u32(0x04034b50);
  h.u16(VersionNeeded(e, r.localZip64));
  h.u16(Flags(e));
  h.u16(e.aesStrength ? kAesMethod : e.method);
  h.u16(dos & 0xFFFF);
  h.u16(dos >> 16);
  h.u32(e.aesStrength ? 0 : e.crc);
  h.u32(r.localZip64 ? kMax32 : static_cast<uint32_t>(e.compressedSize));
  h.u32(r.localZip64 ? kMax32 : static_cast<uint32_t>(e.size));
  h.u16(static_cast<uint32_t>(e.name.size()));
  h.u16(static_cast<uint32_t>(extra.size()));
  h.raw(e.name.data(), e.name.size());
  h.raw(extra.data(), extra.size());
  return Put(h.b.data(), h.b.size());
}

bool ZipWriter::Add(const Entry& e, const uint8_t* data) {
  if (open_ || e.name.size() > kMax16) return ok_ = false;
  Record r{e, pos_, e.size >= kMax32 || e.compressedSize >= kMax32};
  if (!PutLocal(r) || !Put(data, static_cast<size_t>(e.compressedSize))) return false;
  records_.push_back(std::move(r));
  return true;
}

bool ZipWriter::AddFolder(const std::string& name, int64_t mtime) {
  Entry e;
  e.name = name;
  if (e.name.empty() || e.name.back() != '/') e.name += '/';
  e.mtime = mtime;
  e.isDir = true;
  return Add(e, nullptr);
}

bool ZipWriter::Begin(const Entry& e, uint64_t bound) {
  if (open_ || e.name.size() > kMax16) return ok_ = false;
  Record r{e, pos_, e.size >= kMax32 || bound >= kMax32};
  r.e.compressedSize = 0;
  if (!PutLocal(r)) return false;
  dataStart_ = pos_;
  records_.push_back(std::move(r));
  open_ = true;
  return true;
}

bool ZipWriter::Append(const uint8_t* data, size_t n) { return open_ && Put(data, n); }

bool ZipWriter::End(uint32_t crc) {
  if (!open_ || !ok_) return false;
  open_ = false;
  Record& r = records_.back();
  r.e.compressedSize = pos_ - dataStart_;
  r.e.crc = crc;
  // The bound promised a size that fits the header as it was written.
  if (!r.localZip64 && r.e.compressedSize >= kMax32) return ok_ = false;
  if (std::fflush(out_) != 0) return ok_ = false;
  Bytes crcField;
  crcField.u32(r.e.aesStrength ? 0 : crc);
  Bytes sizeField;
  if (r.localZip64)
    sizeField.u64(r.e.compressedSize);
  else
    sizeField.u32(static_cast<uint32_t>(r.e.compressedSize));
  int64_t sizeAt = static_cast<int64_t>(r.offset) +
                   (r.localZip64 ? static_cast<int64_t>(30 + r.e.name.size() + 4 + 8) : 18);
  bool patched = fs::Seek(out_, static_cast<int64_t>(r.offset) + 14, SEEK_SET) &&
                 std::fwrite(crcField.b.data(), 1, 4, out_) == 4 &&
                 fs::Seek(out_, sizeAt, SEEK_SET) &&
                 std::fwrite(sizeField.b.data(), 1, sizeField.b.size(), out_) == sizeField.b.size() &&
                 std::fflush(out_) == 0 && fs::Seek(out_, static_cast<int64_t>(pos_), SEEK_SET);
  return ok_ = patched;
}

bool ZipWriter::Finish() {
  if (open_ || !ok_) return ok_ = false;
  uint64_t start = pos_;
  for (const Record& r : records_) {
    const Entry& e = r.e;
    std::vector<uint8_t> extra = Extra(r, true);
    bool zip64 = r.localZip64 || e.size >= kMax32 || e.compressedSize >= kMax32 ||
                 r.offset >= kMax32;
    uint32_t dos = DosDateTime(e.mtime);
    Bytes c;
    c.u32(0x02014b50);
    c.u16(kMadeBy);
    c.u16(VersionNeeded(e, zip64));
    c.u16(Flags(e));
    c.u16(e.aesStrength ? kAesMethod : e.method);
    c.u16(dos & 0xFFFF);
    c.u16(dos >> 16);
    c.u32(e.aesStrength ? 0 : e.crc);
    c.u32(r.localZip64 || e.compressedSize >= kMax32 ? kMax32
                                                     : static_cast<uint32_t>(e.compressedSize));
    c.u32(r.localZip64 || e.size >= kMax32 ? kMax32 : static_cast<uint32_t>(e.size));
    c.u16(static_cast<uint32_t>(e.name.size()));
    c.u16(static_cast<uint32_t>(extra.size()));
    c.u16(0);  // comment
    c.u16(0);  // disk
    c.u16(0);  // internal attributes
    c.u32(e.isDir ? kFolderAttributes : kFileAttributes);
    c.u32(r.offset >= kMax32 ? kMax32 : static_cast<uint32_t>(r.offset));
    c.raw(e.name.data(), e.name.size());
    c.raw(extra.data(), extra.size());
    if (!Put(c.b.data(), c.b.size())) return false;
  }
  // The end records start where the directory ends: at pos_.
  std::string end = zipdir::EndRecords(records_.size(), pos_ - start, start, kMadeBy);
  return Put(end.data(), end.size()) &&
         (std::fflush(out_) == 0 || (ok_ = false));
}

}  // namespace qv::zipwrite
