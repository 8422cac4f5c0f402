// The data of a WinZip AES entry, decrypted and inflated by our own code over
// the platform's crypto library and zlib, straight from the archive file.
// libarchive reads every other entry; not these: its counter mode sets the
// AES key up again for every 16-byte block, which made encrypted archives
// extract at a fraction of the speed of plain ones. Entries stored or
// deflated inside the encryption (what every writer uses) are read here; any
// other method inside stays with libarchive.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "engine/ZipDirectory.h"

namespace qv::reading {

class AesEntryReader {
 public:
  AesEntryReader();
  ~AesEntryReader();
  AesEntryReader(const AesEntryReader&) = delete;
  AesEntryReader& operator=(const AesEntryReader&) = delete;

  // True for an AES entry with a well-formed AE field whose inner method is
  // stored or deflate.
  static bool Handles(const zipdir::Entry& e);

  // Checks the password against the entry's verifier. False with `why` (in
  // French) when it does not match or the entry cannot be read.
  bool Open(std::FILE* archive, const zipdir::Entry& e, const std::string& password,
            std::string& why);
  // Up to `n` bytes of the entry's data (> 0); 0 at its end, once the
  // authentication code (and, for AE-1, the CRC) checked; -1 with `why`.
  // Nothing beyond the entry's compressed data is ever read.
  int64_t Read(uint8_t* out, size_t n, std::string& why);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::reading
