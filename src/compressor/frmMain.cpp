#include "compressor/frmMain.h"

#include <string>

#include "engine/ZipEngine.h"
#include "filedialog/CmnDialogEx.h"
#include "support/modOperationFichier.h"
#include "support/modQuorvelRegSettings.h"
#include "support/modShellExtended.h"
#include "support/text.h"
#include "support/ui.h"

namespace qv {
namespace {

constexpr uint32_t kProgressFlags = TDF_USE_COMMAND_LINKS | TDF_SHOW_PROGRESS_BAR |
                                    TDF_CALLBACK_TIMER;  // 0xA10
constexpr int32_t kChooseFolderFlags = 6176;             // pick folders, path and file must exist

constexpr char kDeleteTitle[] = "Suppression du dossier compressé";
constexpr char kDeleteQuestion[] = "Voulez-vous supprimer le dossier qui vient d'être compressé ?";
constexpr char kDeleteConfirm[] =
    "Êtes-vous sûr de vouloir supprimer le dossier qui vient d'être compressé ?";

}  // namespace

frmMain::frmMain() = default;
frmMain::~frmMain() = default;

void frmMain::Form_Load(const std::string& commandLine) {
  // 1-2: the form itself is never shown.
  CommandText = commandLine;

  // 3
  if (CommandText.empty()) CommandText = ChooseFolder();

  // 4: one prefix, in first position only, tested before the quotes go. "§"
  // takes two bytes in UTF-8, so the first character is compared, not the
  // first byte.
  const std::string first = Utf8First(CommandText);
  if (first == "#") {
    CommandText = Utf8DropFirst(CommandText, 1);
    ConfirmDelete = true;
  } else if (first == "§") {
    CommandText = Utf8DropFirst(CommandText, 1);
    Encrypt = true;
  }

  // 5
  CommandText = RemoveCommandQuotes(CommandText);

  // 6: nothing to compress (a cancelled chooser ends here).
  if (CommandText.empty()) EndRun(kExitCancelled);

  // 7
  if (FolderChosen) {
    Encrypt = Prompts().MessageBox("Voulez-vous crypter le fichier compressé ? ",
                                   "Quorvelpack : Compresser un dossier...",
                                   MB_YESNO_ | MB_ICONQUESTION_ | MB_DEFBUTTON2_) == IDYES_;
  }

  // 8-10
  SourceFolder = CommandText;
  RemoveTrailingBackslash(SourceFolder);
  ParentFolder = GetParentFolder(SourceFolder);
  SaveSettingString(kAppName, kSettingsSection, kSettingsLastDir, ParentFolder, false);

  // 11
  Zip = std::make_unique<ZipEngine>();
  Zip->AbortCheck = [this](int32_t& abort) { Zip_AbortCheck(abort); };
  Zip->PercentDone = [this](int32_t percent, int32_t& abort) { Zip_PercentDone(percent, abort); };
  Zip->ToBeAdded = [this](const std::string& name, int64_t size, int32_t& exclude) {
    Zip_ToBeAdded(name, size, exclude);
  };
  Zip->ToBeUnzipped = [this](const std::string& name, int64_t packed, int64_t size,
                             int32_t& exclude) { Zip_ToBeUnzipped(name, packed, size, exclude); };
  Zip->WriteZipEnd = [this] { Zip_WriteZipEnd(); };
  if (Zip->PrepareArchive(ArchivePath()) != 1) {
    ReportEndReason(Zip->ErrorText());
    EndRun(kExitFailed);
  }

  // 12
  if (Encrypt) {
    Zip->SetCipher(ZipEngine::kCipherAes);
    Zip->SetKeyBits(256);
    ArchivePassword.clear();
    if (AskPassword().empty()) Terminate();
    Zip->SetArchivePassword(ArchivePassword);
  }

  // 13: the older archive is not deleted here even when the user chose to
  // overwrite it: the engine writes the new one under a temporary name and
  // puts it in place in one rename once complete, so a failure, a cancel or a
  // killed process leaves the older one as it was.
  if (FileExists(ArchivePath())) {
    AskExistingArchive();
    if (Cancelled || !ProceedWithCompression) Terminate();
  } else {
    ProceedWithCompression = true;
  }

  // 14
  if (ProceedWithCompression) {
    ShowProgressDialog();
    // A dialog that closed without finishing the run (it could not be
    // shown) is a failure; a cancel has already said so.
    if (!completed_ && !Cancelled) ExitStatus(kExitFailed);
  }

  // 15
  Terminate();
}

void frmMain::OnTerminate() {
  // Once the deletion question has been reached the run is done whatever
  // happens next; a failed write stays a failure when its "Annuler" ends it.
  if (completed_) {
    ExitStatus(kExitDone);
  } else if (failed_) {
    ExitStatus(kExitFailed);
  }
}

std::string frmMain::ChooseFolder() {
  CmnDialogEx dlg;
  dlg.Clear();
  dlg.FlagsDialog(kChooseFolderFlags);
  dlg.InitDir(GetSettingString(kAppName, kSettingsSection, kSettingsLastDir, DocumentsFolder(),
                               false));
  // The chooser empties a starting folder it cannot use.
  if (dlg.InitDir().empty()) dlg.InitDir(DocumentsFolder());
  dlg.DialogTitle("Sélectionnez un dossier à Compresser");
  std::string result;
  if (dlg.ShowOpen(hWnd(), 0, nullptr, "")) {
    result = UpToFirstNul(dlg.FileName());
    FolderChosen = true;
  }
  return result;
}

// ---- existing archive ------------------------------------------------------

void frmMain::AskExistingArchive() {
  cTaskDialog& d = NewDialog(TaskDialog1);
  d.MainInstruction("Le fichier Zip existe déjà !.");
  d.Content("Vous pouvez choisir de :");
  d.Flags(TDF_USE_COMMAND_LINKS);
  d.AddCustomButton(kOverwriteButton,
                    "Compresser le répertoire\net écraser le fichier déjà présent", 0);
  d.AddCustomButton(kAbandonButton, "Abandonner\net renoncer à compresser le dossier", 0);
  d.Footer("Choisissez une des options ci-dessus");
  d.IconFooter(kIconInformation);
  d.IconMain(kIconChoice);
  d.ParentHwnd(hWnd());
  d.Title(kDialogTitle);
  d.ButtonClick = [this](int32_t id) { TaskDialog1_ButtonClick(id); };
  ShowModal(TaskDialog1);
  // Closed without either choice (end of input, a dialog that could not be
  // shown): nobody chose to overwrite, so the run is abandoned.
  if (!ProceedWithCompression) Cancelled = true;
}

void frmMain::TaskDialog1_ButtonClick(int32_t ButtonID) {
  if (ButtonID == kOverwriteButton) {
    ProceedWithCompression = true;
    TaskDialog1->CloseDialog();
  } else if (ButtonID == kAbandonButton) {
    Cancelled = true;
    TaskDialog1->CloseDialog();
  }
}

// ---- password --------------------------------------------------------------

int32_t frmMain::RatePassword(const std::string& text) {
  // Length in characters (code points), so "é" counts once whatever its bytes.
  if (Utf8Length(text) < 6) return -1;
  // 7-Zip cannot open AES archives whose password takes more than 99 bytes
  // of UTF-8, so such a password would lock the user out of the archive.
  if (text.size() > kPasswordMaxBytes) return -1;
  bool upper = false, lower = false, digit = false, other = false;
  // Classes by UTF-16 code unit, without locale or case folding: accented
  // letters and both halves of a surrogate pair are "other".
  for (char16_t c : Utf8ToUtf16(text)) {
    if (c >= u'A' && c <= u'Z') {
      upper = true;
    } else if (c >= u'a' && c <= u'z') {
      lower = true;
    } else if (c >= u'0' && c <= u'9') {
      digit = true;
    } else {
      other = true;
    }
  }
  return int32_t{upper} + int32_t{lower} + int32_t{digit} + int32_t{other};
}

std::string frmMain::AskPassword() {
  cTaskDialog& d = NewDialog(TaskDialogPW);
  d.MainInstruction("Chiffrage AES (compatible 7-Zip/WinZip)");
  d.Content("Saisir un mot de passe :");
  d.Flags(TDF_X_INPUT);
  d.InputIsPassword(false);
  d.InputAlign(1);
  d.CommonButtons(TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON);
  d.SetButtonElevated(IDOK_, 1);
  d.SetButtonHold(IDOK_);
  d.Footer("Entrer le mot de passe puis OK pour continuer.");
  d.IconFooter(kIconInformation);
  d.IconMain(kIconPassword);
  d.Title(kDialogTitle);
  d.ParentHwnd(hWnd());
  d.InputBoxChange = [this](std::string& text) { TaskDialogPW_InputBoxChange(text); };
  d.ButtonClick = [this](int32_t id) { TaskDialogPW_ButtonClick(id); };
  ShowModal(TaskDialogPW);
  if (TaskDialogPW->ResultMain() == IDCANCEL_) return std::string();
  if (TaskDialogPW->ResultMain() == 0) ExitStatus(kExitFailed);  // never shown
  return ArchivePassword;
}

void frmMain::TaskDialogPW_InputBoxChange(std::string& sText) {
  cTaskDialog& d = *TaskDialogPW;
  switch (RatePassword(sText)) {
    case -1:
      d.IconFooter(kIconError);
      d.Footer("Mot de passe invalide !");
      break;
    case 1:
    case 2:
      d.IconFooter(kIconInformation);
      d.Footer("Sécurité du mot de passe : Faible");
      break;
    case 3:
      d.IconFooter(kIconInformation);
      d.Footer("Sécurité du mot de passe : Modérée");
      break;
    case 4:
      d.IconFooter(kIconInformation);
      d.Footer("Sécurité du mot de passe : Forte");
      break;
    default:
      break;
  }
}

void frmMain::TaskDialogPW_ButtonClick(int32_t ButtonID) {
  if (ButtonID != IDOK_) return;
  cTaskDialog& d = *TaskDialogPW;
  if (RatePassword(d.InputText()) < 1) {
    Prompts().Beep(MB_ICONHAND_);
    ArchivePassword.clear();
    d.Footer("Mot de passe invalide, veuillez le modifier !");
    d.IconFooter(kIconError);
    return;
  }
  ArchivePassword = d.InputText();
  d.CloseDialog();
}

// ---- progress dialog and engine run -----------------------------------------

void frmMain::ShowProgressDialog() {
  cTaskDialog& d = NewDialog(TaskDialog2);
  d.Width(300);
  d.IconMain(kIconProgress);
  d.MainInstruction("Compression en cours...");
  d.Content("Création de : " + EscapeForDisplay(GetFileName(ArchivePath())));
  d.Flags(kProgressFlags);
  d.IconFooter(kIconInformation);
  d.Footer("   ");
  d.IconFooter(kIconInformation);
  d.ParentHwnd(hWnd());
  d.AddCustomButton(kCancelButton, "Annuler", 0);
  d.SetButtonHold(kCancelButton);
  d.Title(kDialogTitle);
  ConnectProgressEvents(d);
  // A cancel may end the process from inside the engine's work. The engine
  // removes its own temporary file then and never leaves a partial archive;
  // an archive already complete (a cancel during the final wait) is kept.
  ShowModal(TaskDialog2);
}

void frmMain::TZip_Timer() {
  TZip.SetEnabled(false);
  if (TaskDialog2) TaskDialog2->Footer("Examen des Fichiers à compresser ...");
  PumpEvents(0);

  Zip->SetEntryRoot(SourceFolder);
  AddTrailingBackslash(SourceFolder);
  // A folder that cannot be read whole is not archived at all: an archive
  // that silently lacks files would be worse than none. A collection cut
  // short by a cancel still goes to the write, which ends the run as a
  // cancel ("Annulation...").
  if (Zip->AddTree(SourceFolder + "*", 1) != 1 && !Cancelled) {
    failed_ = true;
  } else if (Zip->WriteAndClose() != 1 && !Cancelled) {
    failed_ = true;
  }
  if (failed_ && !Cancelled && !ended_) EndFailedRun();
}

void frmMain::EndFailedRun() {
  ended_ = true;
  ExitStatus(kExitFailed);
  if (!TaskDialog2) return;
  // The failure and the engine's reason stay on screen until the user has
  // read them and pressed "Annuler", which ends the run.
  TaskDialog2->IconFooter(kIconError);
  TaskDialog2->Footer(FailureFooter(kFailedFooter, Zip ? Zip->ErrorText() : std::string()));
}

void frmMain::Zip_ToBeAdded(const std::string& FileName, int64_t, int32_t&) {
  if (TaskDialog2)
    TaskDialog2->Footer("Examen des Fichiers à compresser : " +
                        EscapeForDisplay(GetFileName(FileName)));
  PumpEvents(20);
}

void frmMain::Zip_AbortCheck(int32_t& abort) {
  if (Cancelled) abort = 1;
}

void frmMain::Zip_PercentDone(int32_t percent, int32_t& abort) {
  LastPercent = percent;
  if (TaskDialog2) {
    TaskDialog2->IconFooter(kIconInformation);
    TaskDialog2->Footer("    Compression : " + std::to_string(percent) + " %  ");
  }
  PumpEvents(20);
  if (Cancelled) abort = 1;
}

void frmMain::Zip_ToBeUnzipped(const std::string&, int64_t, int64_t, int32_t&) {}

void frmMain::Zip_WriteZipEnd() {
  // The engine ends every write with this event, a failed one too (it then
  // says why): a failure is told by the engine run once the write returned.
  if (!Cancelled && !Zip->ErrorText().empty()) {
    failed_ = true;
    return;
  }
  ended_ = true;
  if (!TaskDialog2) return;
  TaskDialog2->Footer(Cancelled ? "Annulation..." : "Compression complète");
  TaskDialog2->ProgressSetValue(100);
  WaitMs(2000);

  // A cancel during the wait ends the process inside it; past this point the
  // archive is complete and the run is done.
  if (!Cancelled) {
    completed_ = true;
    ExitStatus(kExitDone);
  }

  bool remove = false;
  if (FolderChosen || Encrypt) {
    remove = Prompts().MessageBox(kDeleteQuestion, kDeleteTitle, MB_YESNO_ | MB_ICONQUESTION_) ==
             IDYES_;
  }
  if (ConfirmDelete) {
    remove = Prompts().MessageBox(kDeleteConfirm, kDeleteTitle, MB_YESNO_ | MB_ICONQUESTION_) ==
             IDYES_;
  }
  if (remove) (void)DeleteToRecycleBin(SourceFolder, false);

  (void)ShellOpen(ParentFolder, SW_SHOWNORMAL_, false);
  TaskDialog2->CloseDialog();
}

}  // namespace qv
