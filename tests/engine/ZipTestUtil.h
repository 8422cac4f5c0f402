// Helpers for the engine's tests: scratch folders, files, trees, and a small
// zip builder that writes exactly the bytes a hostile or foreign archive has.
#pragma once
#include <sys/stat.h>
#include <utime.h>
#include <zlib.h>

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/ZipEngine.h"

namespace qvtest {
namespace stdfs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (stdfs::temp_directory_path() / "qv-engine-XXXXXX").string();
    char* p = ::mkdtemp(tmpl.data());
    path_ = p ? p : "";
  }
  ~TempDir() {
    std::error_code ec;
    stdfs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& data, int64_t mtime = 0) {
  stdfs::create_directories(stdfs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << data;
  if (mtime) {
    struct utimbuf t{static_cast<time_t>(mtime), static_cast<time_t>(mtime)};
    ::utime(path.c_str(), &t);
  }
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline int64_t MTime(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) return -1;
  return st.st_mtime;
}

// Deterministic bytes: text-like when `text`, otherwise incompressible.
inline std::string Bytes(size_t n, uint32_t seed, bool text = false) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = text ? static_cast<char>("abcdefgh ijkl\n"[x % 14]) : static_cast<char>(x);
  }
  return s;
}

// `folders` folders of `perFolder` small files each (some names accented);
// answers the number of files.
inline size_t ManySmallFiles(const std::string& root, int folders, int perFolder) {
  for (int d = 0; d < folders; ++d) {
    std::string dir = root + "/dossier " + std::to_string(d);
    stdfs::create_directories(dir);
    for (int f = 0; f < perFolder; ++f)
      std::ofstream(dir + (f % 7 ? "/f" : "/é") + std::to_string(f) + ".txt", std::ios::binary)
          << d << "/" << f;
  }
  return static_cast<size_t>(folders) * static_cast<size_t>(perFolder);
}

// Relative paths of everything under `root` ("dir/" for folders), with the
// content of files.
inline std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> t;
  if (!stdfs::exists(root)) return t;
  for (auto it = stdfs::recursive_directory_iterator(root); it != stdfs::recursive_directory_iterator();
       ++it) {
    std::string rel = it->path().lexically_relative(root).string();
    if (it->is_symlink())
      t[rel + "@"] = stdfs::read_symlink(it->path()).string();
    else if (it->is_directory())
      t[rel + "/"] = "";
    else
      t[rel] = ReadFile(it->path().string());
  }
  return t;
}

// Names in one folder (temporary files show up here).
inline std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> n;
  for (auto& e : stdfs::directory_iterator(folder)) n.push_back(e.path().filename().string());
  std::sort(n.begin(), n.end());
  return n;
}

// PKWARE's traditional encryption, to build ZipCrypto archives and to find
// wrong passwords that pass its one-byte check.
class ZipCrypto {
 public:
  explicit ZipCrypto(const std::string& password) {
    for (char c : password) Update(static_cast<uint8_t>(c));
  }
  uint8_t Encrypt(uint8_t p) {
    uint8_t c = p ^ Stream();
    Update(p);
    return c;
  }
  uint8_t Decrypt(uint8_t c) {
    uint8_t p = c ^ Stream();
    Update(p);
    return p;
  }

 private:
  static uint32_t Crc(uint32_t crc, uint8_t b) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    return crc;
  }
  uint8_t Stream() const {
    uint16_t t = static_cast<uint16_t>(k2_ | 2);
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
  }
  void Update(uint8_t c) {
    k0_ = Crc(k0_, c);
    k1_ = (k1_ + (k0_ & 0xff)) * 134775813u + 1;
    k2_ = Crc(k2_, static_cast<uint8_t>(k1_ >> 24));
  }
  uint32_t k0_ = 0x12345678u, k1_ = 0x23456789u, k2_ = 0x34567890u;
};

