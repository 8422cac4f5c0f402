// Whole Quorvelpack runs, from the command line to the end of the process.
#include <unistd.h>

#include "support/text.h"
#include "taskdialog/tdconst.h"
#include "workflow_fixture.h"

namespace qv::pack::testing {
namespace {

constexpr char kTitle[] = "Quorvelpack : Compresser un dossier";
constexpr char kDeleteTitle[] = "Suppression du dossier compressé";
constexpr char kDeleteQuestion[] = "Voulez-vous supprimer le dossier qui vient d'être compressé ?";
constexpr char kDeleteConfirm[] =
    "Êtes-vous sûr de vouloir supprimer le dossier qui vient d'être compressé ?";
// Stock footer icons as the platform receives them (16-bit ordinals of -3, -2).
constexpr intptr_t kInfo = 0xFFFD;
constexpr intptr_t kError = 0xFFFE;

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// Changes the working folder for one case.
class InFolder {
 public:
  explicit InFolder(const fs::path& p) : old_(fs::current_path()) { fs::current_path(p); }
  ~InFolder() { fs::current_path(old_); }

 private:
  fs::path old_;
};

// ---- the plain run and the progress dialog -----------------------------------

TEST_F(Workflow, PlainRunWritesTheArchiveBesideTheFolderAndOpensItsParent) {
  fs::path f = MakeFolder("photos");
  Tree before = ReadTree(f);

  EXPECT_EQ(Run(U8(f)), kExitDone);

  ASSERT_EQ(Shown().size(), 1u);
  const ShownDialog& d = Shown()[0];
  EXPECT_EQ(d.title, kTitle);
  EXPECT_EQ(d.mainInstruction, "Compression en cours...");
  EXPECT_EQ(d.content, "Création de : photos.zip");
  EXPECT_EQ(d.record.dwFlags, 0xA10u);
  EXPECT_EQ(d.record.cxWidth, 300u);
  EXPECT_EQ(d.record.mainIcon, 0xFFF8);
  ASSERT_EQ(d.buttons.size(), 1u);
  EXPECT_EQ(d.buttons[0].id, 101);
  EXPECT_EQ(d.buttons[0].text, "Annuler");

  // Footers in their order: the blank start, the examination, the
  // percentages from 0, the end.
  ASSERT_FALSE(d.footers.empty());
  EXPECT_EQ(d.footers.front(), "   ");
  EXPECT_TRUE(Has(d.footers, "Examen des Fichiers à compresser ..."));
  EXPECT_TRUE(Has(d.footers, "Examen des Fichiers à compresser : c.bin"));
  auto zero = std::find(d.footers.begin(), d.footers.end(), "    Compression : 0 %  ");
  ASSERT_NE(zero, d.footers.end());
  EXPECT_GT(std::count_if(zero, d.footers.end(),
                          [](const std::string& s) { return s.rfind("    Compression : ", 0) == 0; }),
            2);
  EXPECT_EQ(d.footers.back(), "Compression complète");
  for (intptr_t icon : d.footerIcons) EXPECT_EQ(icon, kInfo);

  // The bar: range 0..100, starts at 0, follows the percentages, ends at 100.
  EXPECT_EQ(d.progress.minimum, 0);
  EXPECT_EQ(d.progress.maximum, 100);
  ASSERT_GE(d.progressPositions.size(), 2u);
  EXPECT_EQ(d.progressPositions.front(), 0);
  EXPECT_EQ(d.progressPositions.back(), 100);
  EXPECT_TRUE(std::is_sorted(d.progressPositions.begin(), d.progressPositions.end()));

  EXPECT_TRUE(ui_->Questions().empty());
  EXPECT_EQ(opened_, std::vector<std::string>{U8(root_ / "work")});
  EXPECT_EQ(LastDir(), U8(root_ / "work"));
  EXPECT_EQ(ReadArchive(root_ / "work" / "photos.zip", root_ / "check"), before);
  EXPECT_EQ(WorkEntries(), (std::vector<std::string>{"photos", "photos.zip"}));
}

// ---- command-line forms ---------------------------------------------------------

TEST_F(Workflow, QuotesAnywhereTrailingBlanksAndSeparatorGiveTheSameArchive) {
  fs::path f = MakeFolder("my files/report 2024");
  Tree content = ReadTree(f);
  const std::string p = U8(f);
  const std::string work = U8(root_ / "work" / "my files");
  const std::vector<std::string> forms = {
      "\"" + p + "\"",                                // quoted whole
      p + "/  ",                                      // trailing separator and blanks
      "\"" + work + "\"/\"report\" 2024\"/\"  ",      // quotes anywhere
      p,                                              // blanks inside, unquoted
  };
  for (const std::string& cmd : forms) {
    SCOPED_TRACE(cmd);
    fs::remove(root_ / "work" / "my files" / "report 2024.zip");
    form_.reset();
    ui_.reset();
    ui_ = std::make_unique<ScriptedDialogs>();
    opened_.clear();
    EXPECT_EQ(Run(cmd), kExitDone);
    EXPECT_EQ(form_->SourceFolder, p + "/");
    EXPECT_EQ(LastDir(), work);
    EXPECT_EQ(opened_, std::vector<std::string>{work});
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0].content, "Création de : report 2024.zip");
    EXPECT_EQ(ReadArchive(root_ / "work" / "my files" / "report 2024.zip", root_ / "check"), content);
    EXPECT_TRUE(ui_->Questions().empty());
  }
}

