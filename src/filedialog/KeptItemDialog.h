// What the item dialogs of our own choosers (GTK, terminal) do alike: they
// keep the settings the component makes for the dialog they show later, and
// have no window handle, folder view or view modes of their own.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filedialog/ChooserPlatform.h"

namespace qv {

class KeptItemDialog : public ItemDialog {
 public:
  explicit KeptItemDialog(bool save) : save_(save) {}

  uint32_t GetOptions() override { return options_; }
  void SetOptions(uint32_t options) override { options_ = options; }
  void SetFileTypes(const std::vector<std::pair<std::string, std::string>>& types) override { types_ = types; }
  void SetFileTypeIndex(uint32_t index) override { typeIndex_ = index; }
  // 1-based; the first type when the one set is out of range.
  uint32_t GetFileTypeIndex() override {
    if (types_.empty()) return 0;
    return typeIndex_ < 1 || typeIndex_ > types_.size() ? 1 : typeIndex_;
  }
  void SetFileName(const std::string& name) override { fileName_ = name; }
  void SetFolder(const ShellItemPtr& folder) override { folder_ = PathOf(folder); }
  void SetTitle(const std::string& title) override { title_ = title; }
  void SetDefaultExtension(const std::string& ext) override { defaultExt_ = ext; }
  void SetFileNameLabel(const std::string&) override {}
  bool SetClientGuid(const std::string&) override { return true; }
  void ClearClientData() override {}
  DialogCustomize* Customize() override { return nullptr; }
  bool Advise(ItemDialogSink* sink) override {
    sink_ = sink;
    return true;
  }
  void Unadvise() override { sink_ = nullptr; }
  // Open dialogs choose one item at a time: the selection is all of it.
  ShellItemArrayPtr GetSelectedItems() override {
    ShellItemPtr item = GetCurrentSelection();
    if (save_ || !item) return nullptr;
    return std::make_shared<ShellItemList>(std::vector<ShellItemPtr>{item});
  }
  std::intptr_t Hwnd() override { return 0; }
  ShellObjectPtr FolderView() override { return nullptr; }
  bool GetViewMode(int32_t&, int32_t&) override { return false; }
  bool SetViewMode(int32_t, int32_t) override { return false; }

 protected:
  const bool save_;
  uint32_t options_ = 0, typeIndex_ = 0;
  std::vector<std::pair<std::string, std::string>> types_;
  std::string fileName_, folder_, title_, defaultExt_;
  ItemDialogSink* sink_ = nullptr;
};

}  // namespace qv