// A zip written byte by byte: stored entries (or a declared method with the
// given data), optional ZipCrypto, any name bytes, Unix modes (for links).
class RawZip {
 public:
  struct Item {
    std::string name;  // raw bytes
    std::string data;  // as stored (already compressed when method != 0)
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t size = 0;  // uncompressed
    uint32_t unixMode = 0;
    std::string password;  // ZipCrypto when not empty
    std::string extra;     // extra fields, in both headers
    // The directory record points at this other item's local header (and
    // no local header of its own is written): entries sharing their data.
    int sharesLocalOf = -1;
    int64_t declaredCompressed = -1;  // written instead of the data's size
    uint64_t bigSize = 0;             // a declared size beyond 32 bits (zip64 field)
    uint16_t dosTime = 0;             // 00:00:00
    uint16_t dosDate = 0x5C21;        // 2026-01-01
  };
  static Item Stored(const std::string& name, const std::string& data) {
    Item i;
    i.name = name;
    i.data = data;
    i.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                        static_cast<uInt>(data.size())));
    i.size = static_cast<uint32_t>(data.size());
    return i;
  }
  void Add(Item i) { items_.push_back(std::move(i)); }

  // Bytes written before the archive (offsets stay relative to the archive,
  // as when a self-extractor is glued in front), its comment, and an entry
  // count for the end record other than the real one.
  std::string prefix, comment;
  int countOverride = -1;

  std::string Bytes() const {
    std::string out, cd;
    std::vector<uint32_t> offsets;
    for (const Item& i0 : items_) {
      Item i = i0;
      if (!i.password.empty()) {
        ZipCrypto z(i.password);
        std::string enc;
        for (int k = 0; k < 11; ++k) enc += static_cast<char>(z.Encrypt(static_cast<uint8_t>(k * 37 + 5)));
        enc += static_cast<char>(z.Encrypt(static_cast<uint8_t>(i.crc >> 24)));
        for (char c : i.data) enc += static_cast<char>(z.Encrypt(static_cast<uint8_t>(c)));
        i.data = enc;
        i.flags |= 1;
      }
      std::string extra = i.extra;
      if (i.bigSize) {
        Put16(extra, 1);
        Put16(extra, 8);
        Put32(extra, static_cast<uint32_t>(i.bigSize));
        Put32(extra, static_cast<uint32_t>(i.bigSize >> 32));
      }
      uint32_t offset = i.sharesLocalOf >= 0 ? offsets[static_cast<size_t>(i.sharesLocalOf)]
                                             : static_cast<uint32_t>(out.size());
      offsets.push_back(offset);
      std::string common;
      Put16(common, 20);
      Put16(common, i.flags);
      Put16(common, i.method);
      Put16(common, i.dosTime);
      Put16(common, i.dosDate);
      Put32(common, i.crc);
      Put32(common, i.declaredCompressed >= 0 ? static_cast<uint32_t>(i.declaredCompressed)
                                              : static_cast<uint32_t>(i.data.size()));
      Put32(common, i.bigSize ? 0xFFFFFFFFu : i.size);
      Put16(common, static_cast<uint16_t>(i.name.size()));
      Put16(common, static_cast<uint16_t>(extra.size()));
      if (i.sharesLocalOf < 0) {
        Put32(out, 0x04034b50);
        out += common + i.name + extra + i.data;
      }
      Put32(cd, 0x02014b50);
      Put16(cd, i.unixMode ? (3 << 8) | 20 : 20);
      cd += common;
      Put16(cd, 0);
      Put16(cd, 0);
      Put16(cd, 0);
      Put32(cd, i.unixMode << 16);
      Put32(cd, offset);
      cd += i.name + extra;
    }
    uint16_t count = static_cast<uint16_t>(countOverride >= 0 ? countOverride : items_.size());
    return prefix + out + cd +
           EndRecord(count, static_cast<uint32_t>(cd.size()), static_cast<uint32_t>(out.size()),
                     static_cast<uint16_t>(comment.size())) +
           comment;
  }
  // An end record for a directory of `count` entries and `size` bytes at
  // `offset` (also to plant one in a comment).
  static std::string EndRecord(uint16_t count, uint32_t size, uint32_t offset,
                               uint16_t commentLength = 0) {
    std::string end;
    Put32(end, 0x06054b50);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, count);
    Put16(end, count);
    Put32(end, size);
    Put32(end, offset);
    Put16(end, commentLength);
    return end;
  }
  // Info-ZIP's UTF-8 name field for a stored name `raw`.
  static std::string UnicodePathField(const std::string& raw, const std::string& utf8) {
    std::string f;
    Put16(f, 0x7075);
    Put16(f, static_cast<uint32_t>(5 + utf8.size()));
    f += '\x01';
    Put32(f, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(raw.data()),
                                         static_cast<uInt>(raw.size()))));
    return f + utf8;
  }
  static std::string Deflate(const std::string& data) {
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
  }
  // A deflated entry that claims `declaredSize` bytes (and the CRC of that
  // many of `data`) whatever `data` really holds.
  static Item Deflated(const std::string& name, const std::string& data, uint32_t declaredSize) {
    Item i;
    i.name = name;
    i.data = Deflate(data);
    i.method = 8;
    std::string claimed = data.substr(0, std::min<size_t>(declaredSize, data.size()));
    i.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(claimed.data()),
                                        static_cast<uInt>(claimed.size())));
    i.size = declaredSize;
    return i;
  }
  void Save(const std::string& path) const { WriteFile(path, Bytes()); }

 private:
  static void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>((v >> 8) & 0xff);
  }
  static void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xffff);
    Put16(s, v >> 16);
  }
  std::vector<Item> items_;
};

