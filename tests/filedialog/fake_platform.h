// A scripted Windows-like platform layer: records what the component sets on
// its dialogs and answers as a test says.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "filedialog/ChooserPlatform.h"
#include "filedialog/CmnDialogEx.h"

namespace qvtest {

using namespace qv;

struct FakeCustomize : DialogCustomize {
  std::vector<std::string> calls;
  std::map<uint32_t, bool> checks;
  std::map<uint32_t, uint32_t> selections;
  std::map<uint32_t, std::string> edits;
  bool failAll = false;
  bool Log(const std::string& c) {
    calls.push_back(c);
    return !failAll;
  }
  static std::string Id(uint32_t id) { return std::to_string(static_cast<int32_t>(id)); }
  bool StartVisualGroup(uint32_t id, const std::string& l) override { return Log("group " + Id(id) + " " + l); }
  bool EndVisualGroup() override { return Log("endgroup"); }
  bool EnableOpenDropDown(uint32_t id) override { return Log("dropdown " + Id(id)); }
  bool AddComboBox(uint32_t id) override { return Log("combo " + Id(id)); }
  bool AddRadioButtonList(uint32_t id) override { return Log("radio " + Id(id)); }
  bool AddCheckButton(uint32_t id, const std::string& l, bool c) override {
    checks[id] = c;
    return Log("check " + Id(id) + " " + l + (c ? " on" : " off"));
  }
  bool AddText(uint32_t id, const std::string& t) override { return Log("text " + Id(id) + " " + t); }
  bool AddSeparator(uint32_t id) override { return Log("sep " + Id(id)); }
  bool AddEditBox(uint32_t id, const std::string& t) override {
    edits[id] = t;
    return Log("edit " + Id(id) + " " + t);
  }
  bool AddMenu(uint32_t id, const std::string& l) override { return Log("menu " + Id(id) + " " + l); }
  bool AddPushButton(uint32_t id, const std::string& l) override { return Log("button " + Id(id) + " " + l); }
  bool AddControlItem(uint32_t id, uint32_t item, const std::string& l) override {
    return Log("item " + Id(id) + " " + std::to_string(item) + " " + l);
  }
  bool SetSelectedControlItem(uint32_t id, uint32_t item) override {
    selections[id] = item;
    return Log("select " + Id(id) + " " + std::to_string(item));
  }
  bool GetSelectedControlItem(uint32_t id, uint32_t& item) override {
    auto it = selections.find(id);
    if (it == selections.end()) return false;
    item = it->second;
    return true;
  }
  bool SetControlState(uint32_t id, uint32_t s) override { return Log("state " + Id(id) + " " + std::to_string(s)); }
  bool SetControlItemState(uint32_t id, uint32_t i, uint32_t s) override {
    return Log("itemstate " + Id(id) + " " + std::to_string(i) + " " + std::to_string(s));
  }
  bool MakeProminent(uint32_t id) override { return Log("prominent " + Id(id)); }
  bool SetControlLabel(uint32_t id, const std::string& l) override { return Log("label " + Id(id) + " " + l); }
  bool SetCheckButtonState(uint32_t id, bool c) override {
    checks[id] = c;
    return true;
  }
  bool GetCheckButtonState(uint32_t id, bool& c) override {
    auto it = checks.find(id);
    if (it == checks.end()) return false;
    c = it->second;
    return true;
  }
  bool SetEditBoxText(uint32_t id, const std::string& t) override {
    edits[id] = t;
    return true;
  }
  bool GetEditBoxText(uint32_t id, std::string& t) override {
    auto it = edits.find(id);
    if (it == edits.end()) return false;
    t = it->second;
    return true;
  }
};

struct FakePlatform;

// What one show did and how it ends.
struct DialogScript {
  uint32_t showResult = 0;                 // what Show answers
  std::vector<std::string> results;        // paths chosen
  uint32_t typeIndexAfter = 1;
  std::function<void(ItemDialogSink*)> duringShow;  // notifications to send
  bool customizable = true;
};

struct FakeItemDialog : ItemDialog {
  FakePlatform& p;
  bool save;
  std::vector<std::string> log;
  uint32_t options = 0x40;  // the dialog's own default options
  uint32_t typeIndex = 0;
  std::vector<std::pair<std::string, std::string>> types;
  std::string fileName, folder, title, defExt, clientGuid;
  ItemDialogSink* sink = nullptr;
  FakeCustomize customize;
  std::optional<uint32_t> closed;
  FakeItemDialog(FakePlatform& platform, bool s) : p(platform), save(s) {}
  ~FakeItemDialog() override;