TEST_F(Workflow, PrefixInsideQuotesIsNotAPrefixAndLastDirIsSavedBeforeTheEngineFails) {
  // After the quotes go the path begins with "§", whose folder does not exist:
  // the engine refuses the archive and the run ends without a dialog (one
  // line on standard error says why), but the parent folder was remembered
  // first.
  MakeFolder("x");
  const std::string cmd = "\"§" + U8(root_ / "work" / "x") + "\"";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Run(cmd), kExitFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Impossible de créer un fichier dans le dossier de « §" + U8(root_ / "work" / "x") +
                ".zip ».\n");
  EXPECT_FALSE(form_->Encrypt);
  EXPECT_FALSE(form_->ConfirmDelete);
  EXPECT_EQ(form_->SourceFolder, "§" + U8(root_ / "work" / "x"));
  EXPECT_EQ(LastDir(), "§" + U8(root_ / "work"));
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(ui_->Questions().empty());
  EXPECT_EQ(WorkEntries(), std::vector<std::string>{"x"});
}

TEST_F(Workflow, OnlyTheFirstPrefixCountsAndTheSecondStaysInTheName) {
  // "#§x" in the working folder: "#" asks for the confirmed deletion, and the
  // folder compressed is "§x", a bare name, so "LastDir" is saved empty.
  fs::path f = MakeFolder("§x");
  InFolder here(root_ / "work");
  ui_->AnswerQuestions({IDNO_});
  EXPECT_EQ(Run("#§x"), kExitDone);
  EXPECT_TRUE(form_->ConfirmDelete);
  EXPECT_FALSE(form_->Encrypt);
  EXPECT_EQ(LastDir(), "");
  ASSERT_EQ(ui_->Questions().size(), 1u);
  EXPECT_EQ(ui_->Questions()[0].text, kDeleteConfirm);
  EXPECT_TRUE(fs::exists(f));
  EXPECT_EQ(Shown()[0].content, "Création de : §x.zip");
  EXPECT_EQ(ReadArchive(root_ / "work" / P("§x.zip"), root_ / "check"), ReadTree(f));
}

TEST_F(Workflow, BareNameIsCompressedInTheWorkingFolderAndLastDirIsEmpty) {
  fs::path f = MakeFolder("photos");
  InFolder here(root_ / "work");
  EXPECT_EQ(Run("photos"), kExitDone);
  EXPECT_EQ(LastDir(), "");
  EXPECT_EQ(ReadArchive(root_ / "work" / "photos.zip", root_ / "check"), ReadTree(f));
  EXPECT_EQ(opened_, std::vector<std::string>{""});
}

TEST_F(Workflow, RootFolderHasAnEmptyNameAndAnEmptyLastDir) {
  // The root loses its only separator: the folder is "", the archive ".zip" in
  // the working folder. The password dialog is cancelled before anything is
  // written.
  InFolder here(root_ / "work");
  Dialog(0).Close();
  EXPECT_EQ(Run("§/"), kExitCancelled);
  EXPECT_EQ(form_->SourceFolder, "");
  EXPECT_EQ(form_->ParentFolder, "");
  EXPECT_EQ(LastDir(), "");
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].mainInstruction, "Chiffrage AES (compatible 7-Zip/WinZip)");
  EXPECT_TRUE(WorkEntries().empty());
}

TEST_F(Workflow, SettingsStoreFailureEndsTheRunBeforeTheEngine) {
  // The per-user settings folder is a file: "LastDir" cannot be written and
  // the store's error reaches the program entry, which reports it.
  fs::path f = MakeFolder("photos");
  WriteFile(root_ / "config-file", "not a folder");
  ::setenv("XDG_CONFIG_HOME", U8(root_ / "config-file").c_str(), 1);
  form_ = std::make_unique<frmMain>();
  try {
    form_->Form_Load(U8(f));
    ADD_FAILURE() << "the run went on";
  } catch (const NumberedError& e) {
    EXPECT_EQ(static_cast<uint32_t>(e.Number()) & 0xFFFFF000u, 0x80040000u);
    EXPECT_EQ(e.Description(), "Impossible d'ouvrir ou de créer la clef de registre");
  } catch (const ProcessEnded&) {
    ADD_FAILURE() << "ended without the store's error";
  }
  EXPECT_FALSE(form_->Zip);
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(WorkEntries(), std::vector<std::string>{"photos"});
}

// ---- folder chooser ------------------------------------------------------------

