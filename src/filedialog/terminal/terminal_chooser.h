// The terminal chooser: the path prompt that stands in for the item dialog
// and the folder browser off Windows.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "filedialog/ChooserInput.h"
#include "filedialog/ChooserPlatform.h"

namespace qv {

// The answer source in force: the installed one, else the terminal.
ChooserInput& TerminalChooserInput();

// One question of the chooser.
struct PathPromptRequest {
  enum Kind { Open, Save, Folder } kind = Open;
  std::string title;
  std::string startFolder;  // "" or missing: the Documents folder
  std::vector<std::pair<std::string, std::string>> types;
  uint32_t typeIndex = 1;  // 1-based
  std::string defaultExt;
  uint32_t options = 0;  // FOS_* / OFN_* bits: 0x2 overwrite prompt, 0x800, 0x1000 must exist
  std::string fileName;  // proposed name
  std::string root;      // answers must lie inside it ("" none)
};

// What the prompt reports while it is up; every hook is optional.
struct PathPromptHooks {
  std::function<bool(const std::string& folder)> folderChanging;  // false refuses
  std::function<void()> folderChanged;
  std::function<void()> selectionChanged;
  std::function<bool()> fileOk;  // false keeps the prompt open
  // A close asked for from a hook: the result code the prompt ends with.
  std::function<std::optional<uint32_t>()> closeRequested;
};

class PathPrompt {
 public:
  PathPrompt(PathPromptRequest request, ChooserInput& input) : request_(std::move(request)), in_(input) {}
  // 0 with Result() set, kChooserCancelled, or the code of a requested close.
  uint32_t Run(const PathPromptHooks& hooks);
  const std::string& Result() const { return result_; }
  // Every chosen path: several after a quoted list in a multiple selection.
  const std::vector<std::string>& Results() const { return results_; }
  const std::string& CurrentFolder() const { return current_; }
  const std::string& Selection() const { return selection_; }
  void SetCurrentFolder(const std::string& folder) { current_ = folder; }
  void SetTitle(const std::string& title) { request_.title = title; }

  // Helpers, public for tests.
  std::string Resolve(const std::string& typed) const;
  std::vector<std::string> Complete(const std::string& typed) const;
  bool MatchesFilter(const std::string& name) const;
  std::vector<std::string> Listing() const;

 private:
  std::string PromptLine() const;
  bool Confirm(const std::string& question, bool& cancelled);
  PathPromptRequest request_;
  ChooserInput& in_;
  bool ChooseMany(const std::string& text, const PathPromptHooks& hooks);
  std::string current_, result_, selection_;
  std::vector<std::string> results_;
};

}  // namespace qv
