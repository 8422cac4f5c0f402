#include "extractor/frmMain.h"

#include <filesystem>
#include <system_error>

#include "extractor/ArchiveArgument.h"
#include "support/modOperationFichier.h"
#include "support/modQuorvelRegSettings.h"
#include "support/modShellExtended.h"
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

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(PathOf(path), ec);
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

  auto destination = DestinationFolderOf(ArchivePath);
  if (!destination) EndRun(kExitFailed);
  DestinationFolder = *destination;
  ParentFolder = GetParentFolder(DestinationFolder);
  SaveSettingString(kAppName, "Data", "LastDir", ParentFolder);

  CreateEngine();
  if (Zip->OpenArchive(ArchivePath) != 1) EndRun(kExitFailed);

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
  ShowModal(TaskDialog1);
}

void frmMain::TaskDialog1_ButtonClick(int32_t ButtonID) {
  UpdateOnly = ButtonID == kUpdateButton;
  if (ButtonID == kAbandonButton) Cancelled = true;
}

// ---- extraction ----------------------------------------------------------------

void frmMain::ShowProgressDialog() {
  cTaskDialog& d = NewDialog(TaskDialog2);
  d.Width(300);
  d.IconMain(kIconProgress);
  d.MainInstruction("Décompression en cours...");
  d.Content(GetFileName(ArchivePath));
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
  const bool failed = result < 0 && !Cancelled;
  ExitStatus(Cancelled ? kExitCancelled : failed ? kExitFailed : kExitDone);
  std::shared_ptr<cTaskDialog> dialog = TaskDialog2;
  if (dialog) {
    if (Cancelled) {
      dialog->Footer("Annulation...");
    } else if (failed) {
      dialog->Footer("La décompression a échoué.");
      dialog->IconFooter(kIconError);
    } else {
      dialog->Footer("Décompression complète");
    }
    // A failed bar stays where the failure stopped it.
    if (!failed) dialog->ProgressSetValue(100);
  }
  // A cancel in this pause ends the process through TClose: the folder is not
  // opened and the archive is kept.
  WaitMs(2000);
  // After a failure a file that merely bears the destination's name is not
  // handed to the shell: that would open the file itself.
  if (!failed || IsFolder(DestinationFolder)) ShellOpen(DestinationFolder, kShowNormal, false);
  if (dialog) dialog->CloseDialog();

  if (result >= 0 && !Cancelled && DeleteArchiveWhenDone) {
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
  if (TaskDialog2) TaskDialog2->Footer("Fichiers à décompresser : " + FileName);
  PumpEvents(20);
}

void frmMain::Zip_UnzipEnd() { UnzipEnded = true; }

// ---- end -----------------------------------------------------------------------

void frmMain::OnTerminate() {
  // Terminate after the cancel click may come while the extraction's result
  // still reads as a success (a cancel during the final pause).
  if (Cancelled) ExitStatus(kExitCancelled);
  if (Zip) Zip->CloseArchive();
}

}  // namespace qv::unpack