TEST_F(Workflow, CancelledChooserEndsSilentlyWithoutSavingLastDir) {
  chooser_.Add(std::nullopt);
  EXPECT_EQ(Run(""), kExitCancelled);
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(ui_->Questions().empty());
  EXPECT_EQ(LastDir(), "<none>");
  ASSERT_EQ(chooser_.Prompts().size(), 1u);
  EXPECT_EQ(chooser_.Prompts()[0].rfind("Sélectionnez un dossier à Compresser dans ", 0), 0u)
      << chooser_.Prompts()[0];
}

TEST_F(Workflow, ChooserStartsInLastDirOrElseInDocuments) {
  fs::create_directories(root_ / "last");
  const std::string home = U8(Home());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"<unset>", home},                        // first run
      {"", home},                               // a root or bare name last time
      {U8(root_ / "gone"), home},               // a folder that no longer exists
      {"relative/dir", home},                   // not a full path
      {U8(root_ / "last"), U8(root_ / "last")}, // the folder remembered
  };
  for (const auto& [stored, start] : cases) {
    SCOPED_TRACE(stored);
    if (stored != "<unset>") SaveSettingString("Quorvelpack", "Data", "LastDir", stored);
    ScriptedChooserInput answers({std::nullopt});
    SetChooserInput(&answers);
    EXPECT_EQ(Run(""), kExitCancelled);
    ASSERT_EQ(answers.Prompts().size(), 1u);
    EXPECT_EQ(answers.Prompts()[0], "Sélectionnez un dossier à Compresser dans " + start + " :");
  }
  SetChooserInput(&chooser_);
}

TEST_F(Workflow, ChosenFolderAsksForEncryptionThenOffersTheDeletion) {
  fs::path f = MakeFolder("chosen");
  Tree content = ReadTree(f);
  chooser_.Add(U8(f));
  Dialog(0).Type("Secret!1").Click(1);
  ui_->AnswerQuestions({IDYES_, IDYES_});
  EXPECT_EQ(Run(""), kExitDone);
  EXPECT_TRUE(form_->FolderChosen);
  EXPECT_TRUE(form_->Encrypt);
  ASSERT_EQ(ui_->Questions().size(), 2u);
  EXPECT_EQ(ui_->Questions()[0].text, "Voulez-vous crypter le fichier compressé ? ");
  EXPECT_EQ(ui_->Questions()[0].title, "Quorvelpack : Compresser un dossier...");
  EXPECT_EQ(ui_->Questions()[0].flags, 0x124u);
  EXPECT_EQ(ui_->Questions()[1].text, kDeleteQuestion);
  EXPECT_EQ(ui_->Questions()[1].flags, 0x24u);
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[0].mainInstruction, "Chiffrage AES (compatible 7-Zip/WinZip)");
  EXPECT_EQ(LastDir(), U8(root_ / "work"));
  EXPECT_FALSE(fs::exists(f));
  EXPECT_EQ(Trashed(), std::vector<std::string>{"chosen"});
  EXPECT_EQ(opened_, std::vector<std::string>{U8(root_ / "work")});
  EXPECT_EQ(ReadArchive(root_ / "work" / "chosen.zip", root_ / "check", "Secret!1"), content);
}

TEST_F(Workflow, ChosenFolderWithoutEncryptionStillOffersTheDeletion) {
  fs::path f = MakeFolder("chosen");
  chooser_.Add(U8(f));
  ui_->AnswerQuestions({IDNO_, IDNO_});
  EXPECT_EQ(Run(""), kExitDone);
  EXPECT_FALSE(form_->Encrypt);
  ASSERT_EQ(Shown().size(), 1u);  // no password dialog
  ASSERT_EQ(ui_->Questions().size(), 2u);
  EXPECT_EQ(ui_->Questions()[1].text, kDeleteQuestion);
  EXPECT_TRUE(fs::exists(f / "sub" / "c.bin"));
  EXPECT_TRUE(Trashed().empty());
  EXPECT_EQ(ReadArchive(root_ / "work" / "chosen.zip", root_ / "check"), ReadTree(f));
}

TEST_F(Workflow, PlainPathAsksNoQuestionAndKeepsTheFolder) {
  fs::path f = MakeFolder("photos");
  EXPECT_EQ(Run(U8(f)), kExitDone);
  EXPECT_TRUE(ui_->Questions().empty());
  EXPECT_TRUE(fs::exists(f / "sub" / "c.bin"));
  EXPECT_TRUE(Trashed().empty());
}

// ---- existing archive -------------------------------------------------------------

