// The crypto primitives from Nettle; random bytes from the kernel.
#include <nettle/aes.h>
#include <nettle/hmac.h>
#include <nettle/pbkdf2.h>
#include <sys/random.h>

#include <cerrno>

#include "engine/CryptoPrimitives.h"

namespace qv::crypto {

bool RandomBytes(uint8_t* out, size_t n) {
  while (n > 0) {
    ssize_t got = ::getrandom(out, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool Pbkdf2HmacSha1(std::string_view password, const uint8_t* salt, size_t saltLength,
                    unsigned iterations, uint8_t* out, size_t outLength) {
  if (iterations == 0) return false;
  pbkdf2_hmac_sha1(password.size(), reinterpret_cast<const uint8_t*>(password.data()), iterations,
                   saltLength, salt, outLength, out);
  return true;
}

struct AesBlocks::Impl {
  size_t keyLength = 0;
  union {
    aes128_ctx k128;
    aes192_ctx k192;
    aes256_ctx k256;
  };
};

AesBlocks::AesBlocks() : impl_(std::make_unique<Impl>()) {}
AesBlocks::~AesBlocks() = default;

bool AesBlocks::SetKey(const uint8_t* key, size_t length) {
  impl_->keyLength = 0;
  switch (length) {
    case 16: aes128_set_encrypt_key(&impl_->k128, key); break;
    case 24: aes192_set_encrypt_key(&impl_->k192, key); break;
    case 32: aes256_set_encrypt_key(&impl_->k256, key); break;
    default: return false;
  }
  impl_->keyLength = length;
  return true;
}

bool AesBlocks::Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) {
  size_t n = blocks * AES_BLOCK_SIZE;
  switch (impl_->keyLength) {
    case 16: aes128_encrypt(&impl_->k128, n, out, in); return true;
    case 24: aes192_encrypt(&impl_->k192, n, out, in); return true;
    case 32: aes256_encrypt(&impl_->k256, n, out, in); return true;
    default: return false;
  }
}

struct HmacSha1::Impl {
  hmac_sha1_ctx ctx;
};

HmacSha1::HmacSha1() : impl_(std::make_unique<Impl>()) {}
HmacSha1::~HmacSha1() = default;

bool HmacSha1::SetKey(const uint8_t* key, size_t length) {
  hmac_sha1_set_key(&impl_->ctx, length, key);
  return true;
}

bool HmacSha1::Update(const uint8_t* data, size_t length) {
  hmac_sha1_update(&impl_->ctx, length, data);
  return true;
}

bool HmacSha1::Digest(uint8_t* out) {
  hmac_sha1_digest(&impl_->ctx, kSha1Bytes, out);
  return true;
}

}  // namespace qv::crypto
