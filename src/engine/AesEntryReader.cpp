#include "engine/AesEntryReader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engine/FileSystem.h"
#include "engine/WinZipAes.h"

namespace qv::reading {
namespace {

constexpr size_t kInput = size_t{1} << 18;

}  // namespace

struct AesEntryReader::Impl {
  std::FILE* file = nullptr;
  int aeVersion = 0;
  uint16_t method = 0;  // inside the encryption
  uint32_t expectedCrc = 0;
  uint32_t crc = 0;
  uint64_t pos = 0, end = 0;  // the encrypted bytes still to read: [pos, end)
  winzipaes::Encryptor cipher;
  z_stream z{};
  bool zReady = false, streamEnd = false, done = false;
  std::vector<uint8_t> in;
  size_t inPos = 0, inLen = 0;

  ~Impl() {
    if (zReady) inflateEnd(&z);
  }

  // The next decrypted chunk into `in`; false at the end (why empty) or on a
  // read failure (why set).
  bool Fill(std::string& why) {
    if (pos >= end) return false;
    size_t n = static_cast<size_t>(std::min<uint64_t>(kInput, end - pos));
    in.resize(kInput);
    if (fs::ReadAt(file, static_cast<int64_t>(pos), in.data(), n) != static_cast<int64_t>(n)) {
      why = "lecture impossible";
      return false;
    }
    cipher.Decrypt(in.data(), n);
    pos += n;
    inPos = 0;
    inLen = n;
    return true;
  }

  // Once the data are out: the rest of the encrypted bytes still count for
  // the code, then the code itself.
  bool Finish(std::string& why) {
    while (Fill(why)) {
    }
    if (!why.empty()) return false;
    std::array<uint8_t, winzipaes::kMacBytes> stored{}, computed{};
    if (fs::ReadAt(file, static_cast<int64_t>(end), stored.data(), stored.size()) !=
        static_cast<int64_t>(stored.size())) {
      why = "lecture impossible";
      return false;
    }
    if (!cipher.Finish(computed.data())) {
      why = "chiffrement indisponible";
      return false;
    }
    if (stored != computed) {
      why = "code d'authentification incorrect (données altérées)";
      return false;
    }
    if (aeVersion == 1 && crc != expectedCrc) {
      why = "CRC incorrect";
      return false;
    }
    done = true;
    return true;
  }
};

AesEntryReader::AesEntryReader() : impl_(std::make_unique<Impl>()) {}
AesEntryReader::~AesEntryReader() = default;

bool AesEntryReader::Handles(const zipdir::Entry& e) {
  return e.aes() && (e.aesVersion == 1 || e.aesVersion == 2) && e.aesKeyBits != 0 &&
         (e.aesMethod == 0 || e.aesMethod == 8);
}

bool AesEntryReader::Open(std::FILE* archive, const zipdir::Entry& e, const std::string& password,
                          std::string& why) {
  Impl& m = *impl_;
  if (!archive || !Handles(e)) {
    why = "chiffrement AES illisible";
    return false;
  }
  m.aeVersion = e.aesVersion;
  m.method = e.aesMethod;
  size_t salt = winzipaes::SaltBytes(e.aesKeyBits);
  size_t overhead = salt + winzipaes::kVerifierBytes + winzipaes::kMacBytes;
  if (e.compressedSize < overhead) {
    why = "données chiffrées tronquées";
    return false;
  }
  m.file = archive;
  m.expectedCrc = e.crc;
  std::array<uint8_t, 16 + winzipaes::kVerifierBytes> head{};
  size_t headBytes = salt + winzipaes::kVerifierBytes;
  if (fs::ReadAt(archive, static_cast<int64_t>(e.dataOffset), head.data(), headBytes) !=
      static_cast<int64_t>(headBytes)) {
    why = "lecture impossible";
    return false;
  }
  if (!m.cipher.Init(password, e.aesKeyBits, head.data())) {
    why = "chiffrement indisponible";
    return false;
  }
  if (std::memcmp(m.cipher.verifier(), head.data() + salt, winzipaes::kVerifierBytes) != 0) {
    why = "mot de passe incorrect";
    return false;
  }
  m.pos = e.dataOffset + headBytes;
  m.end = e.dataOffset + e.compressedSize - winzipaes::kMacBytes;
  if (m.method == 8) {
    if (inflateInit2(&m.z, -15) != Z_OK) {
      why = "mémoire insuffisante";
      return false;
    }
    m.zReady = true;
  }
  return true;
}

int64_t AesEntryReader::Read(uint8_t* out, size_t n, std::string& why) {
  Impl& m = *impl_;
  if (m.done || n == 0) return 0;
  size_t produced = 0;
  if (m.method == 0) {
    if (m.inPos == m.inLen && !m.Fill(why) && !why.empty()) return -1;
    produced = std::min(n, m.inLen - m.inPos);
    std::memcpy(out, m.in.data() + m.inPos, produced);
    m.inPos += produced;
  } else {
    m.z.next_out = out;
    m.z.avail_out = static_cast<uInt>(std::min<size_t>(n, UINT32_MAX));
    while (m.z.avail_out > 0 && !m.streamEnd) {
      if (m.z.avail_in == 0) {
        if (!m.Fill(why)) {
          if (!why.empty()) return -1;
          break;  // no more input: the stream had to end before
        }
        m.z.next_in = m.in.data();
        m.z.avail_in = static_cast<uInt>(m.inLen);
      }
      int r = inflate(&m.z, Z_NO_FLUSH);
      if (r == Z_STREAM_END) {
        m.streamEnd = true;
      } else if (r != Z_OK && r != Z_BUF_ERROR) {
        why = "données compressées invalides";
        return -1;
      }
    }
    produced = n - m.z.avail_out;
  }
  if (produced > 0) {
    m.crc = static_cast<uint32_t>(crc32_z(m.crc, out, produced));
    return static_cast<int64_t>(produced);
  }
  if (m.method == 8 && !m.streamEnd) {
    why = "données compressées tronquées";
    return -1;
  }
  return m.Finish(why) ? 0 : -1;
}

}  // namespace qv::reading
