// The engine against the other zip tools of the machine: 7-Zip (7zz), Info-ZIP
// (zip, unzip), bsdtar and Python's zipfile. Our archives must pass their
// tests and extract to the same tree; theirs must extract with us.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "PeerChecks.h"
#include "ZipTestUtil.h"
#include "engine/ZipEngine.h"

using qv::ZipEngine;
using qvtest::Quote;
using qvtest::Shell;
using qvtest::ReadFile;
using qvtest::TempDir;
using qvtest::Tree;
using qvtest::WriteFile;

namespace {

void MakeTree(const std::string& root) {
  WriteFile(root + "/Été 2026/À propos.txt", "Bonjour à tous\n", 1700000001);
  WriteFile(root + "/vide.bin", "", 1700000100);
  WriteFile(root + "/données/texte.txt", qvtest::Bytes(200000, 1, true), 1700000200);
  WriteFile(root + "/données/bruit.bin", qvtest::Bytes(700000, 2), 1700000301);
  qvtest::stdfs::create_directories(root + "/dossier vide");
}

int32_t Pack(const std::string& folder, const std::string& archive, const std::string& password = "") {
  ZipEngine z;
  return qvtest::Pack(z, folder, archive, password);
}

int32_t Unpack(const std::string& archive, const std::string& dest, const std::string& password = "",
               int32_t* cipher = nullptr) {
  ZipEngine z;
  if (z.OpenArchive(archive) != 1) return -100;
  if (cipher) *cipher = z.ArchiveCipher();
  if (!password.empty()) {
    z.SetExtractPassword(password);
    if (z.PasswordMatches() != 1) return -101;
  }
  return z.ExtractAll(dest);
}

void ExpectTimesClose(const std::string& a, const std::string& b) {
  EXPECT_TRUE(qvtest::TimesClose(a, b));
}

const char* kPassword = "mötdepasse é";

TEST(Interop, OurArchivesPassTheOtherTools) {
  TempDir t;
  std::string src = t / "src";
  MakeTree(src);
  ASSERT_EQ(Pack(src, t / "plain.zip"), 1);
  ASSERT_EQ(Pack(src, t / "aes.zip", kPassword), 1);
  std::string out;

  EXPECT_EQ(Shell("7zz t " + Quote(t / "plain.zip"), &out), 0) << out;
  EXPECT_EQ(Shell("7zz t -p" + Quote(kPassword) + " " + Quote(t / "aes.zip"), &out), 0) << out;
  EXPECT_NE(Shell("7zz t -pfaux " + Quote(t / "aes.zip"), &out), 0) << out;
  EXPECT_EQ(Shell("unzip -t " + Quote(t / "plain.zip"), &out), 0) << out;
  for (const char* name : {"plain.zip", "aes.zip"}) {
    EXPECT_EQ(Shell("bsdtar -tf " + Quote(t / name), &out), 0) << out;
    EXPECT_NE(out.find("Été 2026/À propos.txt"), std::string::npos) << out;
    EXPECT_NE(out.find("dossier vide/"), std::string::npos) << out;
  }
  // The AES method that 7-Zip reports for our entries.
  EXPECT_EQ(Shell("7zz l -slt -p" + Quote(kPassword) + " " + Quote(t / "aes.zip"), &out), 0);
  EXPECT_NE(out.find("AES-256"), std::string::npos) << out;

  EXPECT_EQ(Shell("7zz x -y -o" + Quote(t / "x-plain") + " " + Quote(t / "plain.zip"), &out), 0) << out;
  EXPECT_EQ(Tree(t / "x-plain"), Tree(src));
  ExpectTimesClose(src, t / "x-plain");
  EXPECT_EQ(Shell("7zz x -y -p" + Quote(kPassword) + " -o" + Quote(t / "x-aes") + " " +
                    Quote(t / "aes.zip"),
                &out),
            0)
      << out;
  EXPECT_EQ(Tree(t / "x-aes"), Tree(src));
  ExpectTimesClose(src, t / "x-aes");
}

// The position of the 12-byte encryption header of the first entry of an
// archive, and the value its last byte must have.
void FirstEntryCheck(const std::string& bytes, size_t& header, uint8_t& check) {
  auto u16 = [&](size_t at) { return static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8); };
  uint16_t flags = static_cast<uint16_t>(u16(6));
  uint16_t time = static_cast<uint16_t>(u16(10));
  uint8_t crcHigh = static_cast<uint8_t>(bytes[17]);
  header = 30 + u16(26) + u16(28);
  check = (flags & 8) ? static_cast<uint8_t>(time >> 8) : crcHigh;
}

