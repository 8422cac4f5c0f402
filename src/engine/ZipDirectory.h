// A direct read of a zip archive's central directory, for what libarchive does
// not tell: which encryption an entry uses (AES or ZipCrypto), the compressed
// size, and whether its name carries the UTF-8 flag.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qv::zipdir {

struct Entry {
  std::string rawName;  // the bytes of the name as stored
  uint16_t flags = 0;
  uint16_t method = 0;  // 99 = AES (WinZip)
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  std::string unicodePath;  // Info-ZIP's UTF-8 name field (0x7075), when present
  bool encrypted() const { return (flags & 1) != 0; }
  bool utf8() const { return (flags & 0x800) != 0; }
  bool aes() const { return method == 99; }
};

// False when no central directory can be found or it is damaged.
bool Read(const std::string& path, std::vector<Entry>& entries);

}  // namespace qv::zipdir
