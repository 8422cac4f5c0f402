#include "engine/ZipDirectory.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

#include "engine/EntryNames.h"
#include "engine/FileSystem.h"
#include "engine/PathText.h"

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
void Put16(std::string& s, uint64_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>((v >> 8) & 0xff);
}
void Put32(std::string& s, uint64_t v) {
  Put16(s, v & 0xffff);
  Put16(s, (v >> 16) & 0xffff);
}
void Put64(std::string& s, uint64_t v) {
  Put32(s, v & 0xffffffffu);
  Put32(s, v >> 32);
}

constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kEnd64Sig = 0x06064b50;
constexpr uint32_t kLocator64Sig = 0x07064b50;
constexpr uint16_t kZip64Extra = 0x0001;
constexpr uint16_t kUnicodePathExtra = 0x7075;
constexpr uint16_t kAesExtra = 0x9901;

bool ReadAt(std::FILE* f, int64_t pos, unsigned char* buf, size_t n) {
  return pos >= 0 && fs::Seek(f, pos, SEEK_SET) && std::fread(buf, 1, n, f) == n;
}

// A directory larger than this is not a real one (and must not exhaust memory).
constexpr uint64_t kMaxDirectory = 512ull << 20;
// End-record signatures tried from the end of the file; beyond that it is
// not an archive but a file made of signatures.
constexpr int kMaxCandidates = 64;

const char* kUnreadable = "L'archive est endommagée : son répertoire est introuvable ou illisible.";

// Parses one directory record at `h` (bounds already checked for the fixed
// part); false when its variable part does not fit in `end`.
bool ParseRecord(const unsigned char* h, const unsigned char* end, Entry& en, size_t& length) {
  en.madeBy = U16(h + 4);
  en.needed = U16(h + 6);
  en.flags = U16(h + 8);
  en.method = U16(h + 10);
  en.dosTime = U16(h + 12);
  en.dosDate = U16(h + 14);
  en.crc = U32(h + 16);
  en.compressedSize = U32(h + 20);
  en.uncompressedSize = U32(h + 24);
  size_t nameLen = U16(h + 28), extraLen = U16(h + 30), commentLen = U16(h + 32);
  en.internalAttributes = U16(h + 36);
  en.externalAttributes = U32(h + 38);
  en.localOffset = U32(h + 42);
  length = 46 + nameLen + extraLen + commentLen;
  if (static_cast<size_t>(end - h) < length) return false;
  en.rawName.assign(reinterpret_cast<const char*>(h + 46), nameLen);
  const unsigned char* x = h + 46 + nameLen;
  const unsigned char* xEnd = x + extraLen;
  while (xEnd - x >= 4) {
    uint16_t id = U16(x), len = U16(x + 2);
    if (xEnd - x - 4 < len) break;  // a damaged field ends the list
    const unsigned char* v = x + 4;
    if (id == kZip64Extra) {
      // Only the values whose 32-bit field is saturated are there, in this order.
      const unsigned char* vEnd = v + len;
      auto take = [&](uint64_t& value) {
        if (value != 0xFFFFFFFFu) return true;
        if (vEnd - v < 8) return false;
        value = U64(v);
        v += 8;
        return true;
      };
      if (!take(en.uncompressedSize) || !take(en.compressedSize) || !take(en.localOffset))
        return false;
    } else {
      if (id == kUnicodePathExtra && len > 5 && v[0] == 1 &&
          U32(v + 1) == static_cast<uint32_t>(crc32(0, h + 46, static_cast<uInt>(nameLen)))) {
        std::string u(reinterpret_cast<const char*>(v + 5), len - 5);
        if (entrynames::IsValidUtf8(u)) en.unicodePath = std::move(u);
      }
      if (id == kAesExtra && len >= 7 && v[2] == 'A' && v[3] == 'E') {
        en.aesVersion = U16(v);
        en.aesKeyBits = v[4] == 1 ? 128 : v[4] == 2 ? 192 : v[4] == 3 ? 256 : 0;
        en.aesMethod = U16(v + 5);
      }
      en.extra.append(reinterpret_cast<const char*>(x), 4 + len);
    }
    x += 4 + len;
  }
  return true;
}

