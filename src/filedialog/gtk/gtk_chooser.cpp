#include "filedialog/gtk/gtk_chooser.h"

#include <gtk/gtk.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "filedialog/CmnDialogEx.h"
#include "filedialog/KeptItemDialog.h"
#include "support/eventloop.h"
#include "support/text.h"

namespace fs = std::filesystem;

namespace qv {
namespace {

bool Exists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::exists(path, ec);
}

bool IsDir(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

std::string FilePath(GFile* file) {
  if (!file) return {};
  char* p = g_file_get_path(file);
  std::string s = p ? p : "";
  g_free(p);
  return s;
}

// One filter of the chooser from a file type of the component ("*.zip;*.jar").
// A plain "*.ext" becomes a suffix, which GTK matches whatever the case, as
// names match their patterns on Windows.
GtkFileFilter* FilterOf(const std::pair<std::string, std::string>& type) {
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, type.first.c_str());
  std::stringstream patterns(type.second);
  std::string pattern;
  while (std::getline(patterns, pattern, ';')) {
    pattern = TrimBlanks(pattern);
    if (pattern.empty()) continue;
    if (pattern == "*" || pattern == "*.*") {
      gtk_file_filter_add_pattern(filter, "*");
    } else if (pattern.compare(0, 2, "*.") == 0 &&
               pattern.find_first_of("*?[", 2) == std::string::npos) {
      gtk_file_filter_add_suffix(filter, pattern.c_str() + 2);
    } else {
      gtk_file_filter_add_pattern(filter, pattern.c_str());
    }
  }
  return filter;
}

class GtkItemDialog : public KeptItemDialog {
 public:
  GtkItemDialog(bool save, ChooserPlatform& base) : KeptItemDialog(save), base_(base) {}
  ~GtkItemDialog() override { Drop(); }

  void AddPlace(const ShellItemPtr& item, bool) override {
    if (IsDir(PathOf(item))) places_.push_back(PathOf(item));
  }
  void SetOkButtonLabel(const std::string& label) override { okLabel_ = label; }
  bool SetCancelButtonLabel(const std::string& label) override {
    cancelLabel_ = label;
    return true;
  }
  bool SetNavigationRoot(const ShellItemPtr&) override { return false; }

  uint32_t Show(std::intptr_t) override {
    const bool folders = !save_ && (options_ & FOS_PICKFOLDERS_);
    const bool mustExist = !save_ && (options_ & OFN_FILEMUSTEXIST_);
    closeCode_.reset();
    std::string start = IsDir(folder_) ? folder_ : std::string();
    for (;;) {
      const GtkFileChooserAction action = folders ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                          : save_ ? GTK_FILE_CHOOSER_ACTION_SAVE
                                                  : GTK_FILE_CHOOSER_ACTION_OPEN;
      const std::string title = !title_.empty() ? title_
                                : folders       ? "Sélectionner un dossier"
                                : save_         ? "Enregistrer sous"
                                                : "Ouvrir";
      const std::string accept = !okLabel_.empty() ? okLabel_
                                 : folders         ? "_Sélectionner"
                                 : save_           ? "_Enregistrer"
                                                   : "_Ouvrir";
      const std::string cancel = !cancelLabel_.empty() ? cancelLabel_ : "_Annuler";
      native_ = gtk_file_chooser_native_new(title.c_str(), nullptr, action, accept.c_str(), cancel.c_str());
      gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native_), TRUE);
      GtkFileChooser* chooser = GTK_FILE_CHOOSER(native_);
      if (!start.empty()) {
        GFile* dir = g_file_new_for_path(start.c_str());
        gtk_file_chooser_set_current_folder(chooser, dir, nullptr);
        g_object_unref(dir);
      }
      for (const auto& place : places_) {
        GFile* dir = g_file_new_for_path(place.c_str());
        gtk_file_chooser_add_shortcut_folder(chooser, dir, nullptr);
        g_object_unref(dir);
      }
      if (!folders) {
        std::vector<GtkFileFilter*> filters;
        for (const auto& type : types_) {
          GtkFileFilter* f = FilterOf(type);
          gtk_file_chooser_add_filter(chooser, f);
          filters.push_back(f);
          g_object_unref(f);
        }
        if (!filters.empty()) gtk_file_chooser_set_filter(chooser, filters[GetFileTypeIndex() - 1]);
      }
      if (save_ && !fileName_.empty()) gtk_file_chooser_set_current_name(chooser, fileName_.c_str());

