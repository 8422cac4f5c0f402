#include <algorithm>

#include "extractor/workflow_fixture.h"

namespace qv::unpack::testing {
namespace {

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

bool NoStrayFiles(const fs::path& dir, const std::vector<std::string>& allowed) {
  if (!fs::exists(dir)) return true;
  for (auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_directory()) continue;
    auto rel = U8(fs::relative(e.path(), dir));
    if (!Has(allowed, rel)) {
      ADD_FAILURE() << "unexpected file " << rel;
      return false;
    }
  }
  return true;
}

const std::vector<std::string> kSampleFiles = {"a.txt", "sub/b.txt", "sub/c.bin"};

// ---- command line --------------------------------------------------------------

TEST_F(Workflow, PlainArchiveExtractsWithoutPromptAndOpensTheFolder) {
  fs::path zip = MakeSample("photos");
  EXPECT_EQ(Run(U8(zip)), kExitDone);

  fs::path dest = root_ / "photos";
  EXPECT_EQ(ReadFile(dest / "a.txt"), "alpha\n");
  EXPECT_EQ(ReadFile(dest / "sub" / "b.txt"), "bravo\n");
  EXPECT_EQ(ReadFile(dest / "sub" / "c.bin"), Noise(70000, 3));
  EXPECT_TRUE(NoStrayFiles(dest, kSampleFiles));
  EXPECT_TRUE(fs::exists(zip)) << "no '#': the archive stays";
  EXPECT_EQ(LastDir(), U8(root_));
  EXPECT_EQ(opened_, std::vector<std::string>{U8(dest)});

  ASSERT_EQ(Shown().size(), 1u) << "only the progress dialog";
  const ShownDialog& d = Shown()[0];
  EXPECT_EQ(d.title, "Quorvelunpack : Décompresser un fichier Zip");
  EXPECT_EQ(d.mainInstruction, "Décompression en cours...");
  EXPECT_EQ(d.content, "photos.zip");
  EXPECT_EQ(d.record.dwFlags, 0xA10u);
  EXPECT_EQ(d.record.cxWidth, 300u);
  EXPECT_EQ(d.record.mainIcon, 0xFFF8);
  EXPECT_EQ(d.footers.front(), "   ");
  EXPECT_EQ(d.footerIcons.front(), 0xFFFD);
  ASSERT_EQ(d.buttons.size(), 1u);
  EXPECT_EQ(d.buttons[0].id, 101);
  EXPECT_EQ(d.buttons[0].text, "Annuler");
  EXPECT_TRUE(Has(d.footers, "    Décompression : 0 %  "));
  EXPECT_TRUE(Has(d.footers, "    Décompression : 100 %  "));
  EXPECT_TRUE(form_->UnzipEnded);
  ASSERT_FALSE(d.progressPositions.empty());
  EXPECT_EQ(d.progressPositions.front(), 0);
  EXPECT_EQ(d.footers.back(), "Décompression complète");
  EXPECT_EQ(d.progress.position, 100);
  EXPECT_EQ(d.progress.maximum, 100);
  // Nothing moves before the 250 ms start; the end pauses 2000 ms.
  EXPECT_GE(d.closedAtMs - d.shownAtMs, 2250);
}

TEST_F(Workflow, QuotesAnywhereAndSpacesInThePath) {
  fs::path src = root_ / "src";
  WriteFile(src / "x.txt", "x");
  fs::path zip = root_ / "My files" / "a b.zip";
  fs::create_directories(zip.parent_path());
  MakeZip(src, zip);
  std::string cmd = "\"" + U8(root_) + "/My \"files/a b.zip\"";
  EXPECT_EQ(Run(cmd), kExitDone);
  EXPECT_EQ(ReadFile(root_ / "My files" / "a b" / "x.txt"), "x");
  EXPECT_EQ(LastDir(), U8(root_ / "My files"));
  EXPECT_EQ(Shown().at(0).content, "a b.zip");
}

TEST_F(Workflow, HashDeletesTheArchiveAfterSuccess) {
  fs::path zip = MakeSample("photos");
  EXPECT_EQ(Run("#" + U8(zip)), kExitDone);
  EXPECT_FALSE(fs::exists(zip));
  EXPECT_EQ(ReadFile(root_ / "photos" / "a.txt"), "alpha\n");
  EXPECT_EQ(LastDir(), U8(root_));
}

TEST_F(Workflow, HashAfterAQuoteIsPartOfThePath) {
  fs::path zip = MakeSample("photos");
  // The engine is handed "#/.../photos.zip", which does not exist: a silent end.
  EXPECT_EQ(Run("\"#" + U8(zip) + "\""), kExitFailed);
  EXPECT_TRUE(fs::exists(zip));
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(LastDir(), "#" + U8(root_));
}

TEST_F(Workflow, NothingToExtractEndsSilently) {
  EXPECT_EQ(Run("\"\""), kExitCancelled);
  EXPECT_EQ(Run("#"), kExitCancelled);
  // Too short to name a destination.
  EXPECT_EQ(Run("a.z"), kExitFailed);
  EXPECT_EQ(Run(".zip"), kExitFailed);
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(LastDir(), "<none>") << "nothing saved before a destination exists";
}

TEST_F(Workflow, ArchiveThatCannotBeOpenedEndsSilentlyAfterSavingLastDir) {
  // No dialog; standard error says why, on one line.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Run(U8(root_ / "missing.zip")), kExitFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Le fichier « " + U8(root_ / "missing.zip") + " » n'est pas une archive zip lisible.\n");
  EXPECT_EQ(LastDir(), U8(root_));
  // A name from outside does not reach the console raw.
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Run(U8(root_ / "a\x1b]0;x\x07\nb.zip")), kExitFailed);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Le fichier « " + U8(root_) + "/a\\x1b]0;x\\x07\\x0ab.zip » n'est pas une archive zip lisible.\n");
  WriteFile(root_ / "sub" / "notzip.zip", "this is not a zip archive at all");
  EXPECT_EQ(Run(U8(root_ / "sub" / "notzip.zip")), kExitFailed);
  EXPECT_EQ(LastDir(), U8(root_ / "sub"));
  // An archive at the root: the folder before the last separator is empty.
  EXPECT_EQ(Run("/qv-no-such-archive.zip"), kExitFailed);
  EXPECT_EQ(LastDir(), "");
  EXPECT_TRUE(Shown().empty());
  EXPECT_FALSE(fs::exists(root_ / "missing"));
  EXPECT_FALSE(fs::exists(root_ / "sub" / "notzip"));
}