  uint32_t GetOptions() override { return options; }
  void SetOptions(uint32_t o) override {
    options = o;
    log.push_back("options " + std::to_string(o));
  }
  void SetFileTypes(const std::vector<std::pair<std::string, std::string>>& t) override { types = t; }
  void SetFileTypeIndex(uint32_t i) override {
    typeIndex = i;
    log.push_back("typeindex " + std::to_string(i));
  }
  uint32_t GetFileTypeIndex() override;
  void AddPlace(const ShellItemPtr& item, bool top) override {
    log.push_back(std::string("place ") + (top ? "top " : "bottom ") +
                  item->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_));
  }
  void SetFileName(const std::string& n) override {
    fileName = n;
    log.push_back("filename " + n);
  }
  void SetFolder(const ShellItemPtr& f) override {
    folder = f->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_);
    log.push_back("folder " + folder);
  }
  void SetTitle(const std::string& t) override {
    title = t;
    log.push_back("title " + t);
  }
  void SetDefaultExtension(const std::string& e) override { defExt = e; }
  void SetOkButtonLabel(const std::string& l) override { log.push_back("oklabel " + l); }
  void SetFileNameLabel(const std::string& l) override { log.push_back("namelabel " + l); }
  bool SetCancelButtonLabel(const std::string& l) override {
    log.push_back("cancellabel " + l);
    return true;
  }
  bool SetNavigationRoot(const ShellItemPtr& r) override {
    log.push_back("root " + r->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_));
    return true;
  }
  bool SetClientGuid(const std::string& g) override {
    clientGuid = g;
    log.push_back("clientguid " + g);
    return true;
  }
  void ClearClientData() override;
  DialogCustomize* Customize() override;
  bool Advise(ItemDialogSink* s) override {
    sink = s;
    log.push_back("advise");
    return true;
  }
  void Unadvise() override {
    sink = nullptr;
    log.push_back("unadvise");
  }
  uint32_t Show(std::intptr_t owner) override;
  bool Close(uint32_t r) override {
    closed = r;
    return true;
  }
  ShellItemPtr GetResult() override;
  ShellItemArrayPtr GetResults() override;
  ShellItemPtr GetFolder() override { return std::make_shared<PathShellItem>(folder, '\\'); }
  ShellItemPtr GetCurrentSelection() override;
  ShellItemArrayPtr GetSelectedItems() override { return GetResults(); }
  std::intptr_t Hwnd() override { return 0x1234; }
  ShellObjectPtr FolderView() override { return std::make_shared<ShellObject>(); }
  bool GetViewMode(int32_t& m, int32_t& s) override {
    m = 4;
    s = 48;
    return true;
  }
  bool SetViewMode(int32_t m, int32_t s) override {
    log.push_back("viewmode " + std::to_string(m) + " " + std::to_string(s));
    return true;
  }
  void* NativeObject() const override { return nullptr; }
};

struct FakePlatform : ChooserPlatform {
  int32_t generation = 10;
  std::set<std::string> existing = {"C:\\data\\", "C:\\data", "D:\\x", "C:\\Users\\u\\Documents"};
  std::map<int32_t, std::string> special = {{5 | 0x1000, std::string("C:\\Users\\u\\Documents\0junk", 27)}};
  std::map<std::string, std::string> known = {{"{FDD39AD0-238F-46AF-ADB4-6C85480369C7}", "C:\\Users\\u\\Documents"}};
  std::string shellString;  // LoadLibraryString answer
  DialogScript script;
  FakeItemDialog* lastDialog = nullptr;
  std::vector<std::string> dialogLog;  // the log of the last dialog, kept after its release
  bool failCreate = false;
  uint32_t lastError = 0;
  std::vector<std::string> clearedClients;
  // Legacy chooser script.
  std::function<bool(LegacyRecord&, LegacyHookSink*)> legacy;
  uint32_t extendedError = 0;
  LegacyRecord lastLegacy;
  // Browser script.
  std::function<ShellItemPtr(BrowseRecord&, BrowseSink*)> browse;
  BrowseRecord lastBrowse;

