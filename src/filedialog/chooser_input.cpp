#include "filedialog/ChooserInput.h"

namespace qv {

namespace {
ChooserInput* g_input = nullptr;
}

std::optional<std::string> ScriptedChooserInput::ReadAnswer(const std::string& prompt,
                                                            const ChooserCompleter& complete) {
  prompts_.push_back(prompt);
  transcript_.push_back(prompt);
  lastCompleter_ = complete;
  if (next_ >= answers_.size()) return std::nullopt;
  return answers_[next_++];
}

void SetChooserInput(ChooserInput* input) { g_input = input; }
ChooserInput* InstalledChooserInput() { return g_input; }

}  // namespace qv