TEST_F(Workflow, OverwriteReplacesTheOlderArchiveOnlyOnceTheNewOneIsComplete) {
  fs::path f = MakeFolder("photos");
  fs::path zip = root_ / "work" / "photos.zip";
  WriteFile(zip, "older archive");
  std::string duringChoice, whenProgressOpened, duringWrite;
  Dialog(0).Do([&](LayerDialog&) { duringChoice = ReadFile(zip); }).Click(200);
  Dialog(1).Do([&](LayerDialog&) { whenProgressOpened = ReadFile(zip); });
  // What lies under the archive's name while the engine writes.
  int watch = loop_.AddTimer(5, [&] {
    LayerDialog* d = ui_->Current();
    if (duringWrite.empty() && d && d->Footer().rfind("    Compression : ", 0) == 0)
      duringWrite = ReadFile(zip);
  });

  EXPECT_EQ(Run(U8(f)), kExitDone);
  loop_.RemoveTimer(watch);

  ASSERT_EQ(Shown().size(), 2u);
  const ShownDialog& c = Shown()[0];
  EXPECT_EQ(c.title, kTitle);
  EXPECT_EQ(c.mainInstruction, "Le fichier Zip existe déjà !.");
  EXPECT_EQ(c.content, "Vous pouvez choisir de :");
  EXPECT_EQ(c.record.dwFlags, 0x10u);
  EXPECT_EQ(c.record.dwCommonButtons, 0u);
  EXPECT_EQ(c.record.mainIcon, 0xFFFA);
  EXPECT_EQ(c.footers.front(), "Choisissez une des options ci-dessus");
  EXPECT_EQ(c.footerIcons.front(), kInfo);
  ASSERT_EQ(c.buttons.size(), 2u);
  EXPECT_EQ(c.buttons[0].id, 200);
  EXPECT_EQ(c.buttons[0].text, "Compresser le répertoire");
  EXPECT_EQ(c.buttons[0].note, "et écraser le fichier déjà présent");
  EXPECT_EQ(c.buttons[1].id, 400);
  EXPECT_EQ(c.buttons[1].text, "Abandonner");
  EXPECT_EQ(c.buttons[1].note, "et renoncer à compresser le dossier");

  EXPECT_EQ(duringChoice, "older archive");
  EXPECT_EQ(whenProgressOpened, "older archive");
  EXPECT_EQ(duringWrite, "older archive");
  EXPECT_EQ(ReadArchive(zip, root_ / "check"), ReadTree(f));
  EXPECT_EQ(WorkEntries(), (std::vector<std::string>{"photos", "photos.zip"}));
}

TEST_F(Workflow, OverwriteThenAFailedWriteKeepsTheOlderArchive) {
  fs::path f = MakeFolder("photos");
  fs::path zip = root_ / "work" / "photos.zip";
  WriteFile(zip, "older archive");
  // A file goes away right after the engine collected it: the write fails.
  Dialog(0).Do([&](LayerDialog&) {
    auto collected = form_->Zip->ToBeAdded;
    form_->Zip->ToBeAdded = [&, collected](const std::string& name, int64_t size, int32_t& ex) {
      collected(name, size, ex);
      if (P(name).filename() == "c.bin") fs::remove(P(name));
    };
  });
  Dialog(0).Click(200);
  Dialog(1).AtMs(8000).Click(101);
  EXPECT_EQ(Run(U8(f)), kExitFailed);
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[1].footers.back().rfind("La compression a échoué.\n", 0), 0u);
  EXPECT_EQ(ReadFile(zip), "older archive");
  EXPECT_EQ(WorkEntries(), (std::vector<std::string>{"photos", "photos.zip"}));
}

TEST_F(Workflow, OverwriteThenACancelKeepsTheOlderArchive) {
  fs::path f = MakeFolder("photos");
  WriteFile(f / "big.bin", Noise(4 << 20, 11));
  fs::path zip = root_ / "work" / "photos.zip";
  WriteFile(zip, "older archive");
  Dialog(0).Click(200);
  // "Annuler" once the write is under way.
  int watch = loop_.AddTimer(5, [&] {
    LayerDialog* d = ui_->Current();
    if (d && d->Open() && d->Footer().rfind("    Compression : ", 0) == 0 && !form_->Cancelled)
      d->Click(101);
  });
  EXPECT_EQ(Run(U8(f)), kExitCancelled);
  loop_.RemoveTimer(watch);
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_FALSE(Has(Shown()[1].footers, "Compression complète"));
  EXPECT_EQ(ReadFile(zip), "older archive");
  EXPECT_EQ(WorkEntries(), (std::vector<std::string>{"photos", "photos.zip"}));
}

TEST_F(Workflow, ChoiceClosedWithoutAnAnswerIsAnAbandon) {
  // End of input closes the choice with the close id, as does a dialog that
  // could not be shown: nothing is written, the older archive stays.
  fs::path f = MakeFolder("photos");
  fs::path zip = root_ / "work" / "photos.zip";
  WriteFile(zip, "older archive");
  Dialog(0).Do([](LayerDialog& d) { d.Dismiss(); });
  EXPECT_EQ(Run(U8(f)), kExitCancelled);
  EXPECT_TRUE(form_->Cancelled);
  EXPECT_FALSE(form_->ProceedWithCompression);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].result, 8);
  EXPECT_EQ(ReadFile(zip), "older archive");
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(WorkEntries(), (std::vector<std::string>{"photos", "photos.zip"}));
}