struct Candidate {
  int64_t endPos = 0;       // position of the end record
  bool reachesEnd = false;  // its comment ends exactly where the file ends
};

// Reads the directory that the end record at `c` describes, or false (and
// `why`) when it does not describe a valid one.
bool LoadFrom(std::FILE* f, const unsigned char* e, const Candidate& c, Directory& dir,
              std::string& why) {
  dir = Directory();
  why = kUnreadable;
  // One volume only: disk numbers 0, every entry on it.
  if (U16(e + 4) != 0 || U16(e + 6) != 0 || U16(e + 8) != U16(e + 10)) return false;
  uint64_t cdSize = U32(e + 12);
  uint64_t cdOffset = U32(e + 16);
  int64_t cdEnd = c.endPos;

  // Zip64: the locator sits just before the end record, the zip64 end record
  // just before the locator (its recorded offset is wrong when data were
  // prepended to the archive, so the place before the locator comes first).
  unsigned char loc[20];
  if (c.endPos >= 20 && ReadAt(f, c.endPos - 20, loc, 20) && U32(loc) == kLocator64Sig) {
    unsigned char rec[56];
    int64_t z64 = c.endPos - 20 - 56;
    if (!(z64 >= 0 && ReadAt(f, z64, rec, 56) && U32(rec) == kEnd64Sig)) {
      z64 = static_cast<int64_t>(std::min<uint64_t>(U64(loc + 8), INT64_MAX));
      if (!(z64 + 56 <= c.endPos && ReadAt(f, z64, rec, 56) && U32(rec) == kEnd64Sig)) return false;
    }
    if (U32(rec + 16) != 0 || U32(rec + 20) != 0 || U64(rec + 24) != U64(rec + 32)) return false;
    cdSize = U64(rec + 40);
    cdOffset = U64(rec + 48);
    cdEnd = z64;
  }
  // A directory size of 0 beside an offset that leaves room for records
  // (some writers leave both the count and the size at 0): the records are
  // read from that offset up to the end records, as 7-Zip reads them.
  if (cdSize == 0 && cdOffset < static_cast<uint64_t>(cdEnd)) {
    unsigned char sig[4];
    if (ReadAt(f, static_cast<int64_t>(cdOffset), sig, 4) && U32(sig) == kCentralSig)
      cdSize = static_cast<uint64_t>(cdEnd) - cdOffset;
  }
  if (cdSize > kMaxDirectory || cdSize > static_cast<uint64_t>(cdEnd)) return false;
  // The directory ends where the end records begin; what comes before the
  // place its offset names was prepended to the archive.
  uint64_t cdStart = static_cast<uint64_t>(cdEnd) - cdSize;
  if (cdOffset > cdStart) return false;
  uint64_t shift = cdStart - cdOffset;

  std::vector<unsigned char> cd(static_cast<size_t>(cdSize));
  if (cdSize > 0 && !ReadAt(f, static_cast<int64_t>(cdStart), cd.data(), cd.size())) return false;
  // Walked record by record over the whole size: the count the end record
  // gives is not trusted.
  const unsigned char* end = cd.data() + cd.size();
  for (const unsigned char* h = cd.data(); h != end;) {
    if (end - h < 46 || U32(h) != kCentralSig) return false;
    Entry en;
    size_t length = 0;
    if (!ParseRecord(h, end, en, length)) return false;
    if (en.localOffset > cdStart - shift) return false;
    en.localOffset += shift;
    dir.entries.push_back(std::move(en));
    h += length;
  }

  std::stable_sort(dir.entries.begin(), dir.entries.end(),
                   [](const Entry& a, const Entry& b) { return a.localOffset < b.localOffset; });
  dir.directoryStart = cdStart;
  for (Entry& en : dir.entries) {
    unsigned char lh[30];
    if (en.localOffset + 30 > cdStart || !ReadAt(f, static_cast<int64_t>(en.localOffset), lh, 30) ||
        U32(lh) != kLocalSig) {
      why = "L'archive est endommagée : l'en-tête de l'élément « " + DecodedName(en, 850) +
            " » est introuvable.";
      return false;
    }
    en.dataOffset = en.localOffset + 30 + U16(lh + 26) + U16(lh + 28);
  }
  // One region of data per entry, all of them before the directory: archives
  // whose entries share their data (the small archives that unfold into
  // terabytes) or whose data run into the directory are refused outright.
  for (size_t i = 0; i < dir.entries.size(); ++i) {
    const Entry& en = dir.entries[i];
    uint64_t limit = i + 1 < dir.entries.size() ? dir.entries[i + 1].localOffset : cdStart;
    bool fits = en.dataOffset <= limit && en.compressedSize <= limit - en.dataOffset;
    if (fits) continue;
    if (en.dataOffset <= cdStart && en.compressedSize <= cdStart - en.dataOffset &&
        i + 1 < dir.entries.size()) {
      why = "Archive refusée : les éléments « " + DecodedName(en, 850) + " » et « " +
            DecodedName(dir.entries[i + 1], 850) + " » se partagent les mêmes données.";
    } else {
      why = "Archive refusée : les données de l'élément « " + DecodedName(en, 850) +
            " » débordent sur le répertoire de l'archive.";
    }
    dir.entries.clear();
    return false;
  }
  why.clear();
  return true;
}
}  // namespace

