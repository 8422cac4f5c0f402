// Archives made by the other tools people use: one password prompt for a
// ZipCrypto (Info-ZIP, 7-Zip) or AES (7-Zip) archive, none for a plain one.
#include <cstdlib>

#include "extractor/workflow_fixture.h"

namespace qv::unpack::testing {
namespace {

class OtherTools : public Workflow {
 protected:
  fs::path Source() {
    fs::path src = root_ / "src";
    WriteFile(src / "a.txt", "alpha\n");
    WriteFile(src / "sub" / "c.bin", Noise(50000, 4));
    return src;
  }
  // Runs a tool in `dir`; the archive is made of that folder's content.
  void Tool(const fs::path& dir, const std::string& command) {
    std::string line = "cd '" + U8(dir) + "' && " + command + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
  }
  void CheckExtracted(const fs::path& dest) {
    EXPECT_EQ(ReadFile(dest / "a.txt"), "alpha\n");
    EXPECT_EQ(ReadFile(dest / "sub" / "c.bin"), Noise(50000, 4));
  }
  size_t PasswordPrompts() {
    size_t n = 0;
    for (const ShownDialog& d : Shown()) n += d.mainInstruction == "Autorisation requise";
    return n;
  }
};

TEST_F(OtherTools, InfoZipZipCryptoAsksOnceAndRefusesWrongPasswords) {
  Tool(Source(), "zip -q -r -P 'mot de passe' '" + U8(root_ / "iz.zip") + "' .");
  Dialog(0).Type("mot").Click(1).Clear().Type("mot de passe").Click(1);
  EXPECT_EQ(Run(U8(root_ / "iz.zip")), kExitDone);
  EXPECT_EQ(PasswordPrompts(), 1u);
  EXPECT_EQ(ui_->Beeps().size(), 1u);
  CheckExtracted(root_ / "iz");
}

TEST_F(OtherTools, SevenZipZipCryptoAsksOnce) {
  Tool(Source(), "7zz a -tzip -pSecret7 -mem=ZipCrypto '" + U8(root_ / "zc.zip") + "' .");
  Dialog(0).Type("Secret7").Click(1);
  EXPECT_EQ(Run(U8(root_ / "zc.zip")), kExitDone);
  EXPECT_EQ(PasswordPrompts(), 1u);
  CheckExtracted(root_ / "zc");
}

TEST_F(OtherTools, SevenZipAes256AsksOnce) {
  Tool(Source(), "7zz a -tzip -pSecret7 -mem=AES256 '" + U8(root_ / "aes.zip") + "' .");
  Dialog(0).Type("secret7").Click(1).Clear().Type("Secret7").Click(1);
  EXPECT_EQ(Run("#" + U8(root_ / "aes.zip")), kExitDone);
  EXPECT_EQ(PasswordPrompts(), 1u);
  EXPECT_EQ(ui_->Beeps().size(), 1u);
  CheckExtracted(root_ / "aes");
  EXPECT_FALSE(fs::exists(root_ / "aes.zip"));
}

TEST_F(OtherTools, PlainInfoZipArchiveHasNoPrompt) {
  Tool(Source(), "zip -q -r '" + U8(root_ / "plain.zip") + "' .");
  EXPECT_EQ(Run(U8(root_ / "plain.zip")), kExitDone);
  EXPECT_EQ(PasswordPrompts(), 0u);
  EXPECT_EQ(Shown().size(), 1u);
  CheckExtracted(root_ / "plain");
}

TEST_F(OtherTools, UnsupportedMethodFailsAndKeepsTheArchive) {
  // Compressible text: 7-Zip stores what it cannot shrink, whatever the method.
  fs::path src = root_ / "text";
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "bonjour tout le monde ";
  WriteFile(src / "t.txt", text);
  Tool(src, "7zz a -tzip -mm=Deflate64 '" + U8(root_ / "d64.zip") + "' .");
  // The failure and its reason stay until "Annuler".
  Dialog(0).AtMs(5000).Click(101);
  EXPECT_EQ(Run("#" + U8(root_ / "d64.zip")), kExitFailed);
  ASSERT_EQ(Shown().size(), 1u);
  const std::string& footer = Shown()[0].footers.back();
  EXPECT_EQ(footer.rfind("La décompression a échoué.\nÉlément illisible ou endommagé « t.txt »", 0),
            0u)
      << footer;
  EXPECT_EQ(Shown()[0].footerIcons.back(), 0xFFFE);
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(fs::exists(root_ / "d64.zip"));
  EXPECT_FALSE(fs::exists(root_ / "d64" / "t.txt"));
}

}  // namespace
}  // namespace qv::unpack::testing