TEST_F(Workflow, AbandonKeepsTheOlderArchiveAndWritesNothing) {
  fs::path f = MakeFolder("photos");
  fs::path zip = root_ / "work" / "photos.zip";
  WriteFile(zip, "older archive");
  Dialog(0).Click(400);
  EXPECT_EQ(Run(U8(f)), kExitCancelled);
  EXPECT_EQ(Shown().size(), 1u);
  EXPECT_EQ(ReadFile(zip), "older archive");
  EXPECT_EQ(LastDir(), U8(root_ / "work"));
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(WorkEntries(), (std::vector<std::string>{"photos", "photos.zip"}));
}

TEST_F(Workflow, PasswordComesBeforeTheExistingArchiveChoice) {
  fs::path f = MakeFolder("photos");
  WriteFile(root_ / "work" / "photos.zip", "older archive");
  Dialog(0).Type("Secret!1").Click(1);
  Dialog(1).Click(200);
  ui_->AnswerQuestions({IDNO_});
  EXPECT_EQ(Run("§" + U8(f)), kExitDone);
  ASSERT_EQ(Shown().size(), 3u);
  EXPECT_EQ(Shown()[0].mainInstruction, "Chiffrage AES (compatible 7-Zip/WinZip)");
  EXPECT_EQ(Shown()[1].mainInstruction, "Le fichier Zip existe déjà !.");
  EXPECT_EQ(Shown()[2].mainInstruction, "Compression en cours...");
  EXPECT_EQ(ReadArchive(root_ / "work" / "photos.zip", root_ / "check", "Secret!1"), ReadTree(f));
}

// ---- password -------------------------------------------------------------------

TEST_F(Workflow, PasswordDialogRatesEveryKeystroke) {
  fs::path f = MakeFolder("photos");
  struct Seen {
    std::string text, footer;
    intptr_t icon;
  };
  std::vector<Seen> seen;
  DialogScript& pw = Dialog(0);
  auto typeEach = [&](const std::string& s) {
    for (char32_t ch : Utf8ToUtf32(s)) {
      std::string one = Utf32ToUtf8(std::u32string(1, ch));
      pw.Do([&, one](LayerDialog& d) {
        d.Type(one);
        seen.push_back({d.InputBox().text, d.Footer(), d.IconFooter()});
      });
    }
  };
  auto clear = [&] { pw.Do([](LayerDialog& d) { d.SetInput(""); }); };
  typeEach("abcdef");  // one class
  clear();
  typeEach("abcDEF");  // two
  clear();
  typeEach("abcDE1");  // three
  clear();
  typeEach("abcD1!");  // four
  clear();
  typeEach("éééééé");  // accented letters are "other"
  clear();
  typeEach("aB3 xé");  // blank, accent: one class ("other") for both
  pw.Click(1);
  ui_->AnswerQuestions({IDNO_});

  EXPECT_EQ(Run("§" + U8(f)), kExitDone);

  const std::string invalid = "Mot de passe invalide !";
  const std::string weak = "Sécurité du mot de passe : Faible";
  const std::string medium = "Sécurité du mot de passe : Modérée";
  const std::string strong = "Sécurité du mot de passe : Forte";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"a", invalid},     {"ab", invalid},     {"abc", invalid},    {"abcd", invalid},
      {"abcde", invalid}, {"abcdef", weak},    {"a", invalid},      {"ab", invalid},
      {"abc", invalid},   {"abcD", invalid},   {"abcDE", invalid},  {"abcDEF", weak},
      {"a", invalid},     {"ab", invalid},     {"abc", invalid},    {"abcD", invalid},
      {"abcDE", invalid}, {"abcDE1", medium},  {"a", invalid},      {"ab", invalid},
      {"abc", invalid},   {"abcD", invalid},   {"abcD1", invalid},  {"abcD1!", strong},
      {"é", invalid},     {"éé", invalid},     {"ééé", invalid},    {"éééé", invalid},
      {"ééééé", invalid}, {"éééééé", weak},    {"a", invalid},      {"aB", invalid},
      {"aB3", invalid},   {"aB3 ", invalid},   {"aB3 x", invalid},  {"aB3 xé", strong},
  };
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(seen[i].text);
    EXPECT_EQ(seen[i].text, expected[i].first);
    EXPECT_EQ(seen[i].footer, expected[i].second);
    EXPECT_EQ(seen[i].icon, expected[i].second == invalid ? kError : kInfo);
  }

  const ShownDialog& d = Shown()[0];
  EXPECT_EQ(d.title, kTitle);
  EXPECT_EQ(d.content, "Saisir un mot de passe :");
  EXPECT_EQ(d.record.dwFlags, 0x4000000u);
  EXPECT_EQ(d.record.dwCommonButtons, 9u);
  EXPECT_EQ(d.record.mainIcon, 0xFFF9);
  EXPECT_EQ(d.footers.front(), "Entrer le mot de passe puis OK pour continuer.");
  EXPECT_EQ(d.footerIcons.front(), kInfo);
  EXPECT_TRUE(d.input.present);
  EXPECT_FALSE(d.input.masked);
  bool okElevated = false;
  for (auto& b : d.buttons)
    if (b.id == 1) okElevated = b.elevated;
  EXPECT_TRUE(okElevated);

  EXPECT_EQ(form_->ArchivePassword, "aB3 xé");
  EXPECT_EQ(ReadArchive(root_ / "work" / "photos.zip", root_ / "check", "aB3 xé"), ReadTree(f));
}

