#include "extractor/frmMain.h"

#include <filesystem>
#include <system_error>

#include "extractor/ArchiveArgument.h"
#include "support/modOperationFichier.h"
#include "support/modQuorvelRegSettings.h"
#include "support/modShellExtended.h"
#include "support/text.h"
#include "support/ui.h"

namespace qv::unpack {

namespace {

constexpr uint32_t kPasswordFlags = TDF_X_INPUT;
constexpr uint32_t kChoiceFlags = TDF_USE_COMMAND_LINKS;
constexpr uint32_t kProgressFlags = TDF_USE_COMMAND_LINKS | TDF_SHOW_PROGRESS_BAR | TDF_CALLBACK_TIMER;
constexpr int32_t kShowNormal = 1;  // SW_SHOWNORMAL

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

bool PathExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  // symlink_status: a dangling link still occupies the name.
  auto st = std::filesystem::symlink_status(PathOf(path), ec);
  return !ec && st.type() != std::filesystem::file_type::not_found;
}

frmMain::frmMain() = default;
frmMain::~frmMain() = default;

void frmMain::Form_Load(const std::string& commandLine) {
  ArchivePath = commandLine;
  // The form itself is never shown: only its dialogs are.
  if (ArchivePath.empty()) ArchivePath = ChooseArchive();

  ArchiveArgument arg = ReadArchiveArgument(ArchivePath);
  ArchivePath = arg.ArchivePath;
  DeleteArchiveWhenDone = arg.DeleteArchiveWhenDone;
  if (ArchivePath.empty()) EndRun(kExitCancelled);

  // A name that leaves no folder of its own beside the archive (".zip",
  // "dir/.zip") would extract over the archive's own folder: it ends like an
  // archive that cannot be opened.
  auto destination = DestinationFolderOf(ArchivePath);
  if (!destination) {
    ReportEndReason("Le nom « " + ArchivePath +
                    " » ne laisse aucun dossier de décompression à côté de l'archive.");
    EndRun(kExitFailed);
  }
  DestinationFolder = *destination;
  ParentFolder = GetParentFolder(DestinationFolder);
  SaveSettingString(kAppName, "Data", "LastDir", ParentFolder);

  CreateEngine();
  if (Zip->OpenArchive(ArchivePath) != 1) {
    ReportEndReason(Zip->ErrorText());
    EndRun(kExitFailed);
  }

  // Either test alone is enough: an archive may announce AES without marking
  // each entry, or mark entries without an AES header.
  bool prot = Zip->HasProtectedEntries() != 0;
  bool aes = Zip->ArchiveCipher() == ZipEngine::kCipherAes;
  PasswordRequired = prot || aes;

  if (PasswordRequired) {
    ArchivePassword.clear();
    if (AskPassword().empty()) Terminate();
    Zip->SetExtractPassword(ArchivePassword);
  }

  UpdateOnly = false;
  if (PathExists(DestinationFolder)) {
    AskExistingDestination();
    if (Cancelled) Terminate();
  }

  ShowProgressDialog();
  Terminate();
}

void frmMain::CreateEngine() {
  Zip = std::make_unique<ZipEngine>();
  Zip->AbortCheck = [this](int32_t& abort) { Zip_AbortCheck(abort); };
  Zip->PercentDone = [this](int32_t percent, int32_t& abort) { Zip_PercentDone(percent, abort); };
  Zip->ToBeUnzipped = [this](const std::string& name, int64_t packed, int64_t size,
                             int32_t& exclude) { Zip_ToBeUnzipped(name, packed, size, exclude); };
  Zip->UnzipEnd = [this] { Zip_UnzipEnd(); };
}

// ---- password ----------------------------------------------------------------

std::string frmMain::AskPassword() {
  cTaskDialog& d = NewDialog(TaskDialogPW);
  d.MainInstruction("Autorisation requise");
  d.Content("Ce fichier est protégé par mot de passe");
  d.Flags(kPasswordFlags);
  d.InputIsPassword(true);
  d.InputAlign(1);
  d.CommonButtons(TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON);
  d.SetButtonElevated(IDOK_, 1);
  d.SetButtonHold(IDOK_);
  d.Footer("Entrer le mot de passe puis OK pour continuer.");
  d.IconFooter(kIconInformation);
  d.IconMain(kIconPassword);
  d.Title(kTitle);
  d.ParentHwnd(hWnd());
  d.ButtonClick = [this](int32_t id) { TaskDialogPW_ButtonClick(id); };

  std::shared_ptr<cTaskDialog> dialog = TaskDialogPW;
  ShowModal(dialog);
  if (dialog->ResultMain() == IDCANCEL_) return {};
  return ArchivePassword;
}

bool frmMain::CheckPassword(const std::string& password) {
  Zip->SetExtractPassword(password);
  return Zip->PasswordMatches() == 1;
}

void frmMain::TaskDialogPW_ButtonClick(int32_t ButtonID) {
  if (ButtonID != IDOK_ || !TaskDialogPW) return;
  std::shared_ptr<cTaskDialog> dialog = TaskDialogPW;
  std::string text = dialog->InputText();
  if (CheckPassword(text)) {
    ArchivePassword = text;
    dialog->CloseDialog();
    return;
  }
  Prompts().Beep(MB_ICONHAND_);
  ArchivePassword.clear();
  dialog->Footer("Mot de passe incorrect, veuillez réessayer.");
  dialog->IconFooter(kIconError);
}

// ---- existing destination ------------------------------------------------------

void frmMain::AskExistingDestination() {
  cTaskDialog& d = NewDialog(TaskDialog1);
  d.MainInstruction("Le dossier de décompression existe déjà !.");
  d.Content("Vous pouvez choisir de :");
  d.Flags(kChoiceFlags);
  d.AddCustomButton(kUpdateButton,
                    "Mettre à jour le dossier\n"
                    "et ne décompresser que les fichiers absents ou plus récents",
                    0);
  d.AddCustomButton(kOverwriteButton,
                    "Décompresser la totalité du ficher\n"
                    "et écraser les fichiers déjà présents",
                    0);
  d.AddCustomButton(kAbandonButton,
                    "Abandonner\n"
                    "et renoncer à décompresser le fichier Zip",
                    0);
  d.Footer("Choisissez une des options ci-dessus");
  d.IconFooter(kIconInformation);
  d.IconMain(kIconChoice);
  d.ParentHwnd(hWnd());
  d.Title(kTitle);
  d.ButtonClick = [this](int32_t id) { TaskDialog1_ButtonClick(id); };
  destinationChosen_ = false;
  ShowModal(TaskDialog1);
  // Closed without one of its buttons (end of input, a dialog that could not
  // be shown): nobody chose to write into the folder, so nothing is.
  if (!destinationChosen_) Cancelled = true;
}

void frmMain::TaskDialog1_ButtonClick(int32_t ButtonID) {
  // Only the three buttons answer; the close id of a dialog ended otherwise
  // is no choice.
  if (ButtonID != kUpdateButton && ButtonID != kOverwriteButton && ButtonID != kAbandonButton)
    return;
  UpdateOnly = ButtonID == kUpdateButton;
  if (ButtonID == kAbandonButton) Cancelled = true;
  destinationChosen_ = ButtonID != kAbandonButton;
}

// ---- extraction ----------------------------------------------------------------

void frmMain::ShowProgressDialog() {
  cTaskDialog& d = NewDialog(TaskDialog2);
  d.Width(300);
  d.IconMain(kIconProgress);
  d.MainInstruction("Décompression en cours...");
  d.Content(EscapeForDisplay(GetFileName(ArchivePath)));
  d.Flags(kProgressFlags);
  d.IconFooter(kIconInformation);
  // Three blanks: the footer area exists from the start.
  d.Footer("   ");
  d.ParentHwnd(hWnd());
  d.AddCustomButton(kCancelButton, "Annuler", 0);
  d.SetButtonHold(kCancelButton);
  d.Title(kTitle);
  ConnectProgressEvents(d);
  ShowModal(TaskDialog2);
}

void frmMain::TUnzip_Timer() {
  TUnzip.SetEnabled(false);
  extracting_ = true;
  int32_t result;
  if (UpdateOnly) {
    if (TaskDialog2) TaskDialog2->Footer("Recherche des fichiers à décompresser...");
    PumpEvents(20);
    result = Zip->ExtractNewer(DestinationFolder);
  } else {
    result = Zip->ExtractAll(DestinationFolder);
  }
  extracting_ = false;
  ExtractResult = result;
  FinishExtraction(result);
}

void frmMain::FinishExtraction(int32_t result) {
  // The end is shown once the call has answered, not from UnzipEnd, which the
  // engine raises before its result is known: a failure must not read as
  // "Décompression complète".
  failed_ = result < 0 && !Cancelled;
  ExitStatus(Cancelled ? kExitCancelled : failed_ ? kExitFailed : kExitDone);
  std::shared_ptr<cTaskDialog> dialog = TaskDialog2;
  if (failed_) {
    // The failure and the engine's reason stay on screen until the user has
    // read them and pressed "Annuler", which ends the run; no folder is
    // opened on a half-done extraction. The bar stays where it stopped.
    if (dialog) {
      dialog->IconFooter(kIconError);
      dialog->Footer(FailureFooter("La décompression a échoué.", Zip->ErrorText()));
    }
    return;
  }
  if (dialog) {
    dialog->Footer(Cancelled ? "Annulation..." : "Décompression complète");
    dialog->ProgressSetValue(100);
  }
  // A cancel in this pause ends the process through TClose: the folder is not
  // opened and the archive is kept.
  WaitMs(2000);
  ShellOpen(DestinationFolder, kShowNormal, false);
  if (dialog) dialog->CloseDialog();

  // The archive goes only when everything it holds is on disk: an update
  // that kept a newer local file, or an entry skipped, keeps it.
  if (result >= 0 && !Cancelled && DeleteArchiveWhenDone && Zip->AllEntriesExtracted() == 1) {
    Zip->CloseArchive();
    DeleteFile(ArchivePath);
  }
}

void frmMain::Zip_AbortCheck(int32_t& abort) {
  if (Cancelled) abort = 1;
}

void frmMain::Zip_PercentDone(int32_t percent, int32_t& abort) {
  LastPercent = percent;
  if (TaskDialog2)
    TaskDialog2->Footer("    Décompression : " + std::to_string(percent) + " %  ");
  PumpEvents(20);
  if (Cancelled) abort = 1;
}

void frmMain::Zip_ToBeUnzipped(const std::string& FileName, int64_t, int64_t, int32_t&) {
  if (!UpdateOnly) return;
  if (TaskDialog2) TaskDialog2->Footer("Fichiers à décompresser : " + EscapeForDisplay(FileName));
  PumpEvents(20);
}

void frmMain::Zip_UnzipEnd() { UnzipEnded = true; }

// ---- end -----------------------------------------------------------------------

void frmMain::OnTerminate() {
  // Terminate after the cancel click may come while the extraction's result
  // still reads as a success (a cancel during the final pause); "Annuler"
  // after a failure ends a failed run.
  if (failed_) {
    ExitStatus(kExitFailed);
  } else if (Cancelled) {
    ExitStatus(kExitCancelled);
  }
  if (Zip) Zip->CloseArchive();
}

}  // namespace qv::unpack
