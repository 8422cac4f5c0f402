// The crypto primitives from Windows' CNG (bcrypt.dll). The algorithm
// providers are opened once and shared: CNG allows keys and hashes of one
// provider to be used from several threads, each object by one.
#include <windows.h>
#include <bcrypt.h>

#include <cwchar>

#include "engine/CryptoPrimitives.h"

namespace qv::crypto {
namespace {

bool Ok(NTSTATUS s) { return s >= 0; }

// An algorithm provider opened once for the life of the process.
struct Provider {
  BCRYPT_ALG_HANDLE handle = nullptr;
  Provider(const wchar_t* algorithm, ULONG flags, const wchar_t* chainingMode = nullptr) {
    if (!Ok(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, flags))) {
      handle = nullptr;
      return;
    }
    if (chainingMode &&
        !Ok(BCryptSetProperty(handle, BCRYPT_CHAINING_MODE,
                              reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(chainingMode)),
                              static_cast<ULONG>((wcslen(chainingMode) + 1) * sizeof(wchar_t)), 0))) {
      BCryptCloseAlgorithmProvider(handle, 0);
      handle = nullptr;
    }
  }
  ~Provider() {
    if (handle) BCryptCloseAlgorithmProvider(handle, 0);
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
};

BCRYPT_ALG_HANDLE HmacSha1Provider() {
  static Provider p(BCRYPT_SHA1_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
  return p.handle;
}

BCRYPT_ALG_HANDLE AesEcbProvider() {
  static Provider p(BCRYPT_AES_ALGORITHM, 0, BCRYPT_CHAIN_MODE_ECB);
  return p.handle;
}

}  // namespace

bool RandomBytes(uint8_t* out, size_t n) {
  return Ok(BCryptGenRandom(nullptr, out, static_cast<ULONG>(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool Pbkdf2HmacSha1(std::string_view password, const uint8_t* salt, size_t saltLength,
                    unsigned iterations, uint8_t* out, size_t outLength) {
  BCRYPT_ALG_HANDLE alg = HmacSha1Provider();
  if (!alg || iterations == 0) return false;
  return Ok(BCryptDeriveKeyPBKDF2(
      alg, reinterpret_cast<PUCHAR>(const_cast<char*>(password.data())),
      static_cast<ULONG>(password.size()), const_cast<PUCHAR>(salt), static_cast<ULONG>(saltLength),
      iterations, out, static_cast<ULONG>(outLength), 0));
}

struct AesBlocks::Impl {
  BCRYPT_KEY_HANDLE key = nullptr;
  ~Impl() {
    if (key) BCryptDestroyKey(key);
  }
};

AesBlocks::AesBlocks() : impl_(std::make_unique<Impl>()) {}
AesBlocks::~AesBlocks() = default;

bool AesBlocks::SetKey(const uint8_t* key, size_t length) {
  if (impl_->key) BCryptDestroyKey(impl_->key);
  impl_->key = nullptr;
  BCRYPT_ALG_HANDLE alg = AesEcbProvider();
  if (!alg || (length != 16 && length != 24 && length != 32)) return false;
  return Ok(BCryptGenerateSymmetricKey(alg, &impl_->key, nullptr, 0, const_cast<PUCHAR>(key),
                                       static_cast<ULONG>(length), 0));
}

bool AesBlocks::Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) {
  if (!impl_->key) return false;
  ULONG length = static_cast<ULONG>(blocks * 16), done = 0;
  return Ok(BCryptEncrypt(impl_->key, const_cast<PUCHAR>(in), length, nullptr, nullptr, 0, out,
                          length, &done, 0)) &&
         done == length;
}

struct HmacSha1::Impl {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~Impl() {
    if (hash) BCryptDestroyHash(hash);
  }
};

HmacSha1::HmacSha1() : impl_(std::make_unique<Impl>()) {}
HmacSha1::~HmacSha1() = default;

bool HmacSha1::SetKey(const uint8_t* key, size_t length) {
  if (impl_->hash) BCryptDestroyHash(impl_->hash);
  impl_->hash = nullptr;
  BCRYPT_ALG_HANDLE alg = HmacSha1Provider();
  return alg && Ok(BCryptCreateHash(alg, &impl_->hash, nullptr, 0, const_cast<PUCHAR>(key),
                                    static_cast<ULONG>(length), 0));
}

bool HmacSha1::Update(const uint8_t* data, size_t length) {
  return impl_->hash &&
         Ok(BCryptHashData(impl_->hash, const_cast<PUCHAR>(data), static_cast<ULONG>(length), 0));
}

bool HmacSha1::Digest(uint8_t* out) {
  return impl_->hash && Ok(BCryptFinishHash(impl_->hash, out, kSha1Bytes, 0));
}

}  // namespace qv::crypto