TEST_F(Workflow, ShortPasswordIsRefusedWithABeepUntilItIsLongEnough) {
  fs::path f = MakeFolder("photos");
  bool openAfterRefusal = false;
  Dialog(0)
      .Type("Ab1!x")
      .Click(1)
      .Do([&](LayerDialog& d) { openAfterRefusal = d.Open(); })
      .Type("y")
      .Click(1);
  ui_->AnswerQuestions({IDNO_});

  EXPECT_EQ(Run("§" + U8(f)), kExitDone);

  EXPECT_TRUE(openAfterRefusal);
  EXPECT_EQ(ui_->Beeps(), std::vector<uint32_t>{0x10});
  const ShownDialog& d = Shown()[0];
  EXPECT_TRUE(Has(d.footers, "Mot de passe invalide, veuillez le modifier !"));
  EXPECT_EQ(d.footers.back(), "Sécurité du mot de passe : Forte");
  EXPECT_EQ(ReadArchive(root_ / "work" / "photos.zip", root_ / "check", "Ab1!xy"), ReadTree(f));

  ZipEngine z;
  ASSERT_EQ(z.OpenArchive(U8(root_ / "work" / "photos.zip")), 1);
  EXPECT_NE(z.HasProtectedEntries(), 0);
  EXPECT_EQ(z.ArchiveCipher(), ZipEngine::kCipherAes);
  z.SetExtractPassword("Ab1!x");
  EXPECT_NE(z.PasswordMatches(), 1);
}

TEST_F(Workflow, BlanksAndAccentsMakeValidPasswordsKeptExactly) {
  for (const std::string pw : {"      ", "éééééé"}) {
    SCOPED_TRACE(pw);
    fs::path f = MakeFolder("photos");
    fs::remove(root_ / "work" / "photos.zip");
    form_.reset();
    ui_.reset();
    ui_ = std::make_unique<ScriptedDialogs>();
    ui_->Dialog(0).Type(pw).Click(1);
    ui_->AnswerQuestions({IDNO_});
    EXPECT_EQ(Run("§" + U8(f)), kExitDone);
    EXPECT_TRUE(ui_->Beeps().empty());
    EXPECT_EQ(form_->ArchivePassword, pw);
    EXPECT_EQ(Shown()[0].footers.back(), "Sécurité du mot de passe : Faible");
    EXPECT_EQ(ReadArchive(root_ / "work" / "photos.zip", root_ / "check", pw), ReadTree(f));
  }
}

TEST_F(Workflow, PasswordOfAHundredBytesIsInvalid) {
  // 7-Zip cannot open an AES archive whose password passes 99 bytes.
  fs::path f = MakeFolder("photos");
  std::string footerAt100, footerAt99;
  intptr_t iconAt100 = 0;
  bool openAfterRefusal = false;
  Dialog(0)
      .SetInput(std::string(100, 'k'))
      .Do([&](LayerDialog& d) {
        footerAt100 = d.Footer();
        iconAt100 = d.IconFooter();
      })
      .Click(1)
      .Do([&](LayerDialog& d) { openAfterRefusal = d.Open(); })
      .Backspace(1)
      .Do([&](LayerDialog& d) { footerAt99 = d.Footer(); })
      .Click(1);
  ui_->AnswerQuestions({IDNO_});
  EXPECT_EQ(Run("§" + U8(f)), kExitDone);
  EXPECT_EQ(footerAt100, "Mot de passe invalide !");
  EXPECT_EQ(iconAt100, kError);
  EXPECT_TRUE(openAfterRefusal);
  EXPECT_EQ(ui_->Beeps(), std::vector<uint32_t>{0x10});
  EXPECT_TRUE(Has(Shown()[0].footers, "Mot de passe invalide, veuillez le modifier !"));
  EXPECT_EQ(footerAt99, "Sécurité du mot de passe : Faible");
  EXPECT_EQ(form_->ArchivePassword, std::string(99, 'k'));
  EXPECT_EQ(ReadArchive(root_ / "work" / "photos.zip", root_ / "check", std::string(99, 'k')),
            ReadTree(f));
}

TEST_F(Workflow, CancelAfterARefusedPasswordWritesNothing) {
  fs::path f = MakeFolder("photos");
  Dialog(0).Type("abc").Click(1).Click(2);
  EXPECT_EQ(Run("§" + U8(f)), kExitCancelled);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].result, 2);
  EXPECT_EQ(form_->ArchivePassword, "");
  EXPECT_EQ(ui_->Beeps().size(), 1u);
  EXPECT_TRUE(ui_->Questions().empty());
  EXPECT_EQ(WorkEntries(), std::vector<std::string>{"photos"});
}

// ---- deletion questions, trash and the opened folder -----------------------------

