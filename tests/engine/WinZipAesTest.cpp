// The WinZip AES scheme: the platform library's primitives against published
// vectors, and whole entries read back by libarchive (through our reader)
// and by 7-Zip, which are the readers that matter.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ZipTestUtil.h"
#include "engine/CryptoPrimitives.h"
#include "engine/WinZipAes.h"

using qvtest::RawZip;
using qvtest::TempDir;

namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

const uint8_t* U(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

TEST(CryptoPrimitives, MatchPublishedVectors) {
  using namespace qv::crypto;
  // PBKDF2-HMAC-SHA1, RFC 6070.
  uint8_t dk[25];
  ASSERT_TRUE(Pbkdf2HmacSha1("password", U("salt"), 4, 1, dk, 20));
  EXPECT_EQ(Hex(dk, 20), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
  ASSERT_TRUE(Pbkdf2HmacSha1("password", U("salt"), 4, 4096, dk, 20));
  EXPECT_EQ(Hex(dk, 20), "4b007901b765489abead49d926f721d065a429c1");
  std::string salt = "saltSALTsaltSALTsaltSALTsaltSALTsalt";
  ASSERT_TRUE(Pbkdf2HmacSha1("passwordPASSWORDpassword", U(salt), salt.size(), 4096, dk, 25));
  EXPECT_EQ(Hex(dk, 25), "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
  // RFC 3962: a password of exactly one SHA-1 block, and one byte more (then hashed first).
  uint8_t dk32[32];
  salt = "pass phrase equals block size";
  ASSERT_TRUE(Pbkdf2HmacSha1(std::string(64, 'X'), U(salt), salt.size(), 1200, dk32, 32));
  EXPECT_EQ(Hex(dk32, 32), "139c30c0966bc32ba55fdbf212530ac9c5ec59f1a452f5cc9ad940fea0598ed1");
  salt = "pass phrase exceeds block size";
  ASSERT_TRUE(Pbkdf2HmacSha1(std::string(65, 'X'), U(salt), salt.size(), 1200, dk32, 32));
  EXPECT_EQ(Hex(dk32, 32), "9ccad6d468770cd51b10e6a68721be611a8b4d282601db3b36be9246915ec82a");
  // What an AES-256 entry derives: 66 bytes (four blocks, the last cut), 1000
  // iterations, a 16-byte salt, a long UTF-8 password.
  uint8_t dk66[66], salt16[16];
  for (int i = 0; i < 16; ++i) salt16[i] = static_cast<uint8_t>(i);
  std::string phrase = "mot de passe très long ’€ 🙂";
  ASSERT_TRUE(Pbkdf2HmacSha1(phrase + phrase + phrase, salt16, 16, 1000, dk66, 66));
  EXPECT_EQ(Hex(dk66, 66),
            "e4048db2ddc00e2b5578aa603ae3aa4799f1cf7bb376d3b111cffdc102a03ac48df2e5d1f12888c3e6a71d1ade"
            "9940805eec321bdd2ff39b2fb3ad4c6ddc798e7d18");

  // HMAC-SHA1, RFC 2202 cases 1 and 2, fed in pieces.
  uint8_t mac[kSha1Bytes];
  HmacSha1 h;
  std::string key(20, '\x0b');
  ASSERT_TRUE(h.SetKey(U(key), key.size()));
  ASSERT_TRUE(h.Update(U("Hi "), 3));
  ASSERT_TRUE(h.Update(U("There"), 5));
  ASSERT_TRUE(h.Digest(mac));
  EXPECT_EQ(Hex(mac, kSha1Bytes), "b617318655057264e28bc0b6fb378c8ef146be00");
  ASSERT_TRUE(h.SetKey(U("Jefe"), 4));
  std::string what = "what do ya want for nothing?";
  ASSERT_TRUE(h.Update(U(what), what.size()));
  ASSERT_TRUE(h.Digest(mac));
  EXPECT_EQ(Hex(mac, kSha1Bytes), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");

  // AES, FIPS-197 appendix C, each key length; two blocks in one call.
  uint8_t key32[32], plain[32], out[32];
  for (int i = 0; i < 32; ++i) key32[i] = static_cast<uint8_t>(i);
  for (int i = 0; i < 16; ++i) plain[i] = plain[16 + i] = static_cast<uint8_t>(i * 0x11);
  AesBlocks aes;
  EXPECT_FALSE(aes.SetKey(key32, 20));
  ASSERT_TRUE(aes.SetKey(key32, 16));
  ASSERT_TRUE(aes.Encrypt(plain, out, 2));
  EXPECT_EQ(Hex(out, 16), "69c4e0d86a7b0430d8cdb78070b4c55a");
  EXPECT_EQ(Hex(out + 16, 16), "69c4e0d86a7b0430d8cdb78070b4c55a");
  ASSERT_TRUE(aes.SetKey(key32, 24));
  ASSERT_TRUE(aes.Encrypt(plain, out, 1));
  EXPECT_EQ(Hex(out, 16), "dda97ca4864cdfe06eaf70a0ec0d7191");
  ASSERT_TRUE(aes.SetKey(key32, 32));
  ASSERT_TRUE(aes.Encrypt(plain, out, 1));
  EXPECT_EQ(Hex(out, 16), "8ea2b7ca516745bfeafc49904b496089");

  // Two draws of random bytes differ.
  uint8_t r1[16], r2[16];
  ASSERT_TRUE(RandomBytes(r1, 16));
  ASSERT_TRUE(RandomBytes(r2, 16));
  EXPECT_NE(Hex(r1, 16), Hex(r2, 16));
}

// One entry's data as the scheme lays it out: salt, verifier, data, code.
std::string EncryptEntry(const std::string& password, int bits, const std::string& plain,
                         const std::vector<size_t>& pieces = {}) {
  using namespace qv::winzipaes;
  std::vector<uint8_t> salt(SaltBytes(bits));
  EXPECT_TRUE(RandomBytes(salt.data(), salt.size()));
  Encryptor e;
  EXPECT_TRUE(e.Init(password, bits, salt.data()));
  std::string data = plain;
  size_t at = 0;
  for (size_t n : pieces) {
    n = std::min(n, data.size() - at);
    e.Encrypt(reinterpret_cast<uint8_t*>(data.data()) + at, n);
    at += n;
  }
  e.Encrypt(reinterpret_cast<uint8_t*>(data.data()) + at, data.size() - at);
  uint8_t mac[kMacBytes];
  EXPECT_TRUE(e.Finish(mac));
  return std::string(salt.begin(), salt.end()) +
         std::string(reinterpret_cast<const char*>(e.verifier()), kVerifierBytes) + data +
         std::string(reinterpret_cast<const char*>(mac), kMacBytes);
}

TEST(WinZipAes, StreamDoesNotDependOnHowTheDataAreCut) {
  using namespace qv::winzipaes;
  std::string plain = qvtest::Bytes(70000, 9);
  uint8_t salt[16] = {1, 2, 3};
  auto run = [&](const std::vector<size_t>& pieces) {
    Encryptor e;
    EXPECT_TRUE(e.Init("pw", 256, salt));
    std::string d = plain;
    size_t at = 0;
    for (size_t n : pieces) {
      e.Encrypt(reinterpret_cast<uint8_t*>(d.data()) + at, n);
      at += n;
    }
    e.Encrypt(reinterpret_cast<uint8_t*>(d.data()) + at, d.size() - at);
    uint8_t mac[kMacBytes];
    EXPECT_TRUE(e.Finish(mac));
    return d + std::string(reinterpret_cast<char*>(mac), kMacBytes);
  };
  std::string whole = run({});
  // Cuts inside a block, at a batch's end (4096 bytes) and across batches.
  EXPECT_EQ(run({1, 15, 16, 17, 4047, 4096, 9000}), whole);
  EXPECT_NE(whole.substr(0, 100), plain.substr(0, 100));
  Encryptor unset;
  uint8_t mac[kMacBytes];
  EXPECT_FALSE(unset.Init("pw", 100, salt));
  EXPECT_FALSE(unset.Finish(mac));
}

// An AE-2 entry (CRC field 0) of our own making, for a hand-built zip: the
// data stored inside the encryption, or `inner` (already deflated) when given.
RawZip::Item AesItem(const std::string& name, const std::string& plain, const std::string& password,
                     int bits, const std::string* inner = nullptr, int vendorVersion = 2) {
  RawZip::Item i;
  i.name = name;
  i.data = EncryptEntry(password, bits, inner ? *inner : plain, {7, 4096});
  i.method = 99;
  i.flags = 1;
  i.crc = vendorVersion == 1 ? static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(plain.data()),
                                                           static_cast<uInt>(plain.size())))
                             : 0;
  i.size = static_cast<uint32_t>(plain.size());
  std::string x = {'\x01', '\x99', '\x07', '\x00', static_cast<char>(vendorVersion), '\x00', 'A', 'E'};
  x += static_cast<char>(qv::winzipaes::StrengthCode(bits));
  x += inner ? std::string("\x08\x00", 2) : std::string("\x00\x00", 2);
  i.extra = x;
  return i;
}

// Extracts `z` with `pw`; the result and the reason.
int32_t ExtractWith(const RawZip& z, const TempDir& t, const std::string& name, const std::string& pw,
                    std::string& why) {
  std::string arc = t / (name + ".zip");
  z.Save(arc);
  qv::ZipEngine e;
  if (e.OpenArchive(arc) != 1) return -100;
  e.SetExtractPassword(pw);
  int32_t r = e.ExtractAll(t / ("x-" + name));
  why = e.ErrorText();
  return r;
}

TEST(WinZipAes, EntriesAreReadByLibarchiveAndSevenZip) {
  TempDir t;
  const std::string pw = "mötdepasse é";
  std::string big = qvtest::Bytes(300000, 4, true), small = "abc";
  for (int bits : {128, 256}) {
    RawZip z;
    z.Add(AesItem("grand.txt", big, pw, bits));
    z.Add(AesItem("petit.txt", small, pw, bits));
    std::string arc = t / ("aes" + std::to_string(bits) + ".zip");
    z.Save(arc);

    qv::ZipEngine e;
    ASSERT_EQ(e.OpenArchive(arc), 1);
    EXPECT_EQ(e.ArchiveCipher(), qv::ZipEngine::kCipherAes);
    e.SetExtractPassword("autre");
    EXPECT_EQ(e.PasswordMatches(), 0);
    e.SetExtractPassword(pw);
    ASSERT_EQ(e.PasswordMatches(), 1);
    std::string dest = t / ("x" + std::to_string(bits));
    ASSERT_EQ(e.ExtractAll(dest), 2) << e.ErrorText();
    EXPECT_EQ(qvtest::ReadFile(dest + "/grand.txt"), big);
    EXPECT_EQ(qvtest::ReadFile(dest + "/petit.txt"), small);

    std::string out;
    EXPECT_EQ(qvtest::Shell("7zz t -p" + qvtest::Quote(pw) + " " + qvtest::Quote(arc), &out), 0) << out;
  }
  // A flipped byte of encrypted data fails its code.
  RawZip z;
  RawZip::Item i = AesItem("grand.txt", big, pw, 256);
  i.data[1000] ^= 1;
  z.Add(i);
  std::string arc = t / "flipped.zip";
  z.Save(arc);
  std::string out;
  EXPECT_NE(qvtest::Shell("7zz t -p" + qvtest::Quote(pw) + " " + qvtest::Quote(arc), &out), 0);
  qv::ZipEngine e;
  ASSERT_EQ(e.OpenArchive(arc), 1);
  e.SetExtractPassword(pw);
  EXPECT_LT(e.ExtractAll(t / "xf"), 0);
  EXPECT_NE(e.ErrorText().find("code d'authentification"), std::string::npos) << e.ErrorText();
  EXPECT_FALSE(qvtest::stdfs::exists(t / "xf/grand.txt"));
}

// Damaged or odd AES entries, as an outside archive may hold them: each one
// fails with its reason and leaves no file, the sound entries beside it are
// extracted.
TEST(WinZipAes, DamagedEntriesFailAloneAndLeaveNothing) {
  TempDir t;
  const std::string pw = "secret";
  const std::string text = qvtest::Bytes(400000, 6, true);
  const std::string deflated = RawZip::Deflate(text);
  struct Case {
    const char* name;
    RawZip::Item item;
    const char* reason;  // "" when the entry must extract
  };
  std::string cut = deflated.substr(0, deflated.size() / 2);
  std::string garbage = qvtest::Bytes(5000, 7);
  std::vector<Case> cases;
  cases.push_back({"deflated", AesItem("d.txt", text, pw, 256, &deflated), ""});
  cases.push_back({"ae1", AesItem("a.txt", text, pw, 256, &deflated, 1), ""});
  RawZip::Item badCrc = AesItem("c.txt", text, pw, 256, &deflated, 1);
  badCrc.crc ^= 1;
  cases.push_back({"ae1-crc", badCrc, "CRC"});
  cases.push_back({"cut", AesItem("t.txt", text, pw, 256, &cut), "tronquées"});
  cases.push_back({"garbage", AesItem("g.txt", text, pw, 256, &garbage), "invalides"});
  cases.push_back({"other-password", AesItem("p.txt", text, "autre", 256), "mot de passe"});
  RawZip::Item tooShort = AesItem("s.txt", "", pw, 256);
  tooShort.data.resize(20);
  cases.push_back({"too-short", tooShort, "tronquées"});
  for (const Case& c : cases) {
    RawZip z;
    z.Add(AesItem("sain.txt", "bonjour", pw, 128));
    z.Add(c.item);
    std::string why;
    int32_t r = ExtractWith(z, t, c.name, pw, why);
    EXPECT_TRUE(qvtest::stdfs::exists(t / (std::string("x-") + c.name + "/sain.txt"))) << c.name;
    std::string target = t / (std::string("x-") + c.name + "/" + c.item.name);
    if (*c.reason == '\0') {
      EXPECT_EQ(r, 2) << c.name << ": " << why;
      EXPECT_TRUE(qvtest::ReadFile(target) == text) << c.name;
    } else {
      EXPECT_LT(r, 0) << c.name;
      EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
      EXPECT_FALSE(qvtest::stdfs::exists(target)) << c.name;
    }
    EXPECT_TRUE(qvtest::Names(t / (std::string("x-") + c.name)).size() <= 2) << c.name;
  }
}

}  // namespace
