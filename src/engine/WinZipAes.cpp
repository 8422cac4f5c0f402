#include "engine/WinZipAes.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/CryptoPrimitives.h"

namespace qv::winzipaes {
namespace {

constexpr unsigned kIterations = 1000;
constexpr size_t kBlock = 16;
// Counter blocks encrypted per library call: the keystream is made in
// batches so the library's own parallel block code has room to work.
constexpr size_t kBatchBlocks = 256;

}  // namespace

size_t SaltBytes(int keyBits) {
  switch (keyBits) {
    case 128: return 8;
    case 192: return 12;
    case 256: return 16;
    default: return 0;
  }
}

int StrengthCode(int keyBits) {
  switch (keyBits) {
    case 128: return 1;
    case 192: return 2;
    case 256: return 3;
    default: return 0;
  }
}

bool RandomBytes(uint8_t* out, size_t n) { return crypto::RandomBytes(out, n); }

struct Encryptor::Impl {
  crypto::AesBlocks aes;
  crypto::HmacSha1 mac;
  std::array<uint8_t, kVerifierBytes> verifier{};
  // WinZip's counter: 128 bits, little-endian, the first block using 1.
  uint64_t counterLow = 0, counterHigh = 0;
  std::array<uint8_t, kBatchBlocks * kBlock> counters{}, stream{};
  size_t streamUsed = 0, streamSize = 0;
  bool failed = true;  // until Init succeeds

  void Xor(uint8_t* data, size_t n);  // with the next n bytes of keystream

  void Refill() {
    for (size_t b = 0; b < kBatchBlocks; ++b) {
      if (++counterLow == 0) ++counterHigh;
      uint8_t* c = counters.data() + b * kBlock;
      for (size_t k = 0; k < 8; ++k) {
        c[k] = static_cast<uint8_t>(counterLow >> (8 * k));
        c[8 + k] = static_cast<uint8_t>(counterHigh >> (8 * k));
      }
    }
    if (!aes.Encrypt(counters.data(), stream.data(), kBatchBlocks)) failed = true;
    streamUsed = 0;
    streamSize = stream.size();
  }
};

Encryptor::Encryptor() : impl_(std::make_unique<Impl>()) {}
Encryptor::~Encryptor() = default;
Encryptor::Encryptor(Encryptor&&) noexcept = default;
Encryptor& Encryptor::operator=(Encryptor&&) noexcept = default;

bool Encryptor::Init(std::string_view password, int keyBits, const uint8_t* salt) {
  size_t saltBytes = SaltBytes(keyBits);
  if (saltBytes == 0 || !impl_) return false;
  size_t keyBytes = static_cast<size_t>(keyBits) / 8;
  // Encryption key, authentication key, password verifier, in that order.
  std::array<uint8_t, 2 * 32 + kVerifierBytes> derived{};
  size_t derivedBytes = 2 * keyBytes + kVerifierBytes;
  bool ok = crypto::Pbkdf2HmacSha1(password, salt, saltBytes, kIterations, derived.data(),
                                   derivedBytes) &&
            impl_->aes.SetKey(derived.data(), keyBytes) &&
            impl_->mac.SetKey(derived.data() + keyBytes, keyBytes);
  std::memcpy(impl_->verifier.data(), derived.data() + 2 * keyBytes, kVerifierBytes);
  std::fill(derived.begin(), derived.end(), uint8_t{0});
  impl_->counterLow = impl_->counterHigh = 0;
  impl_->streamUsed = impl_->streamSize = 0;
  impl_->failed = !ok;
  return ok;
}

const uint8_t* Encryptor::verifier() const { return impl_->verifier.data(); }

void Encryptor::Encrypt(uint8_t* data, size_t n) {
  uint8_t* start = data;
  impl_->Xor(data, n);
  // The code covers the encrypted bytes.
  if (!impl_->mac.Update(start, n)) impl_->failed = true;
}

void Encryptor::Decrypt(uint8_t* data, size_t n) {
  if (!impl_->mac.Update(data, n)) impl_->failed = true;
  impl_->Xor(data, n);
}

void Encryptor::Impl::Xor(uint8_t* data, size_t n) {
  Impl& m = *this;
  size_t left = n;
  while (left > 0) {
    if (m.streamUsed == m.streamSize) m.Refill();
    size_t take = std::min(left, m.streamSize - m.streamUsed);
    const uint8_t* ks = m.stream.data() + m.streamUsed;
    for (size_t i = 0; i < take; ++i) data[i] ^= ks[i];
    m.streamUsed += take;
    data += take;
    left -= take;
  }
}

bool Encryptor::Finish(uint8_t* mac) {
  std::array<uint8_t, crypto::kSha1Bytes> digest{};
  if (!impl_->mac.Digest(digest.data())) impl_->failed = true;
  std::memcpy(mac, digest.data(), kMacBytes);
  return !impl_->failed;
}

}  // namespace qv::winzipaes