TEST_F(Workflow, HashPrefixAsksForConfirmationAndYesSendsTheFolderToTheTrash) {
  fs::path f = MakeFolder("photos");
  Tree content = ReadTree(f);
  ui_->AnswerQuestions({IDYES_});
  EXPECT_EQ(Run("#" + U8(f)), kExitDone);
  ASSERT_EQ(ui_->Questions().size(), 1u);
  EXPECT_EQ(ui_->Questions()[0].text, kDeleteConfirm);
  EXPECT_EQ(ui_->Questions()[0].title, kDeleteTitle);
  EXPECT_EQ(ui_->Questions()[0].flags, 0x24u);
  EXPECT_FALSE(fs::exists(f));
  EXPECT_EQ(Trashed(), std::vector<std::string>{"photos"});
  EXPECT_EQ(ReadTree(TrashFiles() / "photos"), content);
  // The folder that holds the archive is opened all the same.
  EXPECT_EQ(opened_, std::vector<std::string>{U8(root_ / "work")});
  EXPECT_EQ(ReadArchive(root_ / "work" / "photos.zip", root_ / "check"), content);
}

TEST_F(Workflow, HashPrefixWithNoKeepsTheFolder) {
  fs::path f = MakeFolder("photos");
  ui_->AnswerQuestions({IDNO_});
  EXPECT_EQ(Run("#" + U8(f)), kExitDone);
  ASSERT_EQ(ui_->Questions().size(), 1u);
  EXPECT_EQ(ui_->Questions()[0].text, kDeleteConfirm);
  EXPECT_TRUE(fs::exists(f / "sub" / "c.bin"));
  EXPECT_TRUE(Trashed().empty());
  EXPECT_EQ(opened_, std::vector<std::string>{U8(root_ / "work")});
}

TEST_F(Workflow, SectionPrefixOffersTheDeletionOnce) {
  fs::path f = MakeFolder("photos");
  Dialog(0).Type("Secret!1").Click(1);
  ui_->AnswerQuestions({IDYES_});
  EXPECT_EQ(Run("§" + U8(f)), kExitDone);
  ASSERT_EQ(ui_->Questions().size(), 1u);
  EXPECT_EQ(ui_->Questions()[0].text, kDeleteQuestion);
  EXPECT_EQ(ui_->Questions()[0].title, kDeleteTitle);
  EXPECT_EQ(ui_->Questions()[0].flags, 0x24u);
  EXPECT_FALSE(fs::exists(f));
  EXPECT_EQ(Trashed(), std::vector<std::string>{"photos"});
}

// ---- cancel -------------------------------------------------------------------------

TEST_F(Workflow, CancelAt100msEndsTheProcess1500msLaterAndLeavesNothing) {
  fs::path f = MakeFolder("photos");
  Dialog(0).AtMs(100).Click(101);
  EXPECT_EQ(Run("#" + U8(f)), kExitCancelled);
  ASSERT_EQ(Shown().size(), 1u);
  const int64_t clickedAt = Shown()[0].shownAtMs + 100;
  EXPECT_GE(endedAtMs_ - clickedAt, 1500);
  EXPECT_LE(endedAtMs_ - clickedAt, 1600);
  EXPECT_TRUE(ui_->Questions().empty());
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(WorkEntries(), std::vector<std::string>{"photos"});
  EXPECT_TRUE(fs::exists(f / "sub" / "c.bin"));
}

TEST_F(Workflow, CancelDuringTheFinalWaitEndsBeforeAnyQuestion) {
  fs::path f = MakeFolder("photos");
  int64_t clickedAt = -1;
  // The user clicks "Annuler" while "Compression complète" is shown.
  int watch = loop_.AddTimer(10, [&] {
    LayerDialog* d = ui_->Current();
    if (clickedAt < 0 && d && d->Footer() == "Compression complète") {
      clickedAt = loop_.NowMs();
      d->Click(101);
    }
  });
  ui_->AnswerQuestions({IDYES_});
  EXPECT_EQ(Run("#" + U8(f)), kExitCancelled);
  loop_.RemoveTimer(watch);
  ASSERT_GE(clickedAt, 0);
  EXPECT_GE(endedAtMs_ - clickedAt, 1500);
  EXPECT_LE(endedAtMs_ - clickedAt, 1600);
  EXPECT_TRUE(ui_->Questions().empty());
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(fs::exists(f / "sub" / "c.bin"));
  // The archive was complete before the click: it stays, the folder too.
  EXPECT_EQ(WorkEntries(), (std::vector<std::string>{"photos", "photos.zip"}));
  EXPECT_EQ(ReadArchive(root_ / "work" / "photos.zip", root_ / "check"), ReadTree(f));
}

// ---- failures ------------------------------------------------------------------------

