// Where the terminal chooser (the path prompt used off Windows) reads its
// answers. By default it is the terminal: an editable prompt with Tab
// completion when stdin and stdout are terminals, otherwise line mode, where
// the chooser prints its prompt on one line and reads one line, the path (end
// of input is a cancel). Tests and scripted runs install their own source:
//
//   qv::ScriptedChooserInput answers({"/data/photos"});   // or {std::nullopt}: cancel
//   qv::SetChooserInput(&answers);
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// Completions of a partly typed path: the full texts that may replace it.
using ChooserCompleter = std::function<std::vector<std::string>(const std::string& typed)>;

class ChooserInput {
 public:
  virtual ~ChooserInput() = default;
  // True when a person edits the answer on a terminal (several header lines,
  // Tab completion); false in line mode.
  virtual bool Interactive() const { return false; }
  // Shows one line (a header line or a refusal message).
  virtual void Print(const std::string& line) = 0;
  // Shows `prompt` and reads one answer; nullopt is a cancel (end of input,
  // Escape, Ctrl+C on a terminal).
  virtual std::optional<std::string> ReadAnswer(const std::string& prompt, const ChooserCompleter& complete) = 0;
};

// Answers from a list; an answer of nullopt, or running out, cancels. Every
// prompt and message shown is kept in the transcript.
class ScriptedChooserInput : public ChooserInput {
 public:
  explicit ScriptedChooserInput(std::vector<std::optional<std::string>> answers = {})
      : answers_(std::move(answers)) {}
  void Add(std::optional<std::string> answer) { answers_.push_back(std::move(answer)); }
  void Print(const std::string& line) override { transcript_.push_back(line); }
  std::optional<std::string> ReadAnswer(const std::string& prompt, const ChooserCompleter& complete) override;
  const std::vector<std::string>& Transcript() const { return transcript_; }
  // The prompts shown, in order.
  const std::vector<std::string>& Prompts() const { return prompts_; }
  std::size_t Remaining() const { return answers_.size() - next_; }
  // The completer of the last prompt, for tests of completion.
  const ChooserCompleter& LastCompleter() const { return lastCompleter_; }

 private:
  std::vector<std::optional<std::string>> answers_;
  std::size_t next_ = 0;
  std::vector<std::string> transcript_, prompts_;
  ChooserCompleter lastCompleter_;
};

// Installs the answer source of the terminal chooser (null: the terminal).
void SetChooserInput(ChooserInput* input);
ChooserInput* InstalledChooserInput();

}  // namespace qv
