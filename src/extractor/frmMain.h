// The hidden main form of Quorvelunpack: the controller of one extraction run.
// Its load handler reads the archive to extract (command line or chooser),
// derives the destination folder beside it, opens the archive, asks for the
// password when one is needed, asks what to do with a destination that already
// exists, and extracts inside the progress dialog. Every way out ends the
// process.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "engine/ZipEngine.h"
#include "support/frmbase.h"
#include "taskdialog/cTaskDialog.h"

namespace qv::unpack {

// Texts and ids of the run, as the user sees them.
inline constexpr const char* kTitle = "Quorvelunpack : Décompresser un fichier Zip";
inline constexpr const char* kAppName = "Quorvelunpack";
inline constexpr int32_t kUpdateButton = 300;
inline constexpr int32_t kOverwriteButton = 200;
inline constexpr int32_t kAbandonButton = 400;

class frmMain : public WorkflowForm<cTaskDialog> {
 public:
  frmMain();
  ~frmMain() override;

  // ---- run state -----------------------------------------------------------
  std::string ArchivePath;
  bool PasswordRequired = false;
  std::string DestinationFolder;
  bool UpdateOnly = false;
  bool DeleteArchiveWhenDone = false;
  // What the extraction call answered (entries written, or negative); only
  // meaningful once the progress dialog ran it.
  int32_t ExtractResult = 0;
  // The engine said the extraction call is over.
  bool UnzipEnded = false;

  // ---- members -------------------------------------------------------------
  std::unique_ptr<ZipEngine> Zip;
  // Starts the extraction 250 ms after the progress dialog exists.
  UiTimer TUnzip{250, [this] { TUnzip_Timer(); }};

  // The whole run; never returns normally (every way out ends the process).
  void Form_Load(const std::string& commandLine);

  // Full path of the chosen archive, or "" when the user cancelled.
  std::string ChooseArchive();
  // The accepted password, or "" when the user gave up.
  std::string AskPassword();
  bool CheckPassword(const std::string& password);
  // Sets UpdateOnly or Cancelled from the user's answer.
  void AskExistingDestination();
  // Returns when the progress dialog has closed.
  void ShowProgressDialog();

  // ---- handlers ------------------------------------------------------------
  void TaskDialog1_ButtonClick(int32_t ButtonID);
  void TaskDialogPW_ButtonClick(int32_t ButtonID);
  void TUnzip_Timer();
  void Zip_AbortCheck(int32_t& abort);
  void Zip_PercentDone(int32_t percent, int32_t& abort);
  void Zip_ToBeUnzipped(const std::string& FileName, int64_t compressedSize,
                        int64_t uncompressedSize, int32_t& exclude);
  void Zip_UnzipEnd();

 protected:
  UiTimer& WorkTimer() override { return TUnzip; }
  void OnTerminate() override;

 private:
  void CreateEngine();
  // The end of the progress dialog once the extraction call has answered.
  void FinishExtraction(int32_t result);
  bool extracting_ = false;
  // The existing-destination choice was answered by one of its two ways to
  // extract.
  bool destinationChosen_ = false;
  // The extraction call failed (not a cancel); the run ends as a failure.
  bool failed_ = false;
};

// True when anything (folder, file, link) exists under `path`.
bool PathExists(const std::string& path);

}  // namespace qv::unpack