TEST_F(Workflow, MissingFolderFailsWithItsReasonUntilAnnulerAndWritesNothing) {
  fs::create_directories(root_ / "work");
  ui_->AnswerQuestions({IDYES_});
  // The user reads the failure for a while, then presses "Annuler".
  Dialog(0).AtMs(9000).Click(101);
  EXPECT_EQ(Run("#" + U8(root_ / "work" / "absent")), kExitFailed);
  ASSERT_EQ(Shown().size(), 1u);
  const ShownDialog& d = Shown()[0];
  EXPECT_EQ(d.footers.back(), "La compression a échoué.\nLe dossier « " +
                                  U8(root_ / "work" / "absent") + " » est introuvable.");
  EXPECT_EQ(d.footerIcons.back(), kError);
  EXPECT_FALSE(Has(d.footers, "Compression complète"));
  EXPECT_FALSE(d.open);
  // Closed by the cancel path only: 500 ms after the click, then the wait.
  EXPECT_GE(d.closedAtMs - d.shownAtMs, 9500);
  EXPECT_GE(endedAtMs_ - d.shownAtMs, 10500);
  EXPECT_TRUE(ui_->Questions().empty());
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(WorkEntries().empty());
}

TEST_F(Workflow, FileVanishingDuringTheRunFailsAndKeepsTheFolder) {
  fs::path f = MakeFolder("photos");
  // Once the engine exists (the password dialog comes after it), a file is
  // removed right after the engine collected it.
  Dialog(0).Do([&](LayerDialog&) {
    auto collected = form_->Zip->ToBeAdded;
    form_->Zip->ToBeAdded = [&, collected](const std::string& name, int64_t size, int32_t& ex) {
      collected(name, size, ex);
      if (P(name).filename() == "c.bin") fs::remove(P(name));
    };
  });
  Dialog(0).Type("Secret!1").Click(1);
  Dialog(1).AtMs(6000).Click(101);
  ui_->AnswerQuestions({IDYES_});
  EXPECT_EQ(Run("§" + U8(f)), kExitFailed);
  ASSERT_EQ(Shown().size(), 2u);
  const ShownDialog& d = Shown()[1];
  EXPECT_EQ(d.footers.back().rfind("La compression a échoué.\n", 0), 0u) << d.footers.back();
  EXPECT_NE(d.footers.back().find("c.bin"), std::string::npos) << d.footers.back();
  EXPECT_GE(d.closedAtMs - d.shownAtMs, 6500);
  EXPECT_EQ(d.footerIcons.back(), kError);
  EXPECT_FALSE(Has(d.footers, "Compression complète"));
  EXPECT_TRUE(ui_->Questions().empty());
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(fs::exists(f / "a.txt"));
  EXPECT_EQ(WorkEntries(), std::vector<std::string>{"photos"});
}

// ---- names from outside ----------------------------------------------------------

// A control character, DEL, a C1 control or a bidirectional override, raw.
bool HasRawControl(const std::string& s, bool lineFeedAllowed) {
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\n' && lineFeedAllowed) continue;
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0) return true;
  }
  return s.find("\xE2\x80\xAE") != std::string::npos;
}

TEST_F(Workflow, NamesReachTheDialogEscaped) {
  // A folder and files whose names carry terminal commands and a right-to-left
  // override; one file goes away during the run, so the engine's reason
  // quotes a name too.
  const std::string folder = "bad\x1b[2J\xE2\x80\xAEgpj";
  fs::path f = MakeFolder(folder);
  WriteFile(f / P("\x07ring\xE2\x80\xAEtxt.exe"), "x");
  WriteFile(f / P("gone\x1b[31m\xC2\x9B.bin"), Noise(1000, 4));
  Dialog(0).Do([&](LayerDialog&) {
    auto collected = form_->Zip->ToBeAdded;
    form_->Zip->ToBeAdded = [&, collected](const std::string& name, int64_t size, int32_t& ex) {
      collected(name, size, ex);
      if (name.find("gone") != std::string::npos) fs::remove(P(name));
    };
  });
  Dialog(0).Type("Secret!1").Click(1);
  Dialog(1).AtMs(6000).Click(101);
  EXPECT_EQ(Run("§" + U8(f)), kExitFailed);
  ASSERT_EQ(Shown().size(), 2u);
  const ShownDialog& d = Shown()[1];
  EXPECT_EQ(d.content, "Création de : bad\\x1b[2J\\u202egpj.zip");
  EXPECT_TRUE(Has(d.footers, "Examen des Fichiers à compresser : \\x07ring\\u202etxt.exe"));
  EXPECT_TRUE(Has(d.footers, "Examen des Fichiers à compresser : gone\\x1b[31m\\x9b.bin"));
  EXPECT_FALSE(HasRawControl(d.content, false));
  for (const std::string& footer : d.footers) {
    SCOPED_TRACE(footer);
    EXPECT_FALSE(HasRawControl(footer, footer.rfind("La compression a échoué.\n", 0) == 0));
  }
  const std::string& failure = d.footers.back();
  EXPECT_EQ(failure.rfind("La compression a échoué.\n", 0), 0u) << failure;
  EXPECT_NE(failure.find("bad\\x1b[2J\\u202egpj"), std::string::npos) << failure;
  EXPECT_EQ(std::count(failure.begin(), failure.end(), '\n'), 1);
}

}  // namespace
}  // namespace qv::pack::testing
