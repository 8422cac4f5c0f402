// The hidden main form of Quorvelpack: the controller of one compression run.
// Its load handler reads the command line (or asks for the folder), derives the
// archive and its parent folder, remembers the parent folder, prepares the
// archive in the engine, asks for a password and about an older archive when
// needed, and shows the progress dialog inside which the folder is compressed.
// Every way out of a run ends the process.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "support/frmbase.h"
#include "taskdialog/cTaskDialog.h"

namespace qv {

class ZipEngine;

// Fixed names and texts of the program.
inline constexpr const char kAppName[] = "Quorvelpack";
inline constexpr const char kDialogTitle[] = "Quorvelpack : Compresser un dossier";
inline constexpr const char kSettingsSection[] = "Data";
inline constexpr const char kSettingsLastDir[] = "LastDir";

class frmMain : public WorkflowForm<cTaskDialog> {
 public:
  // Button ids of the existing-archive choice.
  static constexpr int32_t kOverwriteButton = 200;
  static constexpr int32_t kAbandonButton = 400;

  frmMain();
  ~frmMain() override;

  // ---- run state ----
  std::string CommandText;
  std::string SourceFolder;
  bool Encrypt = false;
  bool ConfirmDelete = false;
  bool FolderChosen = false;
  bool ProceedWithCompression = false;

  // The engine, created once by the load handler.
  std::unique_ptr<ZipEngine> Zip;
  // Starts the compression once the progress dialog exists.
  UiTimer TZip{250, [this] { TZip_Timer(); }};

  // The whole run, from the command-line text to the end of the process.
  [[noreturn]] void Form_Load(const std::string& commandLine);

  // ---- workflow procedures ----
  std::string ChooseFolder();
  void AskExistingArchive();
  std::string AskPassword();
  void ShowProgressDialog();
  // -1 when the password is too short, else how many of the four classes
  // (upper case, lower case, digit, other) it uses.
  static int32_t RatePassword(const std::string& text);

  // ---- handlers ----
  void TaskDialog1_ButtonClick(int32_t ButtonID);
  void TaskDialogPW_InputBoxChange(std::string& sText);
  void TaskDialogPW_ButtonClick(int32_t ButtonID);
  void TZip_Timer();
  void Zip_ToBeAdded(const std::string& FileName, int64_t fileSize, int32_t& exclude);
  void Zip_AbortCheck(int32_t& abort);
  void Zip_PercentDone(int32_t percent, int32_t& abort);
  void Zip_ToBeUnzipped(const std::string& FileName, int64_t compressedSize,
                        int64_t uncompressedSize, int32_t& exclude);
  void Zip_WriteZipEnd();

  // The footer shown when the archive could not be written.
  static constexpr const char kFailedFooter[] = "La compression a échoué.";
  // The longest password 7-Zip opens an AES archive with, in bytes of UTF-8.
  static constexpr size_t kPasswordMaxBytes = 99;

 protected:
  UiTimer& WorkTimer() override { return TZip; }
  void OnTerminate() override;

 private:
  // The archive path: always formed from SourceFolder, before it gains its
  // trailing separator.
  std::string ArchivePath() const { return SourceFolder + ".zip"; }
  // The end of a run whose archive could not be written: the user is told
  // why, the folder and any older archive are left alone, and the dialog
  // stays until "Annuler".
  void EndFailedRun();

  // Set once the run got past its final wait without a cancel (the deletion
  // question comes next): the run is done whatever happens after.
  bool completed_ = false;
  // The write failed (AddTree or WriteAndClose); the end of the run says so.
  bool failed_ = false;
  // The end of the run has been shown (by WriteZipEnd or after a failure).
  bool ended_ = false;
};

}  // namespace qv
