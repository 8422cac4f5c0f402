// The few primitives of the platform's crypto library that the WinZip AES
// scheme is built on; one implementation per platform (Nettle on POSIX, CNG
// on Windows). Everything here may be used from several threads at once, each
// object by one thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace qv::crypto {

// Fills `out` from the system's random source. False when it cannot.
bool RandomBytes(uint8_t* out, size_t n);

// PBKDF2 (RFC 8018) with HMAC-SHA1 as its pseudo-random function.
bool Pbkdf2HmacSha1(std::string_view password, const uint8_t* salt, size_t saltLength,
                    unsigned iterations, uint8_t* out, size_t outLength);

// AES in its raw block form (ECB), encryption only: the counter mode is
// built over it.
class AesBlocks {
 public:
  AesBlocks();
  ~AesBlocks();
  AesBlocks(const AesBlocks&) = delete;
  AesBlocks& operator=(const AesBlocks&) = delete;
  // A key of 16, 24 or 32 bytes; false for another length or a library failure.
  bool SetKey(const uint8_t* key, size_t length);
  // Encrypts `blocks` 16-byte blocks from `in` to `out`; false when the
  // library failed (no key, or a library error).
  bool Encrypt(const uint8_t* in, uint8_t* out, size_t blocks);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

constexpr size_t kSha1Bytes = 20;

class HmacSha1 {
 public:
  HmacSha1();
  ~HmacSha1();
  HmacSha1(const HmacSha1&) = delete;
  HmacSha1& operator=(const HmacSha1&) = delete;
  bool SetKey(const uint8_t* key, size_t length);
  // False when the library failed: the code is then worthless.
  bool Update(const uint8_t* data, size_t length);
  bool Digest(uint8_t* out);  // kSha1Bytes

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::crypto
