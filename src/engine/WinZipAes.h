// WinZip's AES scheme for one zip entry (what 7-Zip and WinZip read), over
// the platform's crypto library: Nettle on POSIX, CNG on Windows. Nothing of
// the cipher, the hash or the key derivation is our own; only the counter
// mode is, because WinZip counts in little-endian from 1 where the libraries'
// counter modes count in big-endian.
//
// PBKDF2-HMAC-SHA1 (1000 iterations) turns the password and the entry's
// random salt into an AES key, an HMAC-SHA1 key of the same length and a
// 2-byte password verifier. The data are encrypted with AES in that counter
// mode and authenticated by the first 10 bytes of the HMAC-SHA1 of the
// encrypted data. In the archive the entry's data are: salt, verifier,
// encrypted data, authentication code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace qv::winzipaes {

constexpr size_t kVerifierBytes = 2;
constexpr size_t kMacBytes = 10;
// Salt length for a key of 128, 192 or 256 bits: 8, 12 or 16 bytes (0 for
// any other length).
size_t SaltBytes(int keyBits);
// The AE extra field's strength code for those key lengths: 1, 2 or 3.
int StrengthCode(int keyBits);
// Bytes the scheme adds to an entry's data: salt, verifier and code.
inline size_t Overhead(int keyBits) { return SaltBytes(keyBits) + kVerifierBytes + kMacBytes; }

// Fills `out` from the system's random source. False when it cannot.
bool RandomBytes(uint8_t* out, size_t n);

// One entry's encryption, or its decryption (the counter mode runs the same
// way both ways; the code always covers the encrypted bytes). Safe to use
// from any thread; one object per entry.
class Encryptor {
 public:
  Encryptor();
  ~Encryptor();
  Encryptor(Encryptor&&) noexcept;
  Encryptor& operator=(Encryptor&&) noexcept;
  Encryptor(const Encryptor&) = delete;
  Encryptor& operator=(const Encryptor&) = delete;

  // Derives the keys from the password (its UTF-8 bytes) and `salt`
  // (SaltBytes(keyBits) bytes): the slow part, about a millisecond. False
  // for another key length or when the crypto library fails.
  bool Init(std::string_view password, int keyBits, const uint8_t* salt);
  const uint8_t* verifier() const;  // kVerifierBytes
  // Encrypts `n` bytes in place and adds them to the authentication code;
  // the stream goes on across calls of any length.
  void Encrypt(uint8_t* data, size_t n);
  // Decrypts `n` encrypted bytes in place, adding them to the code first.
  void Decrypt(uint8_t* data, size_t n);
  // The authentication code of everything encrypted (kMacBytes). False
  // when the crypto library failed at any step since Init: the entry's
  // data are then wrong and must not be written.
  [[nodiscard]] bool Finish(uint8_t* mac);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::winzipaes