TEST(Interop, WeExtractWhatTheOtherToolsWrite) {
  TempDir t;
  std::string src = t / "src";
  MakeTree(src);
  std::string out;
  // 7-Zip refuses non-ASCII passwords for zip encryption: an ASCII one here.
  const std::string pw = "motdepasse";
  ASSERT_EQ(Shell("cd " + Quote(src) + " && 7zz a -tzip -mem=AES256 -p" + pw + " " +
                    Quote(t / "7z-aes.zip") + " .",
                &out),
            0)
      << out;
  ASSERT_EQ(Shell("cd " + Quote(src) + " && 7zz a -tzip -p" + pw + " " + Quote(t / "7z-zc.zip") + " .", &out), 0)
      << out;
  ASSERT_EQ(Shell("cd " + Quote(src) + " && zip -qr -e -P " + pw + " " + Quote(t / "infozip.zip") + " .", &out), 0)
      << out;
  ASSERT_EQ(Shell("cd " + Quote(src) + " && zip -qr " + Quote(t / "infozip-plain.zip") + " .", &out), 0) << out;

  struct Case {
    const char* file;
    int32_t cipher;
  } cases[] = {{"7z-aes.zip", 4}, {"7z-zc.zip", 1}, {"infozip.zip", 1}, {"infozip-plain.zip", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    int32_t cipher = -1;
    std::string dest = t / (std::string("x-") + c.file);
    EXPECT_GE(Unpack(t / c.file, dest, c.cipher ? pw : "", &cipher), 0);
    EXPECT_EQ(cipher, c.cipher);
    EXPECT_EQ(Tree(dest), Tree(src));
    ExpectTimesClose(src, dest);
    if (c.cipher) {
      EXPECT_EQ(Unpack(t / c.file, dest + "-faux", "faux"), -101);
      EXPECT_FALSE(qvtest::stdfs::exists(dest + "-faux"));
    }
  }

  // A wrong password that passes ZipCrypto's one-byte check is still refused.
  WriteFile(t / "one/secret.txt", qvtest::Bytes(3000, 7, true));
  ASSERT_EQ(Shell("cd " + Quote(t / "one") + " && 7zz a -tzip -p" + pw + " " + Quote(t / "one.zip") + " .", &out), 0);
  std::string bytes = ReadFile(t / "one.zip");
  size_t header = 0;
  uint8_t check = 0;
  FirstEntryCheck(bytes, header, check);
  std::string wrong;
  for (int i = 0; i < 100000 && wrong.empty(); ++i) {
    std::string cand = "faux" + std::to_string(i);
    qvtest::ZipCrypto z(cand);
    uint8_t last = 0;
    for (int k = 0; k < 12; ++k) last = z.Decrypt(static_cast<uint8_t>(bytes[header + k]));
    if (last == check) wrong = cand;
  }
  ASSERT_FALSE(wrong.empty());
  ZipEngine z;
  ASSERT_EQ(z.OpenArchive(t / "one.zip"), 1);
  z.SetExtractPassword(wrong);
  EXPECT_EQ(z.PasswordMatches(), 0) << wrong;
  z.SetExtractPassword(pw);
  EXPECT_EQ(z.PasswordMatches(), 1);
}

TEST(Interop, PythonLegacyCodePageNames) {
  TempDir t;
  std::string script =
      "import zipfile, sys\n"
      "class Legacy(zipfile.ZipInfo):\n"
      "    __slots__ = ()\n"
      "    def _encodeFilenameFlags(self):\n"
      "        return self.filename.encode('cp850'), self.flag_bits & ~0x800\n"
      "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "    z.writestr(Legacy('Été 2026/À propos.txt'), 'cp850 ' * 100)\n"
      "    z.writestr(Legacy('Été 2026/Noël/ça.txt'), 'deux')\n"
      "    z.writestr('Ünïcode/déjà.txt', 'utf8')\n";
  WriteFile(t / "make.py", script);
  std::string out;
  ASSERT_EQ(Shell("python3 " + Quote(t / "make.py") + " " + Quote(t / "py.zip"), &out), 0) << out;
  // Check the names really went in without the UTF-8 flag.
  ASSERT_EQ(Shell("python3 -c \"import zipfile,sys; print([hex(i.flag_bits) for i in zipfile.ZipFile(sys.argv[1]).infolist()])\" " +
                    Quote(t / "py.zip"),
                &out),
            0);
  EXPECT_NE(out.find("'0x0'"), std::string::npos) << out;
  EXPECT_EQ(Unpack(t / "py.zip", t / "out"), 3);  // folders come with their files
  EXPECT_EQ(ReadFile(t / "out/Été 2026/Noël/ça.txt"), "deux");
  EXPECT_EQ(ReadFile(t / "out/Ünïcode/déjà.txt"), "utf8");
  EXPECT_TRUE(qvtest::stdfs::exists(t / "out/Été 2026/À propos.txt"));
}

}  // namespace
