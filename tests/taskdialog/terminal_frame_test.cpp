// The terminal renderer's frames built from the dialogs of the programs, as
// the dialog layer shows them (scripted renderer, virtual clock): what a
// person at a terminal sees, without a terminal.
#include "taskdialog/terminal/terminal_frame.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/eventloop.h"
#include "support/text.h"
#include "taskdialog/cTaskDialog.h"
#include "taskdialog/tdscripted.h"
#include "program_dialogs.h"

namespace qv {
namespace {

std::string Plain(const std::string& line) {
  static const std::regex sgr("\x1b\\[[0-9;]*m");
  return std::regex_replace(line, sgr, "");
}

std::vector<std::string> Plain(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) out.push_back(Plain(l));
  return out;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

class TerminalFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLoop(&loop_);
    ui_ = std::make_unique<ScriptedDialogs>();
  }
  void TearDown() override {
    ui_.reset();
    SetLoop(nullptr);
  }
  // Shows `td`, builds frames of it with `build` while it is up, then
  // closes it.
  void WhileShown(cTaskDialog& td, std::function<void(LayerDialog&)> build) {
    ui_->Dialog(ui_->Shown().size()).Do(build).Close().Click(400).Click(8);
    td.ShowDialog();
  }
  std::unique_ptr<cTaskDialog> Password(bool masked) {
    auto td = std::make_unique<cTaskDialog>();
    td->Init();
    testing_dialogs::SetUpPassword(*td, masked);
    return td;
  }
  VirtualEventLoop loop_;
  std::unique_ptr<ScriptedDialogs> ui_;
};

TEST_F(TerminalFrame, PasswordBoxStandsInTheButtonRowMaskedAndNeverInClear) {
  auto td = Password(true);
  std::vector<std::string> frame, narrow, closed;
  WhileShown(*td, [&](LayerDialog& d) {
    d.Type("s€cr😀t");
    frame = Plain(DialogFrame(d, FrameState{-1, false, 80}));
    narrow = Plain(DialogFrame(d, FrameState{-1, false, 24}));
    closed = {Plain(ClosedDialogLine(d, IDOK_))};
  });
  const std::string all = Joined(frame);
  EXPECT_EQ(frame.front().rfind("── Quorvelunpack : Décompresser un fichier Zip ─", 0), 0u) << all;
  EXPECT_NE(all.find(" Autorisation requise\n Ce fichier est protégé par mot de passe\n"),
            std::string::npos)
      << all;
  // One row: the box (six characters masked, the cursor after them), then
  // OK with its shield, then Cancel.
  const std::regex row(R"(^  \[●●●●●● _+\]  \[ ⛨ OK \]  \[ Annuler \]$)");
  bool found = false;
  for (const auto& l : frame) found = found || std::regex_match(l, row);
  EXPECT_TRUE(found) << all;
  EXPECT_EQ(all.find("s€cr"), std::string::npos);
  EXPECT_NE(all.find(" ℹ Entrer le mot de passe puis OK pour continuer."), std::string::npos);
  EXPECT_EQ(frame.back(), " Tab : zone suivante · Entrée : valider · Échap ou a : annuler");
  for (const auto& l : frame) EXPECT_LE(Utf8Length(l), 80u) << l;
  // Too narrow for both: the box goes on its own line above the buttons.
  std::string n = Joined(narrow);
  EXPECT_NE(n.find("  [●●●●●●"), std::string::npos) << n;
  EXPECT_NE(n.find("\n  [ ⛨ OK ]  [ Annuler ]\n"), std::string::npos) << n;
  // Closed: one line, no trace of the text.
  EXPECT_EQ(closed, std::vector<std::string>{" ✓ Autorisation requise → OK"});
}

TEST_F(TerminalFrame, UnmaskedBoxShowsItsTextEscapedAndFocusMoves) {
  auto td = Password(false);
  std::vector<std::string> onBox, onCancel, final;
  WhileShown(*td, [&](LayerDialog& d) {
    d.Type("ab\x1b]0;x\x07");
    auto items = FocusItems(d);
    ASSERT_EQ(items.size(), 3u);  // box, OK, Cancel
    EXPECT_EQ(InitialFocus(d, items), 0);
    onBox = DialogFrame(d, FrameState{0, false, 80});
    onCancel = DialogFrame(d, FrameState{2, false, 80});
    final = DialogFrame(d, FrameState{2, true, 80});
  });
  std::string box = Joined(onBox);
  EXPECT_EQ(box.find("\x07"), std::string::npos);
  EXPECT_NE(Plain(box).find("[ab\\x1b]0;x\\x07 "), std::string::npos) << box;
  // The focused item is drawn in reverse video; the last drawing has none.
  EXPECT_NE(Joined(onCancel).find("\x1b[7m[ Annuler ]"), std::string::npos);
  EXPECT_EQ(Joined(final).find("\x1b[7m"), std::string::npos);
  EXPECT_EQ(Joined(final).find("Échap"), std::string::npos);  // no hint
}

