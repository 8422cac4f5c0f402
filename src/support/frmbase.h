// What the main forms of the two programs have in common. Each program's
// frmMain is an invisible controller of one run: its load handler runs the
// whole workflow as one linear sequence of modal dialogs, the last of which is
// a progress dialog inside which the engine works, and every way out ends the
// process. The forms share the event pumping, the hidden owner of the dialogs,
// the three dialog members and their release, the cancel timer of the progress
// dialog, the handlers of that dialog, and the exit status.
//
// WorkflowForm is a template over the task dialog class so that this header
// needs nothing from the dialog component: the members and handlers are only
// compiled in the program that instantiates them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/eventloop.h"
#include "support/process.h"

namespace qv {

class FormBase {
 public:
  FormBase() = default;
  virtual ~FormBase() = default;
  FormBase(const FormBase&) = delete;
  FormBase& operator=(const FormBase&) = delete;

  // The hidden owner window every dialog of the run belongs to (0 where the
  // platform has none).
  intptr_t hWnd() const;

  // Processes the pending UI events count + 1 times in a row.
  void PumpEvents(int16_t count) { qv::PumpEvents(count); }
  // Processes UI events until `ms` milliseconds have passed.
  void WaitMs(float ms) { qv::WaitMs(ms); }

  // What the process will report to its caller when the run ends
  // (kExitDone, kExitCancelled, kExitFailed). A run that ends without saying
  // otherwise was abandoned.
  int ExitStatus() const { return exitStatus_; }
  void ExitStatus(int status) { exitStatus_ = status; }

  // The stock icons the dialogs of both programs show, as the dialog
  // component takes them (negative ordinals): main icons of the progress,
  // choice and password dialogs, footer icons.
  static constexpr intptr_t kIconProgress = -8;
  static constexpr intptr_t kIconChoice = -6;
  static constexpr intptr_t kIconPassword = -7;
  static constexpr intptr_t kIconInformation = -3;
  static constexpr intptr_t kIconError = -2;

  // Ends the process at once with `status`, without releasing anything: the
  // early ways out of start-up (nothing to do, the engine refused the archive).
  [[noreturn]] void EndRun(int status);

  // The footer of a failed run: the program's fixed text and, on the line
  // below, the engine's reason, escaped (it quotes names from outside).
  static std::string FailureFooter(std::string_view fixedText, std::string_view reason);

 private:
  int exitStatus_ = kExitCancelled;
};

template <class TaskDialogT>
class WorkflowForm : public FormBase {
 public:
  using TaskDialog = TaskDialogT;

  // The id of the progress dialog's "Annuler" command link.
  static constexpr int32_t kCancelButton = 101;
  static constexpr int64_t kCloseDelayMs = 500;

  // Run state both programs share in name and meaning.
  std::string ParentFolder;
  std::string ArchivePassword;
  // Abandon or cancel; the engine events read it as the abort request.
  bool Cancelled = false;
  int32_t LastPercent = 0;

  // Choice, progress and password dialogs: each is created anew by the
  // procedure that shows it, and released by Terminate.
  std::shared_ptr<TaskDialog> TaskDialog1;
  std::shared_ptr<TaskDialog> TaskDialog2;
  std::shared_ptr<TaskDialog> TaskDialogPW;

  // Closes the program 500 ms after a cancel of the progress dialog.
  UiTimer TClose{kCloseDelayMs, [this] { TClose_Timer(); }};

  // Releases the dialogs, lets the program release what else it holds
  // (OnTerminate), and ends the process with ExitStatus(). Every step runs even
  // when an earlier one fails.
  [[noreturn]] void Terminate() {
    try {
      TaskDialog1.reset();
    } catch (...) {
    }
    try {
      TaskDialog2.reset();
    } catch (...) {
    }
    try {
      TaskDialogPW.reset();
    } catch (...) {
    }
    try {
      OnTerminate();
    } catch (...) {
    }
    EndProcess(ExitStatus());
  }

  // Progress dialog handlers, the same in both programs.
  void TaskDialog2_DialogCreated() {
    if (!TaskDialog2) return;
    TaskDialog2->ProgressSetRange(0, 100);
    TaskDialog2->ProgressSetValue(0);
    WorkTimer().SetEnabled(true);
  }
  void TaskDialog2_Timer() {
    if (TaskDialog2) TaskDialog2->ProgressSetValue(LastPercent);
    PumpEvents(20);
  }
  void TaskDialog2_ButtonClick(int32_t ButtonID) {
    if (ButtonID != kCancelButton) return;
    Cancelled = true;
    ExitStatus(kExitCancelled);
    TClose.SetEnabled(true);
  }
  void TClose_Timer() {
    TClose.SetEnabled(false);
    if (TaskDialog2) TaskDialog2->CloseDialog();
    WaitMs(1000);
    Terminate();
  }

 protected:
  // The program's one-shot timer that starts the engine once the progress
  // dialog exists (250 ms after DialogCreated).
  virtual UiTimer& WorkTimer() = 0;
  // Releases what the program holds besides the dialogs (the extractor closes
  // its archive). Errors are ignored by the caller.
  virtual void OnTerminate() {}

  // Creates a new dialog into `member` and initialises it.
  TaskDialog& NewDialog(std::shared_ptr<TaskDialog>& member) {
    member = std::make_shared<TaskDialog>();
    member->Init();
    return *member;
  }

  // Shows the dialog of `member` modally and returns ShowDialog's answer. The
  // object stays alive until its ShowDialog has returned, even when Terminate
  // releases the member from inside one of its events.
  bool ShowModal(const std::shared_ptr<TaskDialog>& member) {
    std::shared_ptr<TaskDialog> keep = member;
    if (!keep) return false;
    return keep->ShowDialog();
  }

  // Connects the progress dialog's events to the handlers above.
  void ConnectProgressEvents(TaskDialog& dialog) {
    dialog.DialogCreated = [this](auto&&...) { TaskDialog2_DialogCreated(); };
    dialog.Timer = [this](auto&&...) { TaskDialog2_Timer(); };
    dialog.ButtonClick = [this](auto id, auto&&...) {
      TaskDialog2_ButtonClick(static_cast<int32_t>(id));
    };
  }
};

}  // namespace qv