bool Entry::isDir() const {
  // The rules libarchive applies too, so that both readers agree.
  if (!rawName.empty() && (rawName.back() == '/' || rawName.back() == '\\')) return true;
  uint8_t host = static_cast<uint8_t>(madeBy >> 8);
  if (host == 3) return ((externalAttributes >> 28) & 0xF) == 4;
  return host == 0 && (externalAttributes & 0x10) != 0;
}

bool Entry::isLink() const {
  return (madeBy >> 8) == 3 && ((externalAttributes >> 28) & 0xF) == 0xA;
}

bool Entry::isSpecial() const {
  if ((madeBy >> 8) != 3) return false;
  uint32_t type = (externalAttributes >> 28) & 0xF;
  return type != 0 && type != 8 && type != 4 && type != 0xA;
}

std::string DecodedName(const Entry& e, int32_t codePage) {
  if (e.utf8() && entrynames::IsValidUtf8(e.rawName)) return e.rawName;
  if (!e.unicodePath.empty()) return e.unicodePath;
  // Tools on Linux and macOS put UTF-8 there without the flag (valid UTF-8
  // with accents is next to impossible in a legacy code page), Windows tools
  // the OEM code page.
  if (entrynames::IsValidUtf8(e.rawName)) return e.rawName;
  return entrynames::DecodeCodePage(e.rawName, codePage);
}

bool Load(const std::string& path, Directory& dir, std::string& why) {
  dir = Directory();
  why = kUnreadable;
  pathtext::FilePtr f(fs::OpenRead(path));
  if (!f || !fs::Seek(f.get(), 0, SEEK_END)) return false;
  int64_t size = fs::Tell(f.get());
  if (size < 22) return false;

  // The end record is in the last 22 + 65535 bytes (its comment is at most 64 KiB).
  int64_t tailLen = std::min<int64_t>(size, 22 + 65535);
  std::vector<unsigned char> tail(static_cast<size_t>(tailLen));
  if (!ReadAt(f.get(), size - tailLen, tail.data(), tail.size())) return false;
  // Every end-record signature is a candidate, the last one first. A record
  // whose comment ends exactly at the end of the file is the archive's own;
  // a later one inside that comment is part of the comment (a planted record
  // describing another directory), so the outermost such record wins, as
  // 7-Zip reads it. Without any (bytes appended after the archive), the last
  // valid record serves. A record of an empty directory never wins over one
  // with entries: it is what a record planted after an archive looks like.
  Directory best;
  int bestScore = -1;
  std::string firstWhy;
  int tried = 0;
  for (int64_t i = tailLen - 22; i >= 0 && tried < kMaxCandidates; --i) {
    const unsigned char* e = &tail[static_cast<size_t>(i)];
    if (U32(e) != kEndSig) continue;
    ++tried;
    Candidate c;
    c.endPos = size - tailLen + i;
    c.reachesEnd = c.endPos + 22 + U16(e + 20) == size;
    Directory d;
    std::string w;
    if (!LoadFrom(f.get(), e, c, d, w)) {
      if (firstWhy.empty() || (firstWhy == kUnreadable && w != kUnreadable)) firstWhy = w;
      continue;
    }
    int score = (d.entries.empty() ? 0 : 2) + (c.reachesEnd ? 1 : 0);
    // Equal scores: the outermost of the records that reach the end, the
    // last of those that do not.
    if (score > bestScore || (score == bestScore && c.reachesEnd)) {
      best = std::move(d);
      bestScore = score;
    }
  }
  if (bestScore < 0) {
    if (!firstWhy.empty()) why = firstWhy;
    return false;
  }
  dir = std::move(best);
  why.clear();
  return true;
}