  int32_t Generation() override { return generation; }
  char Separator() const override { return '\\'; }
  bool IsPathText(const std::string& t) const override {
    return t.find(':') != std::string::npos || t.compare(0, 2, "\\\\") == 0;
  }
  std::string ProgramTitle() override { return "TestApp"; }
  std::string SpecialFolderPath(int32_t csidl) override {
    auto it = special.find(csidl);
    return it == special.end() ? "" : it->second;
  }
  std::string KnownFolderPath(const std::string& g) override {
    auto it = known.find(g);
    return it == known.end() ? "" : it->second;
  }
  std::string IdListPath(std::intptr_t id) override { return id == 0x10000 ? "C:\\FromIdList" : ""; }
  ShellItemPtr CreateItemFromParsingName(const std::string& name) override {
    if (!existing.count(name)) return nullptr;
    return std::make_shared<PathShellItem>(name, '\\');
  }
  ShellItemPtr CreateItemFromIdList(std::intptr_t id) override {
    return id == 0x10000 ? std::make_shared<PathShellItem>("C:\\FromIdList", '\\') : nullptr;
  }
  std::vector<std::pair<std::string, std::string>> aliases;
  bool SetTemporaryDisplayName(const ShellItemPtr& item, const std::string& n) override {
    aliases.emplace_back(item->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_), n);
    return true;
  }
  std::string LoadLibraryString(const std::string&, uint32_t) override { return shellString; }
  std::unique_ptr<ItemDialog> CreateItemDialog(bool save) override {
    if (failCreate) return nullptr;
    auto d = std::make_unique<FakeItemDialog>(*this, save);
    lastDialog = d.get();
    return d;
  }
  bool LegacyChooser(LegacyRecord& r, bool, LegacyHookSink* hook) override {
    const bool ok = legacy ? legacy(r, hook) : false;
    lastLegacy = r;
    return ok;
  }
  uint32_t CommDlgExtendedError() override { return extendedError; }
  std::vector<std::pair<std::intptr_t, int32_t>> posted;
  bool PostLegacyCancel(std::intptr_t d, int32_t c) override {
    posted.emplace_back(d, c);
    return true;
  }
  ShellItemPtr BrowseForFolder(BrowseRecord& r, BrowseSink* sink) override {
    lastBrowse = r;
    ShellItemPtr item = browse ? browse(r, sink) : nullptr;
    lastBrowse = r;
    return item;
  }
  uint32_t GetLastError() override { return lastError; }
  void SetLastError(uint32_t c) override { lastError = c; }
};

inline FakeItemDialog::~FakeItemDialog() {
  p.dialogLog = log;
  if (p.lastDialog == this) p.lastDialog = nullptr;
}
inline uint32_t FakeItemDialog::GetFileTypeIndex() { return typeIndex; }
inline void FakeItemDialog::ClearClientData() { p.clearedClients.push_back(clientGuid); }
inline DialogCustomize* FakeItemDialog::Customize() { return p.script.customizable ? &customize : nullptr; }
inline uint32_t FakeItemDialog::Show(std::intptr_t) {
  log.push_back("show");
  if (sink) sink->OnTypeChange();
  if (p.script.duringShow) p.script.duringShow(sink);
  if (closed) return *closed;
  if (p.script.showResult == 0) typeIndex = p.script.typeIndexAfter;
  return p.script.showResult;
}
inline ShellItemPtr FakeItemDialog::GetResult() {
  if (p.script.results.empty()) return nullptr;
  return std::make_shared<PathShellItem>(p.script.results.front(), '\\');
}
inline ShellItemArrayPtr FakeItemDialog::GetResults() {
  auto list = std::make_shared<ShellItemList>();
  for (const auto& r : p.script.results) list->Add(std::make_shared<PathShellItem>(r, '\\'));
  return list;
}
inline ShellItemPtr FakeItemDialog::GetCurrentSelection() { return GetResult(); }

}  // namespace qvtest
