// Shell objects as the chooser hands them out: an item (a file, a folder or a
// namespace object), an array of items, or any other platform object (a folder
// view, a stream). On Windows they wrap the COM interfaces; elsewhere a shell
// item is simply a path of the file system.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace qv {

// Names an item can give of itself (the platform's SIGDN values).
constexpr uint32_t SIGDN_NORMALDISPLAY_ = 0x00000000;
constexpr uint32_t SIGDN_DESKTOPABSOLUTEPARSING_ = 0x80028000;
constexpr uint32_t SIGDN_DESKTOPABSOLUTEEDITING_ = 0x8004C000;
constexpr uint32_t SIGDN_FILESYSPATH_ = 0x80058000;

// Item attributes (SFGAO bits) reported by IShellItem_Action 0.
constexpr uint32_t SFGAO_STREAM_ = 0x00400000;
constexpr uint32_t SFGAO_FOLDER_ = 0x20000000;
constexpr uint32_t SFGAO_FILESYSTEM_ = 0x40000000;

class ShellObject {
 public:
  virtual ~ShellObject() = default;
  // The platform interface behind the object (IUnknown* on Windows), or null.
  virtual void* NativeObject() const { return nullptr; }
};
using ShellObjectPtr = std::shared_ptr<ShellObject>;

// What IShellItem_Action binds an item to.
enum class ShellBinding { Stream = 2, Storage = 3, DataObject = 4 };

class ShellItem : public ShellObject {
 public:
  // The item's name in the given SIGDN form; "" when it has none.
  virtual std::string DisplayName(uint32_t sigdn) const = 0;
  virtual uint32_t Attributes(uint32_t mask) const = 0;
  virtual std::shared_ptr<ShellItem> Parent() const = 0;
  // A handler object for the item, or null when the item offers none.
  virtual ShellObjectPtr Bind(ShellBinding) const { return nullptr; }
  // The names of the item's dropped-file list (its data object), if any.
  virtual std::vector<std::string> DroppedFiles() const { return {}; }
};
using ShellItemPtr = std::shared_ptr<ShellItem>;

// The path an item stands for ("" for none).
inline std::string PathOf(const ShellItemPtr& item) {
  return item ? item->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_) : std::string();
}

class ShellItemArray : public ShellObject {
 public:
  virtual int32_t Count() const = 0;
  virtual ShellItemPtr At(int32_t index) const = 0;
};
using ShellItemArrayPtr = std::shared_ptr<ShellItemArray>;

// A file-system path as a shell item: the only kind of item off Windows, and
// what tests use everywhere. `separator` is the platform's path separator.
class PathShellItem : public ShellItem {
 public:
  explicit PathShellItem(std::string path, char separator = '/')
      : path_(std::move(path)), sep_(separator) {}
  const std::string& Path() const { return path_; }
  std::string DisplayName(uint32_t sigdn) const override;
  uint32_t Attributes(uint32_t mask) const override;
  ShellItemPtr Parent() const override;

 private:
  std::string path_;
  char sep_;
};

// A plain list of items.
class ShellItemList : public ShellItemArray {
 public:
  ShellItemList() = default;
  explicit ShellItemList(std::vector<ShellItemPtr> items) : items_(std::move(items)) {}
  int32_t Count() const override { return static_cast<int32_t>(items_.size()); }
  ShellItemPtr At(int32_t index) const override {
    return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)] : nullptr;
  }
  void Add(ShellItemPtr item) { items_.push_back(std::move(item)); }
  const std::vector<ShellItemPtr>& Items() const { return items_; }

 private:
  std::vector<ShellItemPtr> items_;
};

// A value naming a folder as callers give it to SetRootFolder and
// SetNavFolders: missing, a text (path, "::{class}", "{known-folder GUID}"),
// a number (special-folder number 0..255, otherwise an item-identifier list
// address), or an object (a shell item).
using ChooserValue = std::variant<std::monostate, std::string, std::intptr_t, ShellObjectPtr>;

}  // namespace qv