TEST_F(TerminalFrame, ChoiceNumbersItsLinksWithTheirNotes) {
  cTaskDialog td;
  td.Init();
  testing_dialogs::SetUpChoice(td, true);
  std::vector<std::string> frame, thin;
  std::string closed;
  WhileShown(td, [&](LayerDialog& d) {
    frame = Plain(DialogFrame(d, FrameState{1, false, 100}));
    thin = Plain(DialogFrame(d, FrameState{1, false, 40}));
    closed = Plain(ClosedDialogLine(d, 400));
  });
  std::string all = Joined(frame);
  EXPECT_NE(all.find("\n    1. Mettre à jour le dossier\n"
                     "       et ne décompresser que les fichiers absents ou plus récents\n"
                     "  › 2. Décompresser la totalité du ficher \n"
                     "       et écraser les fichiers déjà présents\n"
                     "    3. Abandonner\n"
                     "       et renoncer à décompresser le fichier Zip\n"),
            std::string::npos)
      << all;
  EXPECT_EQ(frame.back(), " chiffre ou ↑↓ puis Entrée");  // no cancel: nothing to escape to
  // Long notes wrap at blanks within the width.
  for (const auto& l : thin) EXPECT_LE(Utf8Length(l), 40u) << Joined(thin);
  EXPECT_NE(Joined(thin).find("       et ne décompresser que les\n"), std::string::npos)
      << Joined(thin);
  EXPECT_EQ(closed, " ✓ Le dossier de décompression existe déjà !. → Abandonner");
}

TEST_F(TerminalFrame, ProgressBarFollowsThePositionAndTheFooterIsEscaped) {
  cTaskDialog td;
  td.Init();
  testing_dialogs::SetUpProgress(td, "Décompression en cours...");
  td.DialogCreated = [&](intptr_t) {
    td.ProgressSetRange(0, 200);
    td.ProgressSetValue(50);
    td.IconFooter(-2);
    td.Footer("Échec sur a\x1b[2Jb.txt");
  };
  std::vector<std::string> frame;
  std::string closed;
  WhileShown(td, [&](LayerDialog& d) {
    frame = Plain(DialogFrame(d, FrameState{-1, false, 80}));
    closed = Plain(ClosedDialogLine(d, 0));
  });
  std::string all = Joined(frame);
  const std::regex bar(R"(^  ((?:█)+)((?:░)+)  25 %$)");
  std::smatch m;
  bool found = false;
  for (const auto& l : frame)
    if (std::regex_match(l, m, bar)) {
      found = true;
      const size_t filled = Utf8Length(m[1].str()), total = filled + Utf8Length(m[2].str());
      EXPECT_EQ(filled, total / 4);  // a quarter filled
    }
  EXPECT_TRUE(found) << all;
  EXPECT_NE(all.find(" ✖ Échec sur a\\x1b[2Jb.txt\n"), std::string::npos) << all;
  EXPECT_EQ(closed, " ✓ Décompression en cours... → Échec sur a\\x1b[2Jb.txt");
}

TEST(TerminalFrameQuestion, YesNoWithTheFocusAndItsOneLineAnswer) {
  auto q = Plain(QuestionFrame("Suppression du dossier compressé",
                               "Voulez-vous supprimer le dossier qui vient d'être compressé ?", 1,
                               false, 60));
  ASSERT_GE(q.size(), 4u);
  EXPECT_EQ(q[0].rfind("── Suppression du dossier compressé ─", 0), 0u);
  EXPECT_EQ(q[1], " ? Voulez-vous supprimer le dossier qui vient d'être");
  EXPECT_EQ(q[2], " ? compressé ?");
  EXPECT_EQ(q[3], "  [ Oui ]  [ Non ]");
  auto raw = QuestionFrame("t", "x", 1, false, 60);
  EXPECT_EQ(raw[2], "  [ Oui ]  \x1b[7m[ Non ]\x1b[0m");
  EXPECT_EQ(Plain(AnsweredQuestionLine("Voulez-vous supprimer ?\n", false)),
            " ? Voulez-vous supprimer ? → Non");
}

}  // namespace
}  // namespace qv