bool Read(const std::string& path, std::vector<Entry>& entries) {
  Directory d;
  std::string why;
  bool ok = Load(path, d, why);
  entries = std::move(d.entries);
  return ok;
}

std::string Rebuild(const Directory& dir) {
  std::string out;
  const uint64_t cdStart = dir.directoryStart;
  const uint64_t count = dir.entries.size();
  for (const Entry& en : dir.entries) {
    bool bigU = en.uncompressedSize >= 0xFFFFFFFFu, bigC = en.compressedSize >= 0xFFFFFFFFu,
         bigO = en.localOffset >= 0xFFFFFFFFu;
    std::string z64;
    if (bigU) Put64(z64, en.uncompressedSize);
    if (bigC) Put64(z64, en.compressedSize);
    if (bigO) Put64(z64, en.localOffset);
    std::string extra;
    if (!z64.empty()) {
      Put16(extra, kZip64Extra);
      Put16(extra, z64.size());
      extra += z64;
    }
    extra += en.extra;
    if (extra.size() > 0xFFFF) extra.resize(z64.empty() ? 0 : 4 + z64.size());
    Put32(out, kCentralSig);
    Put16(out, en.madeBy);
    Put16(out, en.needed);
    Put16(out, en.flags);
    Put16(out, en.method);
    Put16(out, en.dosTime);
    Put16(out, en.dosDate);
    Put32(out, en.crc);
    Put32(out, bigC ? 0xFFFFFFFFu : en.compressedSize);
    Put32(out, bigU ? 0xFFFFFFFFu : en.uncompressedSize);
    Put16(out, en.rawName.size());
    Put16(out, extra.size());
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, en.internalAttributes);
    Put32(out, en.externalAttributes);
    Put32(out, bigO ? 0xFFFFFFFFu : en.localOffset);
    out += en.rawName;
    out += extra;
  }
  out += EndRecords(count, out.size(), cdStart, 45);
  return out;
}

std::string EndRecords(uint64_t count, uint64_t size, uint64_t start, uint16_t madeBy) {
  std::string out;
  if (count >= 0xFFFF || size >= 0xFFFFFFFFu || start >= 0xFFFFFFFFu) {
    const uint64_t zip64End = start + size;
    Put32(out, kEnd64Sig);
    Put64(out, 44);  // size of the rest of the record
    Put16(out, madeBy);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, count);
    Put64(out, count);
    Put64(out, size);
    Put64(out, start);
    Put32(out, kLocator64Sig);
    Put32(out, 0);
    Put64(out, zip64End);
    Put32(out, 1);
  }
  Put32(out, kEndSig);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, std::min<uint64_t>(count, 0xFFFF));
  Put16(out, std::min<uint64_t>(count, 0xFFFF));
  Put32(out, std::min<uint64_t>(size, 0xFFFFFFFFu));
  Put32(out, std::min<uint64_t>(start, 0xFFFFFFFFu));
  Put16(out, 0);
  return out;
}

}  // namespace qv::zipdir
