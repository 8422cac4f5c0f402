// The zip container as we write it (PKWARE APPNOTE 6.3): local headers that
// carry the real CRC and sizes (never a data descriptor), the central
// directory, and zip64 records only where a size, an offset or the entry count
// needs them. Nothing host-specific goes in (no uid/gid, the same attributes
// everywhere), so the Windows and the Linux builds write the same bytes for the
// same tree. Data are handed over already compressed (and encrypted); this
// class lays out the records around them, and asks the system to write what
// it wrote back to the disk as it goes (the owner of the file syncs it).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qv::zipwrite {

constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;

struct Entry {
  std::string name;  // "/"-separated, UTF-8; a folder's ends with "/"
  int64_t mtime = 0;  // seconds since 1970 (UTC)
  bool isDir = false;
  uint16_t method = kStored;  // the real method: stored or deflated
  // WinZip AES strength code (1, 2, 3), 0 when the entry is not encrypted. An
  // encrypted entry is AE-2: its CRC field is 0, its data carry salt,
  // verifier and authentication code.
  int aesStrength = 0;
  uint32_t crc = 0;
  uint64_t size = 0;            // uncompressed
  uint64_t compressedSize = 0;  // what the entry's data take in the archive
};

// An upper bound of the raw deflate output for `size` input bytes cut in
// `pieces` separately flushed pieces (each flush adds a few bytes).
uint64_t DeflateBound(uint64_t size, uint64_t pieces);

// The local time of `mtime` in MS-DOS form (date << 16 | time), as every zip
// tool stores it; times before 1980 are stored as 1980-01-01 00:00.
uint32_t DosDateTime(int64_t mtime);

class ZipWriter {
 public:
  // Writes from the current position of `out`, a seekable file of our own.
  explicit ZipWriter(std::FILE* out);

  // An entry whose data are all at hand (`data` holds compressedSize bytes).
  bool Add(const Entry& e, const uint8_t* data);
  // A folder: "name/" stored, no data.
  bool AddFolder(const std::string& name, int64_t mtime);

  // An entry written piece by piece: the header goes first, with the size
  // given in `e` and room for the rest, patched in place by End. `bound` is
  // what the data may take at most: from 4 GiB on, the header has a zip64
  // field.
  bool Begin(const Entry& e, uint64_t bound);
  bool Append(const uint8_t* data, size_t n);
  bool End(uint32_t crc);

  // The central directory and the end records. Flushes the stream.
  bool Finish();

  uint64_t entryCount() const { return records_.size(); }

 private:
  struct Record {
    Entry e;
    uint64_t offset = 0;
    bool localZip64 = false;
  };
  bool Put(const void* data, size_t n);
  bool PutLocal(const Record& r);
  std::vector<uint8_t> Extra(const Record& r, bool central) const;

  std::FILE* out_;
  uint64_t pos_ = 0;
  bool ok_ = true;
  std::vector<Record> records_;
  bool open_ = false;  // an entry begun and not ended
  uint64_t dataStart_ = 0;
  static constexpr uint64_t kWriteBackStep = uint64_t{8} << 20;
  uint64_t writtenBack_ = 0;  // where the last write-back request started from
};

}  // namespace qv::zipwrite