      response_.reset();
      g_signal_connect(native_, "response", G_CALLBACK(+[](GtkNativeDialog*, int response, GtkItemDialog* self) {
                         self->response_ = response;
                       }),
                       this);
      gtk_native_dialog_show(GTK_NATIVE_DIALOG(native_));
      if (sink_) sink_->OnTypeChange();  // the dialog is up
      while (!response_ && !closeCode_) Loop().ProcessEvents(EventLoop::kWaitForever);
      if (closeCode_) {
        Drop();
        return *closeCode_;
      }
      std::string path;
      if (*response_ == GTK_RESPONSE_ACCEPT) {
        GFile* file = gtk_file_chooser_get_file(chooser);
        path = FilePath(file);
        if (file) g_object_unref(file);
        GFile* current = gtk_file_chooser_get_current_folder(chooser);
        current_ = FilePath(current);
        if (current) g_object_unref(current);
        if (GtkFileFilter* f = gtk_file_chooser_get_filter(chooser)) {
          GListModel* all = gtk_file_chooser_get_filters(chooser);
          for (guint i = 0; i < g_list_model_get_n_items(all); ++i) {
            GObject* item = static_cast<GObject*>(g_list_model_get_item(all, i));
            if (item == G_OBJECT(f)) typeIndex_ = i + 1;
            g_object_unref(item);
          }
          g_object_unref(all);
        }
      }
      Drop();
      if (path.empty()) return kChooserCancelled;
      // A name typed without an extension takes the default one, as the
      // platform's chooser completes it.
      if (!folders && !defaultExt_.empty() && fs::path(path).filename().string().find('.') == std::string::npos &&
          !Exists(path))
        path += "." + defaultExt_;
      if ((mustExist && !Exists(path)) || (folders && !IsDir(path))) {
        start = IsDir(fs::path(path).parent_path().string()) ? fs::path(path).parent_path().string() : start;
        continue;  // asked again, as the platform's chooser refuses such a name
      }
      selection_ = path;
      if (sink_) {
        sink_->OnSelectionChange();
        if (sink_->OnFileOk() != 0) {
          start = current_.empty() ? start : current_;
          continue;
        }
      }
      result_ = path;
      return 0;
    }
  }
  bool Close(uint32_t result) override {
    if (!native_) return false;
    closeCode_ = result;
    gtk_native_dialog_hide(GTK_NATIVE_DIALOG(native_));
    return true;
  }
  ShellItemPtr GetResult() override { return ItemOf(result_); }
  ShellItemArrayPtr GetResults() override {
    if (save_ || result_.empty()) return nullptr;
    return std::make_shared<ShellItemList>(std::vector<ShellItemPtr>{ItemOf(result_)});
  }
  ShellItemPtr GetFolder() override {
    return base_.CreateItemFromParsingName(current_.empty() ? folder_ : current_);
  }
  ShellItemPtr GetCurrentSelection() override { return selection_.empty() ? nullptr : ItemOf(selection_); }
  void* NativeObject() const override { return native_; }

 private:
  ShellItemPtr ItemOf(const std::string& path) {
    if (path.empty()) return nullptr;
    if (ShellItemPtr item = base_.CreateItemFromParsingName(path)) return item;
    return std::make_shared<PathShellItem>(path, '/');  // a file to save need not exist yet
  }
  void Drop() {
    if (!native_) return;
    g_signal_handlers_disconnect_matched(native_, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this);
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(native_));
    g_object_unref(native_);
    native_ = nullptr;
  }

  ChooserPlatform& base_;
  std::vector<std::string> places_;
  std::string okLabel_, cancelLabel_;
  std::string result_, selection_, current_;
  GtkFileChooserNative* native_ = nullptr;
  std::optional<int> response_;
  std::optional<uint32_t> closeCode_;
};

class GtkChooserPlatform : public ChooserPlatform {
 public:
  explicit GtkChooserPlatform(std::shared_ptr<ChooserPlatform> base) : base_(std::move(base)) {}
  int32_t Generation() override { return base_->Generation(); }
  char Separator() const override { return base_->Separator(); }
  bool IsPathText(const std::string& text) const override { return base_->IsPathText(text); }
  std::string ProgramTitle() override { return base_->ProgramTitle(); }
  std::string SpecialFolderPath(int32_t csidl) override { return base_->SpecialFolderPath(csidl); }
  std::string KnownFolderPath(const std::string& guid) override { return base_->KnownFolderPath(guid); }
  std::string IdListPath(std::intptr_t idList) override { return base_->IdListPath(idList); }
  ShellItemPtr CreateItemFromParsingName(const std::string& name) override {
    return base_->CreateItemFromParsingName(name);
  }
  ShellItemPtr CreateItemFromIdList(std::intptr_t idList) override { return base_->CreateItemFromIdList(idList); }
  ShellItemPtr ItemFromObject(const ShellObjectPtr& object) override { return base_->ItemFromObject(object); }
  ShellItemArrayPtr ArrayFromObject(const ShellObjectPtr& object) override {
    return base_->ArrayFromObject(object);
  }
  bool SetTemporaryDisplayName(const ShellItemPtr& item, const std::string& name) override {
    return base_->SetTemporaryDisplayName(item, name);
  }
  std::string LoadLibraryString(const std::string& library, uint32_t id) override {
    return base_->LoadLibraryString(library, id);
  }
  std::unique_ptr<ItemDialog> CreateItemDialog(bool save) override {
    return std::make_unique<GtkItemDialog>(save, *base_);
  }
  bool LegacyChooser(LegacyRecord& record, bool save, LegacyHookSink* hook) override {
    return base_->LegacyChooser(record, save, hook);
  }
  uint32_t CommDlgExtendedError() override { return base_->CommDlgExtendedError(); }
  bool PostLegacyCancel(std::intptr_t dialog, int32_t exitCode) override {
    return base_->PostLegacyCancel(dialog, exitCode);
  }
  ShellItemPtr BrowseForFolder(BrowseRecord& record, BrowseSink* sink) override {
    return base_->BrowseForFolder(record, sink);
  }
  uint32_t GetLastError() override { return base_->GetLastError(); }
  void SetLastError(uint32_t code) override { base_->SetLastError(code); }

 private:
  std::shared_ptr<ChooserPlatform> base_;
};

}  // namespace

std::shared_ptr<ChooserPlatform> MakeGtkChooserPlatform(std::shared_ptr<ChooserPlatform> base) {
  return std::make_shared<GtkChooserPlatform>(std::move(base));
}

}  // namespace qv