TEST_F(Workflow, ArchiveNamedOnlyByItsExtensionIsNeverExtractedOverItsOwnFolder) {
  // "dir/.zip" would have "dir/" as its destination: the folder that holds
  // the archive. The run ends like an archive that cannot be opened.
  fs::path zip = MakeSample("photos");
  fs::create_directories(root_ / "dir");
  fs::copy_file(zip, root_ / "dir" / ".zip");
  WriteFile(root_ / "dir" / "a.txt", "mine");
  for (const std::string& cmd :
       {U8(root_ / "dir" / ".zip"), "#" + U8(root_ / "dir" / ".zip"), U8(root_ / "dir" / "..zip")}) {
    SCOPED_TRACE(cmd);
    if (cmd.find("..zip") != std::string::npos) fs::copy_file(zip, root_ / "dir" / "..zip");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Run(cmd), kExitFailed);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ne laisse aucun dossier de décompression"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(fs::exists(root_ / "dir" / ".zip"));
  EXPECT_EQ(ReadFile(root_ / "dir" / "a.txt"), "mine");
  EXPECT_FALSE(fs::exists(root_ / "dir" / "sub"));
  EXPECT_FALSE(fs::exists(root_ / "sub"));
  EXPECT_FALSE(fs::exists(root_ / "a.txt"));
}

