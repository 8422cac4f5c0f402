#include "filedialog/terminal/terminal_chooser.h"

#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "filedialog/CmnDialogEx.h"
#include "filedialog/KeptItemDialog.h"
#include "filedialog/gtk/gtk_chooser.h"
#include "filedialog/xdg.h"
#include "support/gtk/gtk_frontend.h"
#include "support/text.h"

namespace fs = std::filesystem;

namespace qv {

namespace {

bool IsDir(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string HomeFolder() {
  const char* h = std::getenv("HOME");
  return h && *h ? std::string(h) : std::string("/");
}

std::string Normal(const std::string& path) {
  std::string n = fs::path(path).lexically_normal().string();
  while (n.size() > 1 && n.back() == '/') n.pop_back();
  return n.empty() ? "/" : n;
}

std::string Quoted(const std::string& path) { return "« " + path + " »"; }

bool IsYes(const std::string& answer) {
  const std::string a = AsciiLower(TrimBlanks(answer));
  return a == "o" || a == "oui" || a == "y" || a == "yes";
}

}  // namespace

// ---- the prompt ---------------------------------------------------------------

std::string PathPrompt::Resolve(const std::string& typed) const {
  std::string t = typed;
  if (t == "~" || t.compare(0, 2, "~/") == 0) t = HomeFolder() + t.substr(1);
  if (t.empty() || t[0] != '/') t = current_ + "/" + t;
  return Normal(t);
}

bool PathPrompt::MatchesFilter(const std::string& name) const {
  if (request_.types.empty()) return true;
  std::size_t index = request_.typeIndex;
  if (index < 1 || index > request_.types.size()) index = 1;
  std::stringstream patterns(request_.types[index - 1].second);
  std::string pattern;
  while (std::getline(patterns, pattern, ';')) {
    pattern = TrimBlanks(pattern);
    if (pattern.empty()) continue;
    if (pattern == "*.*" || pattern == "*") return true;
    // Names on Windows match their patterns whatever the case.
    if (::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
  }
  return false;
}

std::vector<std::string> PathPrompt::Complete(const std::string& typed) const {
  const auto slash = typed.rfind('/');
  const std::string dirText = slash == std::string::npos ? "" : typed.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? typed : typed.substr(slash + 1);
  const std::string dir = dirText.empty() ? current_ : Resolve(dirText);
  std::vector<std::string> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, base.size(), base) != 0) continue;
    if (name[0] == '.' && (base.empty() || base[0] != '.')) continue;
    std::error_code ec2;
    if (it->is_directory(ec2)) {
      out.push_back(dirText + name + "/");
    } else if (request_.kind != PathPromptRequest::Folder && MatchesFilter(name)) {
      out.push_back(dirText + name);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> PathPrompt::Listing() const {
  std::vector<std::string> dirs, files;
  std::error_code ec;
  for (fs::directory_iterator it(current_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name[0] == '.') continue;
    std::error_code ec2;
    if (it->is_directory(ec2)) {
      dirs.push_back(name + "/");
    } else if (request_.kind != PathPromptRequest::Folder && MatchesFilter(name)) {
      files.push_back(name);
    }
  }
  std::sort(dirs.begin(), dirs.end());
  std::sort(files.begin(), files.end());
  dirs.insert(dirs.end(), files.begin(), files.end());
  return dirs;
}

std::string PathPrompt::PromptLine() const {
  std::string title = request_.title;
  if (title.empty()) {
    title = request_.kind == PathPromptRequest::Folder ? "Sélectionner un dossier"
            : request_.kind == PathPromptRequest::Save ? "Enregistrer sous"
                                                 : "Ouvrir";
  }
  std::string line = title;
  if (!request_.types.empty() && request_.kind != PathPromptRequest::Folder) {
    std::size_t index = request_.typeIndex;
    if (index < 1 || index > request_.types.size()) index = 1;
    const auto& type = request_.types[index - 1];
    line += " (" + type.first + (type.first.find(type.second) == std::string::npos ? " : " + type.second : "") + ")";
  }
  line += " dans " + current_ + " :";
  return line;
}

bool PathPrompt::Confirm(const std::string& question, bool& cancelled) {
  const auto answer = in_.ReadAnswer(question + " (o/n)", nullptr);
  cancelled = !answer.has_value();
  return answer && IsYes(*answer);
}

uint32_t PathPrompt::Run(const PathPromptHooks& hooks) {
  auto closed = [&]() -> std::optional<uint32_t> {
    return hooks.closeRequested ? hooks.closeRequested() : std::nullopt;
  };
  if (current_.empty()) {
    if (!request_.startFolder.empty() && request_.startFolder[0] == '/' && IsDir(request_.startFolder)) {
      current_ = Normal(request_.startFolder);
    } else if (!request_.root.empty() && IsDir(request_.root)) {
      current_ = Normal(request_.root);
    } else {
      const std::string documents = DocumentsFolder();
      current_ = IsDir(documents) ? Normal(documents) : Normal(HomeFolder());
    }
  }
  const bool folderMode = request_.kind == PathPromptRequest::Folder;
  const bool mustExist = (request_.options & (OFN_FILEMUSTEXIST_ | OFN_PATHMUSTEXIST_)) != 0;
  for (;;) {
    if (auto code = closed()) return *code;
    if (in_.Interactive()) {
      in_.Print(PromptLine());
      in_.Print(folderMode ? "Tab complète le nom, « ? » liste les dossiers, Échap annule."
                           : "Tab complète le nom, « ? » liste le dossier, Échap annule.");
    }
    const std::string prompt = in_.Interactive() ? "> " : PromptLine();
    // The completer works on a copy: an answer source may keep it past the prompt.
    auto snapshot = std::make_shared<PathPrompt>(*this);
    auto answer = in_.ReadAnswer(prompt, [snapshot](const std::string& typed) { return snapshot->Complete(typed); });
    if (auto code = closed()) return *code;
    if (!answer) return kChooserCancelled;
    std::string text = TrimBlanks(*answer);
    if (text == "?") {
      const auto entries = Listing();
      if (entries.empty()) in_.Print("(dossier vide)");
      for (const auto& e : entries) in_.Print("  " + e);
      continue;
    }
    if (text.empty()) {
      if (folderMode) {
        text = current_;
      } else if (!request_.fileName.empty()) {
        text = request_.fileName;
      } else {
        in_.Print("Entrez un nom de fichier.");
        continue;
      }
    }
    // Several files at once, typed as the platform's dialog takes them:
    // "one.txt" "two.txt".
    if (request_.kind == PathPromptRequest::Open && (request_.options & OFN_ALLOWMULTISELECT_) && text[0] == '"') {
      if (!ChooseMany(text, hooks)) continue;
      if (auto code = closed()) return *code;
      if (hooks.fileOk && !hooks.fileOk()) continue;
      if (auto code = closed()) return *code;
      result_ = results_.front();
      return 0;
    }
    std::string path = Resolve(text);
    if (!request_.root.empty()) {
      const std::string root = Normal(request_.root);
      if (path != root && path.compare(0, root.size() + 1, root == "/" ? "/" : root + "/") != 0) {
        in_.Print("Le dossier " + Quoted(path) + " est en dehors de " + Quoted(root) + ".");
        continue;
      }
    }
    if (!folderMode && IsDir(path)) {
      // A folder typed in a file chooser opens it, as the platform's dialog does.
      if (hooks.folderChanging && !hooks.folderChanging(path)) continue;
      current_ = path;
      if (hooks.folderChanged) hooks.folderChanged();
      continue;
    }
    if (folderMode) {
      if (!Exists(path)) {
        in_.Print("Le dossier " + Quoted(path) + " est introuvable. Vérifiez le chemin et réessayez.");
        continue;
      }
      if (!IsDir(path)) {
        in_.Print(Quoted(path) + " n'est pas un dossier. Choisissez un dossier.");
        continue;
      }
    } else {
      const std::string name = fs::path(path).filename().string();
      if (!request_.defaultExt.empty() && name.find('.') == std::string::npos && !Exists(path))
        path += "." + request_.defaultExt;
      const std::string parent = fs::path(path).parent_path().string();
      if ((mustExist || request_.kind == PathPromptRequest::Save) && !IsDir(parent.empty() ? "/" : parent)) {
        in_.Print("Le chemin " + Quoted(parent) + " est introuvable. Vérifiez le chemin et réessayez.");
        continue;
      }
      if (request_.kind == PathPromptRequest::Open && (request_.options & OFN_FILEMUSTEXIST_) && !Exists(path)) {
        in_.Print("Le fichier " + Quoted(path) + " est introuvable. Vérifiez le nom du fichier et réessayez.");
        continue;
      }
      if (request_.kind == PathPromptRequest::Save && (request_.options & OFN_OVERWRITEPROMPT_) && Exists(path)) {
        bool cancelled = false;
        const bool yes = Confirm(Quoted(path) + " existe déjà. Voulez-vous le remplacer ?", cancelled);
        if (cancelled) return kChooserCancelled;
        if (!yes) continue;
      }
    }
    selection_ = path;
    if (hooks.selectionChanged) hooks.selectionChanged();
    if (auto code = closed()) return *code;
    if (hooks.fileOk && !hooks.fileOk()) continue;
    if (auto code = closed()) return *code;
    result_ = path;
    results_ = {path};
    return 0;
  }
}

bool PathPrompt::ChooseMany(const std::string& text, const PathPromptHooks& hooks) {
  std::vector<std::string> names;
  std::size_t pos = 0;
  while ((pos = text.find('"', pos)) != std::string::npos) {
    const auto end = text.find('"', pos + 1);
    if (end == std::string::npos) {
      in_.Print("Fermez les guillemets du dernier nom.");
      return false;
    }
    if (end > pos + 1) names.push_back(text.substr(pos + 1, end - pos - 1));
    pos = end + 1;
  }
  std::vector<std::string> paths;
  for (const auto& name : names) {
    std::string path = Resolve(name);
    if (IsDir(path)) {
      in_.Print(Quoted(path) + " est un dossier. Choisissez des fichiers.");
      return false;
    }
    if (!request_.defaultExt.empty() && fs::path(path).filename().string().find('.') == std::string::npos &&
        !Exists(path))
      path += "." + request_.defaultExt;
    if ((request_.options & OFN_FILEMUSTEXIST_) && !Exists(path)) {
      in_.Print("Le fichier " + Quoted(path) + " est introuvable. Vérifiez le nom du fichier et réessayez.");
      return false;
    }
    paths.push_back(path);
  }
  if (paths.empty()) {
    in_.Print("Entrez un nom de fichier.");
    return false;
  }
  results_ = paths;
  selection_ = paths.front();
  if (hooks.selectionChanged) hooks.selectionChanged();
  return true;
}

// ---- shell items of the file system -------------------------------------------

namespace {

class FsItem : public PathShellItem {
 public:
  explicit FsItem(std::string path) : PathShellItem(std::move(path), '/') {}
  uint32_t Attributes(uint32_t mask) const override {
    uint32_t a = SFGAO_FILESYSTEM_;
    a |= IsDir(Path()) ? SFGAO_FOLDER_ : SFGAO_STREAM_;
    return a & mask;
  }
  ShellItemPtr Parent() const override {
    if (Path() == "/") return nullptr;
    const std::string parent = fs::path(Path()).parent_path().string();
    return std::make_shared<FsItem>(parent.empty() ? "/" : parent);
  }
};

ShellItemPtr MakeItem(const std::string& path) {
  if (path.empty() || path[0] != '/' || !Exists(path)) return nullptr;
  return std::make_shared<FsItem>(Normal(path));
}

// The item dialog of the terminal: collects what the component sets, asks the
// path prompt at Show, and answers with what was chosen. It has no window, no
// folder view, no places pane and no customisation interface: those members
// answer as for a dialog without them.
class TerminalItemDialog : public KeptItemDialog {
 public:
  explicit TerminalItemDialog(bool save) : KeptItemDialog(save) {}
  void AddPlace(const ShellItemPtr&, bool) override {}
  void SetFolder(const ShellItemPtr& folder) override {
    folder_ = PathOf(folder);
    if (prompt_ && IsDir(folder_)) prompt_->SetCurrentFolder(Normal(folder_));
  }
  void SetOkButtonLabel(const std::string&) override {}
  bool SetCancelButtonLabel(const std::string&) override { return false; }
  bool SetNavigationRoot(const ShellItemPtr& root) override {
    root_ = PathOf(root);
    return !root_.empty();
  }

  uint32_t Show(std::intptr_t) override {
    PathPromptRequest request;
    const bool folders = !save_ && (options_ & FOS_PICKFOLDERS_);
    request.kind = folders ? PathPromptRequest::Folder : save_ ? PathPromptRequest::Save : PathPromptRequest::Open;
    request.title = title_;
    request.startFolder = folder_;
    request.types = types_;
    request.typeIndex = GetFileTypeIndex();
    request.defaultExt = defaultExt_;
    request.options = options_;
    request.fileName = fileName_;
    request.root = root_;
    PathPrompt prompt(request, TerminalChooserInput());
    prompt_ = &prompt;
    closeCode_.reset();
    if (sink_) sink_->OnTypeChange();  // the dialog is up
    PathPromptHooks hooks;
    hooks.folderChanging = [this](const std::string& folder) {
      return !sink_ || sink_->OnFolderChanging(MakeItem(folder)) == 0;
    };
    hooks.folderChanged = [this] {
      if (sink_) sink_->OnFolderChange();
    };
    hooks.selectionChanged = [this] {
      if (sink_) sink_->OnSelectionChange();
    };
    hooks.fileOk = [this, &prompt] {
      if (save_ && sink_ && Exists(prompt.Selection())) sink_->OnOverwrite(MakeItem(prompt.Selection()));
      return !sink_ || sink_->OnFileOk() == 0;
    };
    hooks.closeRequested = [this] { return closeCode_; };
    const uint32_t code = prompt.Run(hooks);
    prompt_ = nullptr;
    current_ = prompt.CurrentFolder();
    if (code == 0) {
      result_ = prompt.Result();
      results_ = prompt.Results();
      typeIndex_ = GetFileTypeIndex();
    }
    return code;
  }
  bool Close(uint32_t result) override {
    if (!prompt_) return false;
    closeCode_ = result;
    return true;
  }
  ShellItemPtr GetResult() override {
    if (result_.empty()) return nullptr;
    // A saved file need not exist yet.
    return std::make_shared<FsItem>(result_);
  }
  ShellItemArrayPtr GetResults() override {
    if (save_ || results_.empty()) return nullptr;
    auto list = std::make_shared<ShellItemList>();
    for (const auto& path : results_) list->Add(std::make_shared<FsItem>(path));
    return list;
  }
  ShellItemPtr GetFolder() override {
    return MakeItem(prompt_ ? prompt_->CurrentFolder() : current_.empty() ? folder_ : current_);
  }
  ShellItemPtr GetCurrentSelection() override { return prompt_ ? MakeItem(prompt_->Selection()) : nullptr; }
  void* NativeObject() const override { return nullptr; }

 private:
  std::string root_, result_, current_;
  std::vector<std::string> results_;
  PathPrompt* prompt_ = nullptr;
  std::optional<uint32_t> closeCode_;
};

// The window title comes first in the prompt, the hint after it.
class TerminalBrowserWindow : public BrowserWindow {
 public:
  TerminalBrowserWindow(PathPrompt& prompt, std::string hint) : prompt_(prompt), hint_(std::move(hint)) {}
  std::intptr_t Hwnd() override { return 0; }
  void SetText(const std::string& text) override { prompt_.SetTitle(hint_.empty() ? text : text + " : " + hint_); }
  void SetSelection(const std::string& path) override {
    if (IsDir(path)) prompt_.SetCurrentFolder(Normal(path));
  }
  void EnableOk(bool enable) override { okEnabled = enable; }
  bool okEnabled = true;

 private:
  PathPrompt& prompt_;
  std::string hint_;
};

// The user-directories of the desktop stand in for the special and known
// folders of Windows that have one.
std::string UserDir(const char* key, const char* fallbackName) {
  const std::string home = HomeFolder();
  const char* c = std::getenv("XDG_CONFIG_HOME");
  std::ifstream in((c && *c == '/' ? std::string(c) : home + "/.config") + "/user-dirs.dirs");
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    const std::string dir = XdgUserDirFromText(text.str(), key, home);
    if (!dir.empty()) return dir;
  }
  return fallbackName ? home + "/" + fallbackName : home;
}

class TerminalPlatform : public ChooserPlatform {
 public:
  int32_t Generation() override { return kModernGeneration; }
  char Separator() const override { return '/'; }
  bool IsPathText(const std::string& text) const override { return !text.empty() && text[0] == '/'; }
  std::string ProgramTitle() override {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    return fs::path(std::string(buf, static_cast<std::size_t>(n))).filename().string();
  }
  std::string SpecialFolderPath(int32_t csidl) override {
    switch (csidl & 0xFF) {
      case 0x00:  // desktop
      case 0x10:
        return UserDir("XDG_DESKTOP_DIR", "Desktop");
      case 0x05:  // documents
        return DocumentsFolder();
      case 0x0D:  // music
        return UserDir("XDG_MUSIC_DIR", nullptr);
      case 0x0E:  // videos
        return UserDir("XDG_VIDEOS_DIR", nullptr);
      case 0x27:  // pictures
        return UserDir("XDG_PICTURES_DIR", nullptr);
      case 0x28:  // profile
        return HomeFolder();
      default:
        return "";
    }
  }
  std::string KnownFolderPath(const std::string& guid) override {
    const std::string g = AsciiLower(guid);
    if (g == "{fdd39ad0-238f-46af-adb4-6c85480369c7}") return DocumentsFolder();
    if (g == "{b4bfcc3a-db2c-424c-b029-7fe99a87c641}") return UserDir("XDG_DESKTOP_DIR", "Desktop");
    if (g == "{374de290-123f-4565-9164-39c4925e467b}") return UserDir("XDG_DOWNLOAD_DIR", nullptr);
    if (g == "{4bd8d571-6d19-48d3-be97-422220080e43}") return UserDir("XDG_MUSIC_DIR", nullptr);
    if (g == "{33e28130-4e1e-4676-835a-98395c3bc3bb}") return UserDir("XDG_PICTURES_DIR", nullptr);
    if (g == "{18989b1d-99b5-455b-841c-ab7c74e4ddfc}") return UserDir("XDG_VIDEOS_DIR", nullptr);
    if (g == "{5e6c858f-0e22-4760-9afe-ea3317b67173}") return HomeFolder();
    return "";
  }
  std::string IdListPath(std::intptr_t) override { return ""; }
  ShellItemPtr CreateItemFromParsingName(const std::string& name) override { return MakeItem(name); }
  ShellItemPtr CreateItemFromIdList(std::intptr_t) override { return nullptr; }
  bool SetTemporaryDisplayName(const ShellItemPtr&, const std::string&) override { return false; }
  // The one system string the prompt shows (the default file type's
  // description), as a French system has it; the others are never shown here.
  std::string LoadLibraryString(const std::string& library, uint32_t id) override {
    return AsciiLower(library) == "shell32.dll" && id == 34193 ? "Tous les fichiers" : "";
  }
  std::unique_ptr<ItemDialog> CreateItemDialog(bool save) override {
    return std::make_unique<TerminalItemDialog>(save);
  }
  bool LegacyChooser(LegacyRecord&, bool, LegacyHookSink*) override { return false; }
  uint32_t CommDlgExtendedError() override { return kChooserDialogFailure; }
  bool PostLegacyCancel(std::intptr_t, int32_t) override { return false; }

  ShellItemPtr BrowseForFolder(BrowseRecord& record, BrowseSink* sink) override {
    PathPromptRequest request;
    request.kind = PathPromptRequest::Folder;
    request.title = record.hint;
    request.root = PathOf(record.root);
    PathPrompt prompt(request, TerminalChooserInput());
    TerminalBrowserWindow window(prompt, record.hint);
    if (sink) sink->OnBrowseNotify(window, 1, 0, nullptr, "");
    PathPromptHooks hooks;
    hooks.selectionChanged = [&] {
      if (sink) sink->OnBrowseNotify(window, 2, 0, MakeItem(prompt.Selection()), "");
    };
    hooks.fileOk = [&] { return window.okEnabled; };
    const uint32_t code = prompt.Run(hooks);
    if (code != 0) return nullptr;
    record.iconIndex = 0;
    return MakeItem(prompt.Result());
  }

  uint32_t GetLastError() override { return lastError_; }
  void SetLastError(uint32_t code) override { lastError_ = code; }

 private:
  static thread_local uint32_t lastError_;
};

thread_local uint32_t TerminalPlatform::lastError_ = 0;

}  // namespace

std::shared_ptr<ChooserPlatform> MakeNativeChooserPlatform() {
  auto terminal = std::make_shared<TerminalPlatform>();
  if (GtkFrontEndActive()) return MakeGtkChooserPlatform(terminal);
  return terminal;
}

}  // namespace qv
