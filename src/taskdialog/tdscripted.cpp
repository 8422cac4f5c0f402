#include "taskdialog/tdscripted.h"

#include "support/eventloop.h"

namespace qv {

// ---------------------------------------------------------------------------
// DialogScript

DialogScript& DialogScript::AtTick(int64_t tick) {
  pendingTrigger_ = Step::kTick;
  pendingAt_ = tick;
  return *this;
}

DialogScript& DialogScript::AtMs(int64_t msSinceCreated) {
  pendingTrigger_ = Step::kMs;
  pendingAt_ = msSinceCreated;
  return *this;
}

DialogScript& DialogScript::Add(std::string what, std::function<bool(LayerDialog&)> action) {
  Step s;
  s.trigger = pendingTrigger_;
  s.at = pendingAt_;
  s.action = std::move(action);
  s.what = std::move(what);
  steps_.push_back(std::move(s));
  pendingTrigger_ = Step::kNone;
  pendingAt_ = 0;
  return *this;
}

DialogScript& DialogScript::Click(int32_t id) {
  return Add("click " + std::to_string(id), [id](LayerDialog& d) { return d.Click(id); });
}

DialogScript& DialogScript::Close() {
  return Add("close", [](LayerDialog& d) { return d.Cancel(); });
}

DialogScript& DialogScript::Type(const std::string& text) {
  return Add("type '" + text + "'", [text](LayerDialog& d) { return d.Type(text); });
}

DialogScript& DialogScript::Backspace(int count) {
  return Add("backspace", [count](LayerDialog& d) { return d.Backspace(count); });
}

DialogScript& DialogScript::Clear() {
  return Add("clear", [](LayerDialog& d) { return d.SetInput(""); });
}

DialogScript& DialogScript::SetInput(const std::string& text) {
  return Add("set '" + text + "'", [text](LayerDialog& d) { return d.SetInput(text); });
}

DialogScript& DialogScript::SelectRadio(int32_t id) {
  return Add("radio " + std::to_string(id), [id](LayerDialog& d) { return d.SelectRadio(id); });
}

DialogScript& DialogScript::Do(std::function<void(LayerDialog&)> action) {
  return Add("do", [action](LayerDialog& d) {
    action(d);
    return true;
  });
}

// ---------------------------------------------------------------------------
// ScriptedDialogs

ScriptedDialogs::ScriptedDialogs(float dpiX, float dpiY, const std::string& programTitle)
    : layer_(std::make_unique<DialogLayer>(*this, dpiX, dpiY)) {
  layer_->SetProgramTitle(programTitle);
  SetTdPlatform(layer_.get());
  SetPrompts(layer_.get());
}

ScriptedDialogs::~ScriptedDialogs() {
  for (auto& r : running_) {
    if (r->stepTimer) r->loop->RemoveTimer(r->stepTimer);
    if (r->idleTimer) r->loop->RemoveTimer(r->idleTimer);
  }
  SetTdPlatform(nullptr);
  SetPrompts(nullptr);
}

DialogScript& ScriptedDialogs::Dialog(size_t n) {
  while (scripts_.size() <= n) scripts_.emplace_back();
  return scripts_[n];
}

void ScriptedDialogs::AnswerQuestions(std::vector<int> answers) {
  for (int a : answers) answers_.push_back(a);
}

LayerDialog* ScriptedDialogs::Current() {
  const auto& open = layer_->OpenDialogs();
  return open.empty() ? nullptr : open.back();
}

ScriptedDialogs::Running* ScriptedDialogs::Find(LayerDialog& d) {
  for (auto& r : running_)
    if (r->dialog == &d && !r->done) return r.get();
  return nullptr;
}

void ScriptedDialogs::Record(LayerDialog& d, ShownDialog& s) {
  s.record = d.Record();
  s.title = d.Title();
  s.mainInstruction = d.MainInstruction();
  s.content = d.Content();
  s.footer = d.Footer();
  s.expandedInfo = d.ExpandedInfo();
  s.iconMain = d.IconMain();
  s.iconFooter = d.IconFooter();
  s.buttons = d.Buttons();
  s.radios = d.Radios();
  s.progress = d.ProgressBar();
  s.input = d.InputBox();
  s.ticks = d.Ticks();
  s.open = d.Open();
  s.result = d.Result();
  auto note = [](auto& history, const auto& value) {
    if (history.empty() || history.back() != value) history.push_back(value);
  };
  note(s.footers, s.footer);
  note(s.footerIcons, s.iconFooter);
  note(s.mainInstructions, s.mainInstruction);
  note(s.mainIcons, s.iconMain);
  if (s.progress.shown) note(s.progressPositions, s.progress.position);
  if (s.input.present) note(s.inputTexts, s.input.text);
}

void ScriptedDialogs::Shown(LayerDialog& d) {
  auto r = std::make_unique<Running>();
  r->dialog = &d;
  r->index = shown_.size();
  r->createdMs = Loop().NowMs();
  r->loop = &Loop();
  shown_.emplace_back();
  shown_.back().shownAtMs = r->createdMs;
  Record(d, shown_.back());
  Dialog(r->index);  // every dialog has a script, perhaps empty
  running_.push_back(std::move(r));
  Schedule(*running_.back());
}

void ScriptedDialogs::Changed(LayerDialog& d) {
  if (Running* r = Find(d)) Record(d, shown_[r->index]);
}

void ScriptedDialogs::Ticked(LayerDialog& d) {
  Running* r = Find(d);
  if (!r) return;
  shown_[r->index].ticks = d.Ticks();
  if (r->waitTick >= 0 && d.Ticks() >= r->waitTick) {
    r->waitTick = -1;
    StartStepTimer(*r, 1);
  }
}

void ScriptedDialogs::Closed(LayerDialog& d) {
  Running* r = Find(d);
  if (!r) return;
  Record(d, shown_[r->index]);
  shown_[r->index].open = false;
  shown_[r->index].closedAtMs = Loop().NowMs();
  if (r->stepTimer) r->loop->RemoveTimer(r->stepTimer);
  if (r->idleTimer) r->loop->RemoveTimer(r->idleTimer);
  r->stepTimer = r->idleTimer = 0;
  r->done = true;
}

void ScriptedDialogs::StartStepTimer(Running& r, int64_t delayMs) {
  if (r.stepTimer) r.loop->RemoveTimer(r.stepTimer);
  Running* rp = &r;
  r.stepTimer = r.loop->AddTimer(delayMs < 1 ? 1 : delayMs, [this, rp] {
    rp->loop->RemoveTimer(rp->stepTimer);
    rp->stepTimer = 0;
    RunStep(*rp);
  });
}

void ScriptedDialogs::Schedule(Running& r) {
  if (r.done) return;
  DialogScript& script = scripts_[r.index];
  if (script.steps_.empty()) {
    if (r.idleTimer) return;
    Running* rp = &r;
    r.idleTimer = r.loop->AddTimer(IdleTimeoutMs, [this, rp] {
      rp->loop->RemoveTimer(rp->idleTimer);
      rp->idleTimer = 0;
      if (rp->done) return;
      errors_.push_back("dialog " + std::to_string(rp->index) + " (\"" +
                        rp->dialog->MainInstruction() + "\") still open after its script");
      rp->dialog->Dismiss();
    });
    return;
  }
  const DialogScript::Step& step = script.steps_.front();
  switch (step.trigger) {
    case DialogScript::Step::kNone:
      StartStepTimer(r, 1);
      break;
    case DialogScript::Step::kMs:
      StartStepTimer(r, r.createdMs + step.at - r.loop->NowMs());
      break;
    case DialogScript::Step::kTick:
      if (r.dialog->Ticks() >= step.at)
        StartStepTimer(r, 1);
      else
        r.waitTick = step.at;
      break;
  }
}

void ScriptedDialogs::RunStep(Running& r) {
  if (r.done) return;
  DialogScript& script = scripts_[r.index];
  if (script.steps_.empty()) return;
  DialogScript::Step step = std::move(script.steps_.front());
  script.steps_.pop_front();
  bool ok = step.action(*r.dialog);
  if (!ok)
    errors_.push_back("dialog " + std::to_string(r.index) + ": could not " + step.what);
  Schedule(r);
}

int ScriptedDialogs::Question(const std::string& text, const std::string& title, uint32_t flags) {
  int answer = (flags & MB_DEFBUTTON2_) ? IDNO_ : IDYES_;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  questions_.push_back(AskedQuestion{text, title, flags, answer});
  return answer;
}

void ScriptedDialogs::Beep(uint32_t type) { beeps_.push_back(type); }

}  // namespace qv