TEST_F(Workflow, BareFileNameSavesAnEmptyLastDir) {
  fs::path zip = MakeSample("bare");
  fs::path old = fs::current_path();
  fs::current_path(root_);
  int code = Run("bare.zip");
  fs::current_path(old);
  EXPECT_EQ(code, kExitDone);
  EXPECT_EQ(LastDir(), "");
  EXPECT_EQ(ReadFile(root_ / "bare" / "a.txt"), "alpha\n");
}

TEST_F(Workflow, EmptyArchiveEndsAsComplete) {
  // End of central directory alone: a zip without entries.
  WriteFile(root_ / "empty.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_EQ(Run(U8(root_ / "empty.zip")), kExitDone);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].footers.back(), "Décompression complète");
  EXPECT_EQ(opened_, std::vector<std::string>{U8(root_ / "empty")});
}

// ---- password ------------------------------------------------------------------

TEST_F(Workflow, AesArchiveAsksOnceThenExtracts) {
  fs::path zip = MakeSample("secret", "Sésame-2024");
  Dialog(0).Type("Sésame-2024").Click(1);
  EXPECT_EQ(Run(U8(zip)), kExitDone);
  ASSERT_EQ(Shown().size(), 2u);
  const ShownDialog& pw = Shown()[0];
  EXPECT_EQ(pw.mainInstruction, "Autorisation requise");
  EXPECT_EQ(pw.title, "Quorvelunpack : Décompresser un fichier Zip");
  EXPECT_EQ(pw.record.dwFlags, 0x4000000u);
  EXPECT_EQ(pw.record.dwCommonButtons, 9u);
  EXPECT_EQ(pw.record.mainIcon, 0xFFF9);
  EXPECT_TRUE(pw.input.masked);
  EXPECT_EQ(pw.footers, std::vector<std::string>{"Entrer le mot de passe puis OK pour continuer."});
  EXPECT_EQ(pw.result, 8) << "closed by CloseDialog";
  EXPECT_TRUE(ui_->Beeps().empty());
  EXPECT_EQ(form_->ArchivePassword, "Sésame-2024");
  EXPECT_EQ(ReadFile(root_ / "secret" / "sub" / "c.bin"), Noise(70000, 3));
}

TEST_F(Workflow, ThreeWrongPasswordsThenTheRightOne) {
  fs::path zip = MakeSample("secret", "juste");
  // What the dialog shows right after each try.
  std::vector<std::string> after;
  std::vector<intptr_t> icons;
  auto look = [&](LayerDialog& d) {
    after.push_back(d.Footer());
    icons.push_back(d.IconFooter());
  };
  Dialog(0)
      .Do(look)
      .Type("faux1").Click(1).Do(look)
      .Clear().Type("faux2").Click(1).Do(look)
      .Clear().Type("Juste").Click(1).Do(look)
      .Clear().Type("juste").Click(1);
  EXPECT_EQ(Run(U8(zip)), kExitDone);
  EXPECT_EQ(ui_->Beeps(), (std::vector<uint32_t>{16, 16, 16}));
  const std::string wrong = "Mot de passe incorrect, veuillez réessayer.";
  EXPECT_EQ(after, (std::vector<std::string>{"Entrer le mot de passe puis OK pour continuer.",
                                             wrong, wrong, wrong}));
  EXPECT_EQ(icons, (std::vector<intptr_t>{0xFFFD, 0xFFFE, 0xFFFE, 0xFFFE}));
  EXPECT_EQ(form_->ArchivePassword, "juste");
  EXPECT_EQ(ReadFile(root_ / "secret" / "a.txt"), "alpha\n");
  EXPECT_EQ(Shown().size(), 2u);
}

TEST_F(Workflow, CancelAfterAWrongPasswordEndsWithoutAnotherDialog) {
  fs::path zip = MakeSample("secret", "juste");
  fs::path dest = root_ / "secret";
  Dialog(0).Type("faux").Click(1).Click(2);
  EXPECT_EQ(Run("#" + U8(zip)), kExitCancelled);
  EXPECT_EQ(Shown().size(), 1u);
  EXPECT_EQ(ui_->Beeps().size(), 1u);
  EXPECT_FALSE(fs::exists(dest));
  EXPECT_TRUE(fs::exists(zip));
  EXPECT_TRUE(opened_.empty());
}

// ---- existing destination --------------------------------------------------------

class ExistingDestination : public Workflow {
 protected:
  // The destination holds an older copy of a.txt, a newer sub/b.txt, no c.bin
  // and a file of its own.
  void Prepare() {
    zip_ = MakeSample("photos");
    dest_ = root_ / "photos";
    WriteFile(dest_ / "a.txt", "old alpha");
    WriteFile(dest_ / "sub" / "b.txt", "my newer bravo");
    WriteFile(dest_ / "mine.txt", "mine");
    auto now = fs::file_time_type::clock::now();
    fs::last_write_time(dest_ / "a.txt", now - std::chrono::hours(24 * 400));
    fs::last_write_time(dest_ / "sub" / "b.txt", now + std::chrono::hours(24));
  }
  fs::path zip_, dest_;
};

TEST_F(ExistingDestination, TheChoiceDialogAsWritten) {
  Prepare();
  Dialog(0).Click(300);
  Run(U8(zip_));
  ASSERT_GE(Shown().size(), 1u);
  const ShownDialog& d = Shown()[0];
  EXPECT_EQ(d.mainInstruction, "Le dossier de décompression existe déjà !.");
  EXPECT_EQ(d.content, "Vous pouvez choisir de :");
  EXPECT_EQ(d.record.dwFlags, 0x10u);
  EXPECT_EQ(d.record.dwCommonButtons, 0u);
  EXPECT_EQ(d.record.mainIcon, 0xFFFA);
  EXPECT_EQ(d.footers.front(), "Choisissez une des options ci-dessus");
  EXPECT_EQ(d.footerIcons.front(), 0xFFFD);
  ASSERT_EQ(d.record.buttons.size(), 3u);
  EXPECT_EQ(d.record.buttons[0].id, 300);
  EXPECT_EQ(d.record.buttons[0].text,
            "Mettre à jour le dossier\net ne décompresser que les fichiers absents ou plus récents");
  EXPECT_EQ(d.record.buttons[1].id, 200);
  EXPECT_EQ(d.record.buttons[1].text,
            "Décompresser la totalité du ficher\net écraser les fichiers déjà présents");
  EXPECT_EQ(d.record.buttons[2].id, 400);
  EXPECT_EQ(d.record.buttons[2].text, "Abandonner\net renoncer à décompresser le fichier Zip");
}

TEST_F(ExistingDestination, UpdateOnlyKeepsNewerFilesAndRestoresMissingOnes) {
  Prepare();
  Dialog(0).Click(300);
  EXPECT_EQ(Run(U8(zip_)), kExitDone);
  EXPECT_TRUE(form_->UpdateOnly);
  EXPECT_EQ(ReadFile(dest_ / "a.txt"), "alpha\n") << "older local file updated";
  EXPECT_EQ(ReadFile(dest_ / "sub" / "b.txt"), "my newer bravo") << "newer local file kept";
  EXPECT_EQ(ReadFile(dest_ / "sub" / "c.bin"), Noise(70000, 3)) << "missing file restored";
  EXPECT_EQ(ReadFile(dest_ / "mine.txt"), "mine");
  const ShownDialog& p = Shown().at(1);
  EXPECT_TRUE(Has(p.footers, "Recherche des fichiers à décompresser..."));
  EXPECT_TRUE(Has(p.footers, "Fichiers à décompresser : sub/c.bin"));
  EXPECT_EQ(p.footers.back(), "Décompression complète");
  EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(ExistingDestination, UpdateOnlyWithNothingNewer) {
  zip_ = MakeSample("photos");
  ASSERT_EQ(Run(U8(zip_)), kExitDone);
  ui_.reset();  // the old renderer restores what it replaced
  ui_ = std::make_unique<ScriptedDialogs>();
  opened_.clear();
  Dialog(0).Click(300);
  EXPECT_EQ(Run(U8(zip_)), kExitDone);
  const ShownDialog& p = Shown().at(1);
  EXPECT_TRUE(Has(p.footers, "Recherche des fichiers à décompresser..."));
  EXPECT_EQ(p.footers.back(), "Décompression complète");
  for (const std::string& f : kSampleFiles)
    EXPECT_FALSE(Has(p.footers, "Fichiers à décompresser : " + f)) << f << " was written again";
  EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(ExistingDestination, ExtractAllOverwrites) {
  Prepare();
  Dialog(0).Click(200);
  EXPECT_EQ(Run(U8(zip_)), kExitDone);
  EXPECT_FALSE(form_->UpdateOnly);
  EXPECT_EQ(ReadFile(dest_ / "a.txt"), "alpha\n");
  EXPECT_EQ(ReadFile(dest_ / "sub" / "b.txt"), "bravo\n");
  EXPECT_EQ(ReadFile(dest_ / "sub" / "c.bin"), Noise(70000, 3));
  EXPECT_EQ(ReadFile(dest_ / "mine.txt"), "mine");
  EXPECT_FALSE(Has(Shown().at(1).footers, "Recherche des fichiers à décompresser..."));
}

TEST_F(ExistingDestination, AbandonChangesNothing) {
  Prepare();
  Dialog(0).Click(400);
  EXPECT_EQ(Run("#" + U8(zip_)), kExitCancelled);
  EXPECT_EQ(Shown().size(), 1u) << "no progress dialog";
  EXPECT_TRUE(form_->Cancelled);
  EXPECT_EQ(ReadFile(dest_ / "a.txt"), "old alpha");
  EXPECT_FALSE(fs::exists(dest_ / "sub" / "c.bin"));
  EXPECT_TRUE(fs::exists(zip_));
  EXPECT_TRUE(opened_.empty());
}

TEST_F(ExistingDestination, ClosedWithoutAnAnswerIsAnAbandon) {
  // End of input closes the choice with the close id: nobody chose to write
  // over the folder, so nothing is, and the archive stays despite "#".
  Prepare();
  auto newer = fs::last_write_time(dest_ / "sub" / "b.txt");
  Dialog(0).Do([](LayerDialog& d) { d.Dismiss(); });
  EXPECT_EQ(Run("#" + U8(zip_)), kExitCancelled);
  ASSERT_EQ(Shown().size(), 1u) << "no progress dialog";
  EXPECT_EQ(Shown()[0].result, 8);
  EXPECT_TRUE(form_->Cancelled);
  EXPECT_EQ(ReadFile(dest_ / "a.txt"), "old alpha");
  EXPECT_EQ(ReadFile(dest_ / "sub" / "b.txt"), "my newer bravo");
  EXPECT_EQ(fs::last_write_time(dest_ / "sub" / "b.txt"), newer);
  EXPECT_FALSE(fs::exists(dest_ / "sub" / "c.bin"));
  EXPECT_TRUE(fs::exists(zip_));
  EXPECT_TRUE(opened_.empty());
}

TEST_F(ExistingDestination, HashKeepsTheArchiveWhenAnUpdateLeftANewerFile) {
  // The update kept the newer local sub/b.txt: the archive still holds the
  // only copy of its own b.txt, so "#" does not delete it.
  Prepare();
  Dialog(0).Click(300);
  EXPECT_EQ(Run("#" + U8(zip_)), kExitDone);
  EXPECT_GE(form_->ExtractResult, 0);
  EXPECT_EQ(ReadFile(dest_ / "sub" / "b.txt"), "my newer bravo");
  EXPECT_EQ(ReadFile(dest_ / "sub" / "c.bin"), Noise(70000, 3));
  EXPECT_TRUE(fs::exists(zip_));
  EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(ExistingDestination, HashDeletesTheArchiveWhenAnUpdateFoundEverythingThere) {
  // Everything already out from an earlier run: the update writes nothing,
  // yet every entry is on disk, so the archive may go.
  zip_ = MakeSample("photos");
  ASSERT_EQ(Run(U8(zip_)), kExitDone);
  ui_.reset();
  ui_ = std::make_unique<ScriptedDialogs>();
  Dialog(0).Click(300);
  EXPECT_EQ(Run("#" + U8(zip_)), kExitDone);
  EXPECT_FALSE(fs::exists(zip_));
  EXPECT_EQ(ReadFile(root_ / "photos" / "sub" / "c.bin"), Noise(70000, 3));
}

TEST_F(ExistingDestination, PasswordComesBeforeTheChoice) {
  zip_ = MakeSample("photos", "pw");
  fs::create_directories(root_ / "photos");
  Dialog(0).Type("pw").Click(1);
  Dialog(1).Click(200);
  EXPECT_EQ(Run(U8(zip_)), kExitDone);
  ASSERT_EQ(Shown().size(), 3u);
  EXPECT_EQ(Shown()[0].mainInstruction, "Autorisation requise");
  EXPECT_EQ(Shown()[1].mainInstruction, "Le dossier de décompression existe déjà !.");
  EXPECT_EQ(ReadFile(root_ / "photos" / "a.txt"), "alpha\n");
}

TEST_F(ExistingDestination, AFileOfTheDestinationsNameIsAskedAboutAndFails) {
  zip_ = MakeSample("photos");
  WriteFile(root_ / "photos", "a plain file");
  Dialog(0).Click(200);
  Dialog(1).AtMs(7000).Click(101);
  EXPECT_EQ(Run("#" + U8(zip_)), kExitFailed);
  ASSERT_EQ(Shown().size(), 2u);
  const ShownDialog& p = Shown()[1];
  EXPECT_EQ(p.footers.back(), "La décompression a échoué.\nImpossible de créer le dossier « " +
                                  U8(root_ / "photos") + " ».");
  EXPECT_EQ(p.footerIcons.back(), 0xFFFE);
  EXPECT_GE(p.closedAtMs - p.shownAtMs, 7500) << "the failure stays until Annuler";
  EXPECT_FALSE(Has(p.footers, "Décompression complète"));
  EXPECT_EQ(ReadFile(root_ / "photos"), "a plain file");
  EXPECT_TRUE(opened_.empty()) << "the file is not opened";
  EXPECT_TRUE(fs::exists(zip_)) << "a failed run keeps the archive";
}

TEST_F(ExistingDestination, NamesReachTheDialogEscaped) {
  // The archive's name and its entries' carry terminal commands and a
  // right-to-left override; what the dialog shows has them escaped.
  fs::path src = root_ / "src";
  WriteFile(src / P("\xE2\x80\xAEtxt.exe"), "x");
  WriteFile(src / P("e\x1b[1m\x7F.txt"), "y");
  fs::path zip = root_ / P("z\x1b[2J\xE2\x80\xAE.zip");
  MakeZip(src, zip);
  fs::create_directories(root_ / P("z\x1b[2J\xE2\x80\xAE"));
  Dialog(0).Click(300);
  EXPECT_EQ(Run(U8(zip)), kExitDone);
  const ShownDialog& p = Shown().at(1);
  EXPECT_EQ(p.content, "z\\x1b[2J\\u202e.zip");
  EXPECT_TRUE(Has(p.footers, "Fichiers à décompresser : \\u202etxt.exe"));
  EXPECT_TRUE(Has(p.footers, "Fichiers à décompresser : e\\x1b[1m\\x7f.txt"));
  for (const std::string& footer : p.footers) {
    SCOPED_TRACE(footer);
    EXPECT_EQ(footer.find('\x1b'), std::string::npos);
    EXPECT_EQ(footer.find("\xE2\x80\xAE"), std::string::npos);
  }
  EXPECT_EQ(ReadFile(root_ / P("z\x1b[2J\xE2\x80\xAE") / P("\xE2\x80\xAEtxt.exe")), "x");
}

// ---- failure and cancel ------------------------------------------------------

TEST_F(Workflow, DamagedEntryIsReportedAsAFailureAndKeepsTheArchive) {
  fs::path src = root_ / "src";
  WriteFile(src / "big.bin", Noise(200000, 9));
  fs::path zip = root_ / "damaged.zip";
  MakeZip(src, zip);
  {
    std::fstream f(zip, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100000);
    char c = 0;
    f.read(&c, 1);
    f.seekp(100000);
    c = static_cast<char>(c ^ 0x5A);
    f.write(&c, 1);
  }
  // The user reads the failure, then presses "Annuler".
  Dialog(0).AtMs(6000).Click(101);
  EXPECT_EQ(Run("#" + U8(zip)), kExitFailed);
  EXPECT_LT(form_->ExtractResult, 0);
  const ShownDialog& p = Shown().at(0);
  EXPECT_EQ(p.footers.back().rfind("La décompression a échoué.\n", 0), 0u) << p.footers.back();
  EXPECT_NE(p.footers.back().find("big.bin"), std::string::npos) << p.footers.back();
  EXPECT_EQ(p.footerIcons.back(), 0xFFFE);
  EXPECT_FALSE(Has(p.footers, "Décompression complète"));
  EXPECT_GE(p.closedAtMs - p.shownAtMs, 6500) << "the failure stays until Annuler";
  EXPECT_GE(endedAtMs_ - p.shownAtMs, 7500);
  EXPECT_TRUE(fs::exists(zip));
  EXPECT_FALSE(fs::exists(root_ / "damaged" / "big.bin")) << "no damaged file is left";
  EXPECT_TRUE(NoStrayFiles(root_ / "damaged", {}));
  EXPECT_TRUE(opened_.empty()) << "no folder is opened after a failure";
}

class Cancel : public Workflow {
 protected:
  // Big enough that the extraction lasts several dialog ticks on the working clock.
  fs::path MakeBig() {
    fs::path src = root_ / "src";
    WriteFile(src / "first.txt", "first");
    WriteFile(src / "big.bin", Noise(12 << 20, 5));
    WriteFile(src / "last.txt", "last");
    fs::path zip = root_ / "big.zip";
    MakeZip(src, zip);
    return zip;
  }
};

TEST_F(Cancel, DuringExtractionLeavesNoPartialFileAndNoOpenedFolder) {
  fs::path zip = MakeBig();
  fs::path dest = root_ / "big";
  std::string old = Noise(300000, 77);
  WriteFile(dest / "big.bin", old);
  Dialog(0).Click(200);
  // The click lands while the engine works (it starts 250 ms after creation).
  Dialog(1).AtMs(300).Click(101);
  EXPECT_EQ(Run("#" + U8(zip)), kExitCancelled);
  EXPECT_TRUE(form_->Cancelled);
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(fs::exists(zip));
  const ShownDialog& p = Shown().at(1);
  EXPECT_FALSE(Has(p.footers, "Décompression complète"));
  // The existing file is whole: either the old one or the new one, never a part.
  std::string now = ReadFile(dest / "big.bin");
  EXPECT_TRUE(now == old || now == Noise(12 << 20, 5)) << "size " << now.size();
  EXPECT_TRUE(NoStrayFiles(dest, {"first.txt", "big.bin", "last.txt"}));
  // Another worker may have written the last entry meanwhile: whole, then.
  if (fs::exists(dest / "last.txt")) {
    EXPECT_EQ(ReadFile(dest / "last.txt"), "last");
  }
}

TEST_F(Cancel, DuringTheFinalPauseEndsWithoutOpeningTheFolder) {
  fs::path zip = MakeSample("photos");
  Dialog(0).AtMs(1200).Click(101);
  EXPECT_EQ(Run("#" + U8(zip)), kExitCancelled);
  const ShownDialog& p = Shown().at(0);
  EXPECT_TRUE(Has(p.footers, "Décompression complète"));
  EXPECT_TRUE(opened_.empty()) << "the folder is not opened after a cancel";
  EXPECT_TRUE(fs::exists(zip)) << "a cancelled run keeps the archive";
  EXPECT_EQ(ReadFile(root_ / "photos" / "a.txt"), "alpha\n");
  // TClose: 500 ms after the click, then 1000 ms of events.
  EXPECT_GE(loop_.NowMs(), 1200 + 1500);
  EXPECT_LT(loop_.NowMs(), 1200 + 2000);
}

}  // namespace
}  // namespace qv::unpack::testing
