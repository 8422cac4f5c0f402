// Our own read of a zip archive's central directory. Everything the engine
// decides about an archive comes from here, checked before any byte is
// extracted: the real entry count (walked record by record, never taken from
// the end record, whose 16-bit count wraps at 65,536 and which some writers
// leave at 0), the end record itself (a fake one hidden in the comment is
// recognised as part of the comment), where each entry's data lie (no two
// entries may share bytes, no data may run into the directory), the cipher,
// the sizes and the names. libarchive then reads the archive through a
// directory rebuilt from exactly these entries (Rebuild), so both agree on
// what the archive holds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qv::zipdir {

struct Entry {
  std::string rawName;  // the bytes of the name as stored
  uint16_t madeBy = 0;  // "version made by": high byte = host system (0 DOS, 3 Unix)
  uint16_t needed = 0;  // version needed to extract
  uint16_t flags = 0;
  uint16_t method = 0;  // 99 = AES (WinZip)
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  // Where the local header really starts in the file (data prepended to the
  // archive, as in self-extracting files, already accounted for), and where
  // the entry's data start after it.
  uint64_t localOffset = 0;
  uint64_t dataOffset = 0;
  // The directory's extra fields, well-formed ones only, without zip64's
  // (Rebuild writes its own).
  std::string extra;
  // Info-ZIP's UTF-8 name field (0x7075), kept only when it is valid UTF-8
  // and belongs to this very name (its CRC matches the stored name).
  std::string unicodePath;
  // WinZip's AES field (0x9901), when there is a well-formed one: its vendor
  // version (1: AE-1, the CRC is stored; 2: AE-2, it is not), the key length
  // its strength gives (128, 192, 256; 0 for an unknown strength) and the
  // method used inside the encryption.
  uint16_t aesVersion = 0;
  int aesKeyBits = 0;
  uint16_t aesMethod = 0;

  bool encrypted() const { return (flags & 1) != 0; }
  bool utf8() const { return (flags & 0x800) != 0; }
  bool aes() const { return method == 99; }
  // A folder: a name ending in a separator, or the folder type or attribute
  // of the host that made the entry (Unix, DOS).
  bool isDir() const;
  // A Unix symbolic link, or another Unix file type that is neither a file
  // nor a folder (device, pipe, socket).
  bool isLink() const;
  bool isSpecial() const;
};

struct Directory {
  std::vector<Entry> entries;  // in the order of their data in the file
  // Where the directory starts: what precedes it is the entries' data (and
  // whatever was prepended to the archive).
  uint64_t directoryStart = 0;
};

// The entry's name in UTF-8: the stored bytes when flagged UTF-8, else
// Info-ZIP's UTF-8 name field, else the bytes themselves when they are valid
// UTF-8, else the bytes read in the legacy `codePage`.
std::string DecodedName(const Entry& e, int32_t codePage);

// False when no valid central directory can be found; `why` then tells in
// French what is wrong (for an archive whose entries overlap or run into the
// directory, naming the entry).
bool Load(const std::string& path, Directory& dir, std::string& why);

// The entries alone (as Load reads them), for callers that need no reason.
bool Read(const std::string& path, std::vector<Entry>& entries);

// A clean central directory and end record for `dir`'s entries, in the order
// of `dir.entries`, meant to follow the archive's first `directoryStart`
// bytes: offsets are those positions, zip64 records only where needed (more
// than 65,535 entries, sizes or offsets beyond 32 bits), no comment.
std::string Rebuild(const Directory& dir);

// What follows a central directory of `count` records and `size` bytes that
// starts at `start`: the zip64 end record and its locator when the count
// reaches 65,535 or the size or start 4 GiB, then the end record, whose
// fields that overflow hold their maximum. `madeBy` goes in the zip64 record.
std::string EndRecords(uint64_t count, uint64_t size, uint64_t start, uint16_t madeBy);

}  // namespace qv::zipdir
