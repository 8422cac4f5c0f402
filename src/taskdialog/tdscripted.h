// A renderer for tests: the user is a script, the clock is the virtual one.
//
//   VirtualEventLoop loop;  SetLoop(&loop);
//   ScriptedDialogs ui;                       // installs layer, platform, prompts
//   ui.Dialog(0).AtTick(3).Click(101);        // progress dialog: "Annuler" at tick 3
//   ui.Dialog(1).Type("abc").Click(1)         // password dialog: type, OK (held),
//               .Clear().Type("Secret12!").Click(1);
//   ui.AnswerQuestions({IDYES_});             // the next Yes/No question
//   ... run the workflow ...
//   ui.Shown()[0].footers  -> every footer the dialog showed, in order
//
// Steps of one dialog run in order, each on the loop (never nested in the
// notification that made the dialog). A step without its own trigger runs 1 ms
// after the previous one (or after the dialog was created). AtTick(n) runs the
// next step 1 ms after the dialog's n-th timer notification (dialogs with
// TDF_CALLBACK_TIMER tick about every 200 ms); AtMs(t) at t ms after creation.
// When a dialog's script is used up and the dialog is still open after
// `IdleTimeoutMs`, the renderer notes an error (see Errors()) and ends it as
// end of input would: Cancel when allowed, else the close id 8.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/ui.h"
#include "taskdialog/tdlayer.h"

namespace qv {

// Everything one dialog showed, kept after it closed.
struct ShownDialog {
  TaskDialogConfig record;  // the record as the layer received it (last page)
  std::string title, mainInstruction, content, footer, expandedInfo;
  intptr_t iconMain = 0, iconFooter = 0;
  std::vector<LayerDialog::Button> buttons;  // last state (enabled, elevated)
  std::vector<LayerDialog::Radio> radios;
  LayerDialog::Progress progress;  // last state
  LayerDialog::Input input;        // last state (rect, masked, text)
  // Histories, each entry appended when the value changed.
  std::vector<std::string> footers;      // starts with the initial footer
  std::vector<intptr_t> footerIcons;     // starts with the initial footer icon
  std::vector<std::string> mainInstructions;
  std::vector<intptr_t> mainIcons;
  std::vector<int32_t> progressPositions;
  std::vector<std::string> inputTexts;  // the box's text after each change
  int64_t ticks = 0;
  int64_t shownAtMs = 0, closedAtMs = -1;
  bool open = false;
  int32_t result = 0;
};

struct AskedQuestion {
  std::string text, title;
  uint32_t flags = 0;
  int answer = 0;
};

class ScriptedDialogs;

class DialogScript {
 public:
  // Triggers for the next step.
  DialogScript& AtTick(int64_t tick);
  DialogScript& AtMs(int64_t msSinceCreated);
  // Steps.
  DialogScript& Click(int32_t id);
  DialogScript& Close();  // Escape / close box
  DialogScript& Type(const std::string& text);
  DialogScript& Backspace(int count = 1);
  DialogScript& Clear();  // erases the whole text in one change
  DialogScript& SetInput(const std::string& text);
  DialogScript& SelectRadio(int32_t id);
  DialogScript& Do(std::function<void(LayerDialog&)> action);

 private:
  friend class ScriptedDialogs;
  struct Step {
    enum Kind { kNone, kTick, kMs } trigger = kNone;
    int64_t at = 0;
    std::function<bool(LayerDialog&)> action;  // false: the user could not do it
    std::string what;
  };
  DialogScript& Add(std::string what, std::function<bool(LayerDialog&)> action);
  std::deque<Step> steps_;
  Step::Kind pendingTrigger_ = Step::kNone;
  int64_t pendingAt_ = 0;
};

class ScriptedDialogs : public DialogRenderer {
 public:
  // Installs a DialogLayer with this renderer as the task dialog platform and
  // the Yes/No prompts of the process; the destructor uninstalls them. Runs
  // on qv::Loop() (a VirtualEventLoop in tests). Create it before the
  // cTaskDialog objects: they bind to the platform when constructed.
  explicit ScriptedDialogs(float dpiX = 1.0f, float dpiY = 1.0f,
                           const std::string& programTitle = "Quorvel");
  ~ScriptedDialogs() override;

  // The script of the n-th dialog shown (0-based, in order of showing).
  DialogScript& Dialog(size_t n);
  // Answers for the next Yes/No questions, in order; when none is left the
  // question takes its default button.
  void AnswerQuestions(std::vector<int> answers);
  int64_t IdleTimeoutMs = 600000;

  const std::vector<ShownDialog>& Shown() const { return shown_; }
  const std::vector<AskedQuestion>& Questions() const { return questions_; }
  const std::vector<uint32_t>& Beeps() const { return beeps_; }
  const std::vector<std::string>& Errors() const { return errors_; }
  // The dialog open now (innermost), or null.
  LayerDialog* Current();
  DialogLayer& Layer() { return *layer_; }

  // DialogRenderer
  void Shown(LayerDialog& dialog) override;
  void Changed(LayerDialog& dialog) override;
  void Ticked(LayerDialog& dialog) override;
  void Closed(LayerDialog& dialog) override;
  int Question(const std::string& text, const std::string& title, uint32_t flags) override;
  void Beep(uint32_t type) override;

 private:
  struct Running {
    LayerDialog* dialog = nullptr;
    size_t index = 0;
    int64_t createdMs = 0;
    int stepTimer = 0;
    int idleTimer = 0;
    int64_t waitTick = -1;  // the step waits for this tick
    bool done = false;
    EventLoop* loop = nullptr;  // where its timers run
  };
  void Record(LayerDialog& d, ShownDialog& s);
  Running* Find(LayerDialog& d);
  void Schedule(Running& r);
  void RunStep(Running& r);
  void StartStepTimer(Running& r, int64_t delayMs);

  std::unique_ptr<DialogLayer> layer_;
  std::deque<DialogScript> scripts_;
  std::vector<ShownDialog> shown_;
  std::vector<std::unique_ptr<Running>> running_;
  std::deque<int> answers_;
  std::vector<AskedQuestion> questions_;
  std::vector<uint32_t> beeps_;
  std::vector<std::string> errors_;
};

}  // namespace qv