// For the commands of the other zip tools.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command in a UTF-8 locale; returns its exit status, output in `out`.
inline int Shell(const std::string& cmd, std::string* out = nullptr) {
  std::string full = "LANG=C.UTF-8 LC_ALL=C.UTF-8 " + cmd + " 2>&1";
  FILE* p = ::popen(full.c_str(), "r");
  if (!p) return -1;
  std::string text;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
  int status = ::pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Three small files, one of them in a folder.
inline RawZip ThreeFiles() {
  RawZip z;
  z.Add(RawZip::Stored("un.txt", "premier"));
  z.Add(RawZip::Stored("dossier/deux.txt", "deuxième"));
  z.Add(RawZip::Stored("trois.txt", "troisième"));
  return z;
}
inline const std::map<std::string, std::string> kThreeFiles = {
    {"un.txt", "premier"}, {"dossier/", ""}, {"dossier/deux.txt", "deuxième"},
    {"trois.txt", "troisième"}};

// ThreeFiles() behind end records that lie, saved in `folder` as <name>.zip;
// answers the names: an end record that says 0 entries (also one whose
// directory size says 0), data glued in front
// with the offsets left as they were (self-extracting files), a comment
// carrying an end record of an empty archive, and one carrying an end record
// of only the last entry, and an end record of an empty archive appended
// after the archive.
inline std::vector<std::string> SaveEndRecordTricks(const std::string& folder) {
  RawZip zero = ThreeFiles();
  zero.countOverride = 0;
  zero.Save(folder + "/zero.zip");
  RawZip sfx = ThreeFiles();
  sfx.prefix = "#!/bin/sh\nexit 0\n" + Bytes(5000, 9);
  sfx.Save(folder + "/sfx.zip");
  RawZip fakeEmpty = ThreeFiles();
  fakeEmpty.comment = RawZip::EndRecord(0, 0, 0);
  fakeEmpty.Save(folder + "/fake-empty.zip");
  std::string plain = ThreeFiles().Bytes();
  uint32_t lastRecord = static_cast<uint32_t>(plain.rfind(std::string("PK\x01\x02", 4)));
  uint32_t recordSize = static_cast<uint32_t>(plain.size() - 22 - lastRecord);
  RawZip fakeSubset = ThreeFiles();
  fakeSubset.comment = RawZip::EndRecord(1, recordSize, lastRecord);
  fakeSubset.Save(folder + "/fake-subset.zip");
  // An end record whose count and directory size both say 0.
  std::string bytes = ThreeFiles().Bytes();
  uint32_t cdOffset = 0;
  for (int k = 3; k >= 0; --k)
    cdOffset = (cdOffset << 8) | static_cast<uint8_t>(bytes[bytes.size() - 22 + 16 + k]);
  WriteFile(folder + "/zero-size.zip",
            bytes.substr(0, bytes.size() - 22) + RawZip::EndRecord(0, 0, cdOffset));
  // An end record of an empty archive appended after the archive's own.
  WriteFile(folder + "/appended-empty.zip", ThreeFiles().Bytes() + RawZip::EndRecord(0, 0, 0));
  return {"zero", "zero-size", "sfx", "fake-empty", "fake-subset", "appended-empty"};
}

// Writes `folder` into `archive` the way the compressor does (AES-256 when a
// password is given); answers WriteAndClose's result, -100 when the archive
// cannot even be prepared.
inline int32_t Pack(qv::ZipEngine& z, const std::string& folder, const std::string& archive,
                    const std::string& password = "") {
  if (z.PrepareArchive(archive) != 1) return -100;
  if (!password.empty()) {
    z.SetCipher(4);
    z.SetKeyBits(256);
    z.SetArchivePassword(password);
  }
  z.SetEntryRoot(folder);
  z.AddTree(folder + "/*", 1);
  return z.WriteAndClose();
}

}  // namespace qvtest
