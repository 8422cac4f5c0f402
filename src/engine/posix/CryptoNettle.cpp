// The crypto primitives from Nettle; random bytes from the kernel.
#include <nettle/aes.h>
#include <nettle/hmac.h>
#include <nettle/sha1.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

namespace {

constexpr int kSha1Words = SHA1_DIGEST_SIZE / 4;

// Written byte by byte so that any host order works; compilers make one
// swapped store of each.
void PutBigEndian(uint8_t* p, const uint32_t* words, int count = kSha1Words) {
  for (int i = 0; i < count; ++i, p += 4) {
    p[0] = static_cast<uint8_t>(words[i] >> 24);
    p[1] = static_cast<uint8_t>(words[i] >> 16);
    p[2] = static_cast<uint8_t>(words[i] >> 8);
    p[3] = static_cast<uint8_t>(words[i]);
  }
}

uint32_t GetBigEndian(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

// Every entry of an AES archive costs a key derivation, a thousand HMACs of
// one 20-byte message. Nettle's pbkdf2_hmac_sha1 goes through the general
// hash interface for each (buffering, padding, copying whole contexts): 40 %
// more time than the two SHA-1 block compressions each HMAC really is. So the
// first HMAC of each output block is Nettle's, and the iterations after it
// run Nettle's compression function over one block padded once, from the
// inner and outer states Nettle's own HMAC key set-up leaves.
bool Pbkdf2HmacSha1(std::string_view password, const uint8_t* salt, size_t saltLength,
                    unsigned iterations, uint8_t* out, size_t outLength) {
  if (iterations == 0) return false;
  hmac_sha1_ctx keyed;
  hmac_sha1_set_key(&keyed, password.size(), reinterpret_cast<const uint8_t*>(password.data()));
  // A 20-byte message after the 64-byte key block: the message, the end
  // mark and the length in bits.
  uint8_t block[SHA1_BLOCK_SIZE] = {};
  block[SHA1_DIGEST_SIZE] = 0x80;
  constexpr unsigned kBits = (SHA1_BLOCK_SIZE + SHA1_DIGEST_SIZE) * 8;
  block[SHA1_BLOCK_SIZE - 2] = static_cast<uint8_t>(kBits >> 8);
  block[SHA1_BLOCK_SIZE - 1] = static_cast<uint8_t>(kBits);
  for (uint32_t index = 1; outLength > 0; ++index) {
    hmac_sha1_ctx first = keyed;
    uint8_t counter[4];
    PutBigEndian(counter, &index, 1);
    hmac_sha1_update(&first, saltLength, salt);
    hmac_sha1_update(&first, sizeof counter, counter);
    hmac_sha1_digest(&first, SHA1_DIGEST_SIZE, block);
    // The sum is kept as the state words are; bytes only at the end.
    uint32_t sum[kSha1Words];
    for (int j = 0; j < kSha1Words; ++j) sum[j] = GetBigEndian(block + 4 * j);
    for (unsigned i = 1; i < iterations; ++i) {
      uint32_t state[kSha1Words];
      std::memcpy(state, keyed.inner.state, sizeof state);
      nettle_sha1_compress(state, block);
      PutBigEndian(block, state);
      std::memcpy(state, keyed.outer.state, sizeof state);
      nettle_sha1_compress(state, block);
      PutBigEndian(block, state);
      for (int j = 0; j < kSha1Words; ++j) sum[j] ^= state[j];
    }
    uint8_t bytes[SHA1_DIGEST_SIZE];
    PutBigEndian(bytes, sum);
    size_t n = std::min(outLength, sizeof bytes);
    std::memcpy(out, bytes, n);
    out += n;
    outLength -= n;
  }
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
