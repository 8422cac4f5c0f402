// The Windows layer of the chooser: the shell's item dialogs and their
// customisation and events, the legacy choosers with their hook, the folder
// browser, special and known folders. It only translates: every decision is
// made by the portable part (CmnDialogEx.cpp).
#include <windows.h>
// clang-format off
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <shlwapi.h>
#include <commctrl.h>
#include <propidl.h>
// clang-format on

#include <memory>
#include <string>

#include "filedialog/ChooserPlatform.h"
#include "filedialog/CmnDialogEx.h"
#include "support/text.h"

namespace qv {

namespace {

// Identifiers the component uses, spelled out so that no GUID library is needed.
constexpr GUID kClsidFileOpenDialog = {0xDC1C5A9C, 0xE88A, 0x4dde, {0xA5, 0xA1, 0x60, 0xF8, 0x2A, 0x20, 0xAE, 0xF7}};
constexpr GUID kIidFileOpenDialog = {0xD57C7288, 0xD4AD, 0x4768, {0xBE, 0x02, 0x9D, 0x96, 0x95, 0x32, 0xD9, 0x60}};
constexpr GUID kClsidFileSaveDialog = {0xC0B4E2F3, 0xBA21, 0x4773, {0x8D, 0xBA, 0x33, 0x5E, 0xC9, 0x46, 0xEB, 0x8B}};
constexpr GUID kIidFileSaveDialog = {0x84bccd23, 0x5fde, 0x4cdb, {0xae, 0xa4, 0xaf, 0x64, 0xb8, 0x3d, 0x78, 0xab}};
constexpr GUID kIidFileDialog = {0x42f85136, 0xdb7e, 0x439c, {0x85, 0xf1, 0xe4, 0x07, 0x5d, 0x13, 0x5f, 0xc8}};
constexpr GUID kIidFileDialog2 = {0x61744FC7, 0x85B5, 0x4791, {0xA9, 0xB0, 0x27, 0x22, 0x76, 0x30, 0x9B, 0x13}};
constexpr GUID kIidFileDialogCustomize = {0x8016b7b3, 0x3d49, 0x4504, {0xa0, 0xaa, 0x2a, 0x37, 0x49, 0x4e, 0x60, 0x6f}};
constexpr GUID kIidFileDialogEvents = {0x973510db, 0x7d7f, 0x452b, {0x89, 0x75, 0x74, 0xa8, 0x58, 0x28, 0xd3, 0x54}};
constexpr GUID kIidFileDialogControlEvents = {0x36116642, 0xD713, 0x4b97, {0x9B, 0x83, 0x74, 0x84, 0xA9, 0xD0, 0x04, 0x33}};
constexpr GUID kIidShellItem = {0x43826D1E, 0xE718, 0x42EE, {0xBC, 0x55, 0xA1, 0xE2, 0x61, 0xC3, 0x7B, 0xFE}};
constexpr GUID kIidShellItemArray = {0xB63EA76D, 0x1F85, 0x456F, {0xA1, 0x9C, 0x48, 0x15, 0x9E, 0xFA, 0x85, 0x8B}};
constexpr GUID kIidOleWindow = {0x00000114, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIidServiceProvider = {0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
constexpr GUID kSidFolderView = {0xCDE725B0, 0xCCC9, 0x4519, {0x91, 0x7E, 0x32, 0x5D, 0x72, 0xFA, 0xB4, 0xCE}};
constexpr GUID kIidFolderView2 = {0x1AF3A467, 0x214F, 0x4298, {0x90, 0x8E, 0x06, 0xB0, 0x3E, 0x0B, 0x39, 0xF9}};
constexpr GUID kBhidStream = {0x1CEBB3AB, 0x7C10, 0x499a, {0xA4, 0x17, 0x92, 0xCA, 0x16, 0xC4, 0xCB, 0x83}};
constexpr GUID kIidStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIidParentAndItem = {0xB3A4B685, 0xB685, 0x4805, {0x99, 0xD9, 0x5D, 0xEA, 0xD2, 0x87, 0x32, 0x36}};
constexpr GUID kIidStorage = {0x0000000b, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kBhidDataObject = {0xB8C0BD9F, 0xED24, 0x455C, {0x83, 0xE6, 0xD5, 0x39, 0x0C, 0x4F, 0xE8, 0xC4}};
constexpr GUID kIidDataObject = {0x0000010E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr PROPERTYKEY kItemNameDisplay = {{0xB725F130, 0x47EF, 0x101A, {0xA5, 0xF1, 0x02, 0x60, 0x8C, 0x9E, 0xEB, 0xAC}}, 10};

std::wstring Wide(const std::string& utf8) {
  const std::u16string u = Utf8ToUtf16(utf8);
  return std::wstring(u.begin(), u.end());
}

std::string Narrow(const wchar_t* text, std::size_t length) {
  return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text), length));
}

std::string Narrow(const wchar_t* text) { return text ? Narrow(text, wcslen(text)) : std::string(); }

// Copies and frees a name buffer received from the platform.
std::string TakeCoString(wchar_t* text) {
  std::string s = Narrow(text);
  if (text) CoTaskMemFree(text);
  return s;
}

template <class T>
struct ComPtr {
  T* p = nullptr;
  ComPtr() = default;
  explicit ComPtr(T* raw) : p(raw) {}
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { Reset(); }
  void Reset() {
    if (p) p->Release();
    p = nullptr;
  }
  T** Out() {
    Reset();
    return &p;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

// A COM object of the platform as a shell object of the component.
class WinObject : public ShellObject {
 public:
  explicit WinObject(IUnknown* unknown) : unknown_(unknown) {}  // takes the reference
  ~WinObject() override {
    if (unknown_) unknown_->Release();
  }
  void* NativeObject() const override { return unknown_; }

 private:
  IUnknown* unknown_;
};

class WinItem : public ShellItem {
 public:
  explicit WinItem(IShellItem* item) : item_(item) {}  // takes the reference
  ~WinItem() override {
    if (item_) item_->Release();
  }
  void* NativeObject() const override { return item_; }
  IShellItem* Item() const { return item_; }

  std::string DisplayName(uint32_t sigdn) const override {
    wchar_t* name = nullptr;
    if (FAILED(item_->GetDisplayName(static_cast<SIGDN>(sigdn), &name))) return "";
    return TakeCoString(name);
  }
  uint32_t Attributes(uint32_t mask) const override {
    SFGAOF attributes = 0;
    if (FAILED(item_->GetAttributes(mask, &attributes))) return 0;
    return attributes;
  }
  ShellItemPtr Parent() const override {
    IShellItem* parent = nullptr;
    if (FAILED(item_->GetParent(&parent)) || !parent) return nullptr;
    return std::make_shared<WinItem>(parent);
  }
  ShellObjectPtr Bind(ShellBinding binding) const override {
    void* out = nullptr;
    switch (binding) {
      case ShellBinding::Stream:
        if (SUCCEEDED(item_->BindToHandler(nullptr, kBhidStream, kIidStream, &out)) && out)
          return std::make_shared<WinObject>(static_cast<IUnknown*>(out));
        return nullptr;
      case ShellBinding::DataObject:
        if (SUCCEEDED(item_->BindToHandler(nullptr, kBhidDataObject, kIidDataObject, &out)) && out)
          return std::make_shared<WinObject>(static_cast<IUnknown*>(out));
        return nullptr;
      case ShellBinding::Storage: {
        ComPtr<IParentAndItem> parentAndItem;
        if (FAILED(item_->QueryInterface(kIidParentAndItem, parentAndItem.OutVoid()))) return nullptr;
        PIDLIST_ABSOLUTE parentList = nullptr;
        ComPtr<IShellFolder> folder;
        PITEMID_CHILD child = nullptr;
        if (FAILED(parentAndItem->GetParentAndItem(&parentList, folder.Out(), &child))) return nullptr;
        if (parentList) CoTaskMemFree(parentList);
        HRESULT hr = E_FAIL;
        if (folder && child) hr = folder->BindToStorage(child, nullptr, kIidStorage, &out);
        if (child) CoTaskMemFree(child);
        if (SUCCEEDED(hr) && out) return std::make_shared<WinObject>(static_cast<IUnknown*>(out));
        return nullptr;
      }
    }
    return nullptr;
  }
  std::vector<std::string> DroppedFiles() const override {
    ComPtr<IDataObject> data;
    if (FAILED(item_->BindToHandler(nullptr, kBhidDataObject, kIidDataObject, data.OutVoid())) || !data) return {};
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (FAILED(data->GetData(&format, &medium))) return {};
    std::vector<std::string> names;
    if (HDROP drop = static_cast<HDROP>(GlobalLock(medium.hGlobal))) {
      const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
      if (length > 0) {
        std::wstring name(length + 1, L'\0');
        DragQueryFileW(drop, 0, name.data(), length + 1);
        names.push_back(Narrow(name.c_str(), length));
      }
      GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
    return names;
  }

 private:
  IShellItem* item_;
};

class WinItemArray : public ShellItemArray {
 public:
  explicit WinItemArray(IShellItemArray* array) : array_(array) {}
  ~WinItemArray() override {
    if (array_) array_->Release();
  }
  void* NativeObject() const override { return array_; }
  int32_t Count() const override {
    DWORD count = 0;
    return SUCCEEDED(array_->GetCount(&count)) ? static_cast<int32_t>(count) : 0;
  }
  ShellItemPtr At(int32_t index) const override {
    IShellItem* item = nullptr;
    if (index < 0 || FAILED(array_->GetItemAt(static_cast<DWORD>(index), &item)) || !item) return nullptr;
    return std::make_shared<WinItem>(item);
  }

 private:
  IShellItemArray* array_;
};

// The native item of a component item (made from its name when it is not one
// of ours); the caller releases it.
IShellItem* NativeItem(const ShellItemPtr& item) {
  if (!item) return nullptr;
  if (auto* native = static_cast<IUnknown*>(item->NativeObject())) {
    IShellItem* out = nullptr;
    if (SUCCEEDED(native->QueryInterface(kIidShellItem, reinterpret_cast<void**>(&out)))) return out;
  }
  IShellItem* out = nullptr;
  const std::wstring name = Wide(item->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_));
  if (FAILED(SHCreateItemFromParsingName(name.c_str(), nullptr, kIidShellItem, reinterpret_cast<void**>(&out))))
    return nullptr;
  return out;
}

// ---- customisation -------------------------------------------------------------

class WinCustomize : public DialogCustomize {
 public:
  explicit WinCustomize(IFileDialogCustomize* c) : c_(c) {}
  ~WinCustomize() override {
    if (c_) c_->Release();
  }
  bool StartVisualGroup(uint32_t id, const std::string& l) override {
    return SUCCEEDED(c_->StartVisualGroup(id, Wide(l).c_str()));
  }
  bool EndVisualGroup() override { return SUCCEEDED(c_->EndVisualGroup()); }
  bool EnableOpenDropDown(uint32_t id) override { return SUCCEEDED(c_->EnableOpenDropDown(id)); }
  bool AddComboBox(uint32_t id) override { return SUCCEEDED(c_->AddComboBox(id)); }
  bool AddRadioButtonList(uint32_t id) override { return SUCCEEDED(c_->AddRadioButtonList(id)); }
  bool AddCheckButton(uint32_t id, const std::string& l, bool checked) override {
    return SUCCEEDED(c_->AddCheckButton(id, Wide(l).c_str(), checked ? TRUE : FALSE));
  }
  bool AddText(uint32_t id, const std::string& t) override { return SUCCEEDED(c_->AddText(id, Wide(t).c_str())); }
  bool AddSeparator(uint32_t id) override { return SUCCEEDED(c_->AddSeparator(id)); }
  bool AddEditBox(uint32_t id, const std::string& t) override { return SUCCEEDED(c_->AddEditBox(id, Wide(t).c_str())); }
  bool AddMenu(uint32_t id, const std::string& l) override { return SUCCEEDED(c_->AddMenu(id, Wide(l).c_str())); }
  bool AddPushButton(uint32_t id, const std::string& l) override {
    return SUCCEEDED(c_->AddPushButton(id, Wide(l).c_str()));
  }
  bool AddControlItem(uint32_t id, uint32_t item, const std::string& l) override {
    return SUCCEEDED(c_->AddControlItem(id, item, Wide(l).c_str()));
  }
  bool SetSelectedControlItem(uint32_t id, uint32_t item) override {
    return SUCCEEDED(c_->SetSelectedControlItem(id, item));
  }
  bool GetSelectedControlItem(uint32_t id, uint32_t& item) override {
    DWORD value = 0;
    if (FAILED(c_->GetSelectedControlItem(id, &value))) return false;
    item = value;
    return true;
  }
  bool SetControlState(uint32_t id, uint32_t state) override {
    return SUCCEEDED(c_->SetControlState(id, static_cast<CDCONTROLSTATEF>(state)));
  }
  bool SetControlItemState(uint32_t id, uint32_t item, uint32_t state) override {
    return SUCCEEDED(c_->SetControlItemState(id, item, static_cast<CDCONTROLSTATEF>(state)));
  }
  bool MakeProminent(uint32_t id) override { return SUCCEEDED(c_->MakeProminent(id)); }
  bool SetControlLabel(uint32_t id, const std::string& l) override {
    return SUCCEEDED(c_->SetControlLabel(id, Wide(l).c_str()));
  }
  bool SetCheckButtonState(uint32_t id, bool checked) override {
    return SUCCEEDED(c_->SetCheckButtonState(id, checked ? TRUE : FALSE));
  }
  bool GetCheckButtonState(uint32_t id, bool& checked) override {
    BOOL value = FALSE;
    if (FAILED(c_->GetCheckButtonState(id, &value))) return false;
    checked = value != FALSE;
    return true;
  }
  bool SetEditBoxText(uint32_t id, const std::string& t) override {
    return SUCCEEDED(c_->SetEditBoxText(id, Wide(t).c_str()));
  }
  bool GetEditBoxText(uint32_t id, std::string& t) override {
    WCHAR* text = nullptr;
    if (FAILED(c_->GetEditBoxText(id, &text))) return false;
    t = TakeCoString(text);
    return true;
  }

 private:
  IFileDialogCustomize* c_;
};

// ---- events sink -------------------------------------------------------------------

// Forwards the dialog's notifications to the component; no exception may
// cross back into the platform.
class EventsSink : public IFileDialogEvents, public IFileDialogControlEvents {
 public:
  explicit EventsSink(ItemDialogSink* sink) : sink_(sink) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, kIidUnknown) || IsEqualIID(riid, kIidFileDialogEvents)) {
      *out = static_cast<IFileDialogEvents*>(this);
    } else if (IsEqualIID(riid, kIidFileDialogControlEvents)) {
      *out = static_cast<IFileDialogControlEvents*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  void Detach() { sink_ = nullptr; }

  HRESULT STDMETHODCALLTYPE OnFileOk(IFileDialog*) override {
    return Guard([&] { return sink_->OnFileOk() == 0 ? S_OK : S_FALSE; }, S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnFolderChanging(IFileDialog*, IShellItem* folder) override {
    // A refusal has to be a failure code for the dialog to stay where it is.
    return Guard([&] { return sink_->OnFolderChanging(Wrap(folder)) == 0 ? S_OK : E_ABORT; }, S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnFolderChange(IFileDialog*) override {
    return Guard([&] { return sink_->OnFolderChange(), S_OK; }, S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnSelectionChange(IFileDialog*) override {
    return Guard([&] { return sink_->OnSelectionChange(), S_OK; }, S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnShareViolation(IFileDialog*, IShellItem* item,
                                             FDE_SHAREVIOLATION_RESPONSE* response) override {
    return Guard(
        [&] {
          const int32_t r = sink_->OnShareViolation(Wrap(item));
          if (response) *response = static_cast<FDE_SHAREVIOLATION_RESPONSE>(r);
          return S_OK;
        },
        S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnTypeChange(IFileDialog*) override {
    return Guard([&] { return sink_->OnTypeChange(), S_OK; }, S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnOverwrite(IFileDialog*, IShellItem* item, FDE_OVERWRITE_RESPONSE* response) override {
    return Guard(
        [&] {
          const int32_t r = sink_->OnOverwrite(Wrap(item));
          if (response) *response = static_cast<FDE_OVERWRITE_RESPONSE>(r);
          return S_OK;
        },
        S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnItemSelected(IFileDialogCustomize*, DWORD id, DWORD item) override {
    return Guard([&] { return sink_->OnItemSelected(id, item), S_OK; }, S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnButtonClicked(IFileDialogCustomize*, DWORD id) override {
    return Guard([&] { return sink_->OnButtonClicked(id), S_OK; }, S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnCheckButtonToggled(IFileDialogCustomize*, DWORD id, BOOL checked) override {
    return Guard([&] { return sink_->OnCheckButtonToggled(id, checked != FALSE), S_OK; }, S_OK);
  }
  HRESULT STDMETHODCALLTYPE OnControlActivating(IFileDialogCustomize*, DWORD id) override {
    return Guard([&] { return sink_->OnControlActivating(id), S_OK; }, S_OK);
  }

 private:
  virtual ~EventsSink() = default;
  template <class F>
  HRESULT Guard(F f, HRESULT fallback) {
    if (!sink_) return fallback;
    try {
      return f();
    } catch (...) {
      return fallback;
    }
  }
  static ShellItemPtr Wrap(IShellItem* item) {
    if (!item) return nullptr;
    item->AddRef();
    return std::make_shared<WinItem>(item);
  }
  ItemDialogSink* sink_;
  LONG refs_ = 1;
};

// ---- the item dialog -----------------------------------------------------------------

LRESULT CALLBACK OkButtonSubclass(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

class WinItemDialog : public ItemDialog {
 public:
  WinItemDialog(::IFileDialog* dialog, bool save) : dialog_(dialog), save_(save) {}
  ~WinItemDialog() override {
    RemoveOkHook();
    Unadvise();
    customize_.reset();
    if (dialog_) dialog_->Release();
  }
  uint32_t GetOptions() override {
    FILEOPENDIALOGOPTIONS options = 0;
    return SUCCEEDED(dialog_->GetOptions(&options)) ? static_cast<uint32_t>(options) : 0;
  }
  void SetOptions(uint32_t options) override { dialog_->SetOptions(static_cast<FILEOPENDIALOGOPTIONS>(options)); }
  void SetFileTypes(const std::vector<std::pair<std::string, std::string>>& types) override {
    std::vector<std::wstring> texts;
    for (const auto& t : types) {
      texts.push_back(Wide(t.first));
      texts.push_back(Wide(t.second));
    }
    std::vector<COMDLG_FILTERSPEC> specs;
    for (std::size_t i = 0; i + 1 < texts.size(); i += 2) specs.push_back({texts[i].c_str(), texts[i + 1].c_str()});
    dialog_->SetFileTypes(static_cast<UINT>(specs.size()), specs.data());
  }
  void SetFileTypeIndex(uint32_t index) override { dialog_->SetFileTypeIndex(index); }
  uint32_t GetFileTypeIndex() override {
    UINT index = 0;
    return SUCCEEDED(dialog_->GetFileTypeIndex(&index)) ? index : 0;
  }
  void AddPlace(const ShellItemPtr& item, bool atTop) override {
    if (IShellItem* native = NativeItem(item)) {
      dialog_->AddPlace(native, atTop ? FDAP_TOP : FDAP_BOTTOM);
      native->Release();
    }
  }
  void SetFileName(const std::string& name) override { dialog_->SetFileName(Wide(name).c_str()); }
  void SetFolder(const ShellItemPtr& folder) override {
    if (IShellItem* native = NativeItem(folder)) {
      dialog_->SetFolder(native);
      native->Release();
    }
  }
  void SetTitle(const std::string& title) override { dialog_->SetTitle(Wide(title).c_str()); }
  void SetDefaultExtension(const std::string& ext) override { dialog_->SetDefaultExtension(Wide(ext).c_str()); }
  void SetOkButtonLabel(const std::string& label) override { dialog_->SetOkButtonLabel(Wide(label).c_str()); }
  void SetFileNameLabel(const std::string& label) override { dialog_->SetFileNameLabel(Wide(label).c_str()); }
  bool SetCancelButtonLabel(const std::string& label) override {
    ComPtr<IFileDialog2> d2;
    if (FAILED(dialog_->QueryInterface(kIidFileDialog2, d2.OutVoid()))) return false;
    return SUCCEEDED(d2->SetCancelButtonLabel(Wide(label).c_str()));
  }
  bool SetNavigationRoot(const ShellItemPtr& root) override {
    ComPtr<IFileDialog2> d2;
    if (FAILED(dialog_->QueryInterface(kIidFileDialog2, d2.OutVoid()))) return false;
    IShellItem* native = NativeItem(root);
    if (!native) return false;
    const HRESULT hr = d2->SetNavigationRoot(native);
    native->Release();
    return SUCCEEDED(hr);
  }
  bool SetClientGuid(const std::string& bracedGuid) override {
    GUID guid;
    if (FAILED(CLSIDFromString(Wide(bracedGuid).c_str(), &guid))) return false;
    return SUCCEEDED(dialog_->SetClientGuid(guid));
  }
  void ClearClientData() override { dialog_->ClearClientData(); }
  DialogCustomize* Customize() override {
    if (!customize_) {
      IFileDialogCustomize* c = nullptr;
      if (FAILED(dialog_->QueryInterface(kIidFileDialogCustomize, reinterpret_cast<void**>(&c))) || !c)
        return nullptr;
      customize_ = std::make_unique<WinCustomize>(c);
    }
    return customize_.get();
  }
  bool Advise(ItemDialogSink* sink) override {
    Unadvise();
    events_ = new EventsSink(sink);
    if (FAILED(dialog_->Advise(events_, &cookie_))) {
      events_->Release();
      events_ = nullptr;
      return false;
    }
    return true;
  }
  void Unadvise() override {
    if (!events_) return;
    dialog_->Unadvise(cookie_);
    events_->Detach();
    events_->Release();
    events_ = nullptr;
  }
  void InstallOkHook(ItemDialogSink* sink) override {
    const HWND hwnd = reinterpret_cast<HWND>(Hwnd());
    if (!hwnd || hooked_) return;
    okSink_ = sink;
    hooked_ = SetWindowSubclass(hwnd, OkButtonSubclass, 1, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
    if (hooked_) hookedWindow_ = hwnd;
  }
  void RemoveOkHook() override {
    if (!hooked_) return;
    RemoveWindowSubclass(hookedWindow_, OkButtonSubclass, 1);
    hooked_ = false;
  }
  void RepostOkClick() override {
    if (const HWND hwnd = reinterpret_cast<HWND>(Hwnd()))
      PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDOK)));
  }
  uint32_t Show(std::intptr_t owner) override {
    return static_cast<uint32_t>(dialog_->Show(reinterpret_cast<HWND>(owner)));
  }
  bool Close(uint32_t result) override { return SUCCEEDED(dialog_->Close(static_cast<HRESULT>(result))); }
  ShellItemPtr GetResult() override {
    IShellItem* item = nullptr;
    if (FAILED(dialog_->GetResult(&item)) || !item) return nullptr;
    return std::make_shared<WinItem>(item);
  }
  ShellItemArrayPtr GetResults() override {
    ComPtr<IFileOpenDialog> open;
    if (save_ || FAILED(dialog_->QueryInterface(kIidFileOpenDialog, open.OutVoid()))) return nullptr;
    IShellItemArray* array = nullptr;
    if (FAILED(open->GetResults(&array)) || !array) return nullptr;
    return std::make_shared<WinItemArray>(array);
  }
  ShellItemPtr GetFolder() override {
    IShellItem* item = nullptr;
    if (FAILED(dialog_->GetFolder(&item)) || !item) return nullptr;
    return std::make_shared<WinItem>(item);
  }
  ShellItemPtr GetCurrentSelection() override {
    IShellItem* item = nullptr;
    if (FAILED(dialog_->GetCurrentSelection(&item)) || !item) return nullptr;
    return std::make_shared<WinItem>(item);
  }
  ShellItemArrayPtr GetSelectedItems() override {
    ComPtr<IFileOpenDialog> open;
    if (save_ || FAILED(dialog_->QueryInterface(kIidFileOpenDialog, open.OutVoid()))) return nullptr;
    IShellItemArray* array = nullptr;
    if (FAILED(open->GetSelectedItems(&array)) || !array) return nullptr;
    return std::make_shared<WinItemArray>(array);
  }
  std::intptr_t Hwnd() override {
    ComPtr<IOleWindow> window;
    if (FAILED(dialog_->QueryInterface(kIidOleWindow, window.OutVoid()))) return 0;
    HWND hwnd = nullptr;
    return SUCCEEDED(window->GetWindow(&hwnd)) ? reinterpret_cast<std::intptr_t>(hwnd) : 0;
  }
  ShellObjectPtr FolderView() override {
    IFolderView2* view = FolderView2();
    return view ? std::make_shared<WinObject>(view) : nullptr;
  }
  bool GetViewMode(int32_t& mode, int32_t& iconSize) override {
    ComPtr<IFolderView2> view(FolderView2());
    if (!view) return false;
    FOLDERVIEWMODE m = FVM_AUTO;
    int size = 0;
    if (FAILED(view->GetViewModeAndIconSize(&m, &size))) return false;
    mode = static_cast<int32_t>(m);
    iconSize = size;
    return true;
  }
  bool SetViewMode(int32_t mode, int32_t iconSize) override {
    ComPtr<IFolderView2> view(FolderView2());
    return view && SUCCEEDED(view->SetViewModeAndIconSize(static_cast<FOLDERVIEWMODE>(mode), iconSize));
  }
  void* NativeObject() const override { return dialog_; }

  ItemDialogSink* okSink_ = nullptr;

 private:
  IFolderView2* FolderView2() {
    ComPtr<IServiceProvider> provider;
    if (FAILED(dialog_->QueryInterface(kIidServiceProvider, provider.OutVoid()))) return nullptr;
    IFolderView2* view = nullptr;
    if (FAILED(provider->QueryService(kSidFolderView, kIidFolderView2, reinterpret_cast<void**>(&view)))) return nullptr;
    return view;
  }
  ::IFileDialog* dialog_;
  bool save_;
  std::unique_ptr<WinCustomize> customize_;
  EventsSink* events_ = nullptr;
  DWORD cookie_ = 0;
  bool hooked_ = false;
  HWND hookedWindow_ = nullptr;
};

LRESULT CALLBACK OkButtonSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  if (msg == WM_COMMAND && LOWORD(wParam) == IDOK) {
    auto* dialog = reinterpret_cast<WinItemDialog*>(data);
    bool handled = false;
    try {
      handled = dialog->okSink_ && dialog->okSink_->OnOkButtonClick();
    } catch (...) {
      handled = false;
    }
    if (handled) return 0;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// ---- the legacy chooser and the folder browser ----------------------------------------

struct LegacyShow {
  LegacyRecord* record = nullptr;
  LegacyHookSink* sink = nullptr;
  std::wstring buffer;
  bool initialised = false;
};
thread_local LegacyShow* g_legacy = nullptr;

UINT_PTR CALLBACK LegacyHook(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  LegacyShow* show = g_legacy;
  if (!show || !show->sink) return 0;
  try {
    const auto hwnd = reinterpret_cast<std::intptr_t>(dialog);
    if (msg == WM_INITDIALOG) {
      show->initialised = true;
      show->sink->OnInit(hwnd);
      return 0;
    }
    if (msg == WM_NOTIFY && lParam) {
      auto* notify = reinterpret_cast<OFNOTIFYW*>(lParam);
      if (notify->hdr.code == static_cast<UINT>(CDN_SELCHANGE)) {
        const LRESULT specLength = SendMessageW(GetParent(dialog), CDM_GETSPEC, 0, 0);
        const int32_t before = show->record->maxFile;
        show->sink->OnSelChange(*show->record, static_cast<int32_t>(specLength));
        if (show->record->maxFile != before && notify->lpOFN) {
          // Grow the buffer the dialog writes into while the user selects.
          std::wstring grown(static_cast<std::size_t>(show->record->maxFile), L'\0');
          std::copy(show->buffer.begin(), show->buffer.end(), grown.begin());
          show->buffer.swap(grown);
          notify->lpOFN->lpstrFile = show->buffer.data();
          notify->lpOFN->nMaxFile = static_cast<DWORD>(show->buffer.size());
        }
      }
    }
    const bool eat = show->sink->OnMessage(hwnd, msg, static_cast<std::intptr_t>(wParam),
                                           static_cast<std::intptr_t>(lParam), !show->initialised);
    return eat ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

class WinBrowserWindow : public BrowserWindow {
 public:
  explicit WinBrowserWindow(HWND hwnd) : hwnd_(hwnd) {}
  std::intptr_t Hwnd() override { return reinterpret_cast<std::intptr_t>(hwnd_); }
  void SetText(const std::string& text) override { SetWindowTextW(hwnd_, Wide(text).c_str()); }
  void SetSelection(const std::string& path) override {
    const std::wstring w = Wide(path);
    SendMessageW(hwnd_, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(w.c_str()));
  }
  void EnableOk(bool enable) override { SendMessageW(hwnd_, BFFM_ENABLEOK, 0, enable ? 1 : 0); }

 private:
  HWND hwnd_;
};

struct BrowseShow {
  BrowseSink* sink = nullptr;
  std::unique_ptr<WinBrowserWindow> window;
};

int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM lParam, LPARAM data) {
  auto* show = reinterpret_cast<BrowseShow*>(data);
  if (!show || !show->sink) return 0;
  try {
    if (!show->window) show->window = std::make_unique<WinBrowserWindow>(hwnd);
    ShellItemPtr selection;
    std::string invalid;
    if (msg == BFFM_SELCHANGED && lParam) {
      IShellItem* item = nullptr;
      if (SUCCEEDED(SHCreateItemFromIDList(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), kIidShellItem,
                                           reinterpret_cast<void**>(&item))) &&
          item)
        selection = std::make_shared<WinItem>(item);
    } else if (msg == BFFM_VALIDATEFAILEDW && lParam) {
      invalid = Narrow(reinterpret_cast<const wchar_t*>(lParam));
    }
    return show->sink->OnBrowseNotify(*show->window, msg, static_cast<std::intptr_t>(lParam), selection, invalid);
  } catch (...) {
    return 0;
  }
}

// ---- the platform ----------------------------------------------------------------------------

class WinPlatform : public ChooserPlatform {
 public:
  WinPlatform() {
    // The shell's dialogs need COM on this thread; an apartment set up
    // earlier by the program is kept as it is.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    comStarted_ = SUCCEEDED(hr);
  }
  ~WinPlatform() override {
    if (comStarted_) CoUninitialize();
  }

  int32_t Generation() override {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;  // the 148-byte record
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return 0;
#pragma GCC diagnostic pop
    if (info.dwMajorVersion <= 4) return 0;
    if (info.dwMajorVersion == 5) return 5;
    return static_cast<int32_t>(info.dwMajorVersion + info.dwMinorVersion);
  }
  char Separator() const override { return '\\'; }
  bool IsPathText(const std::string& text) const override {
    return text.find(':') != std::string::npos || text.compare(0, 2, "\\\\") == 0;
  }
  std::string ProgramTitle() override {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string name = Narrow(path, n);
    const auto slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
  }
  std::string SpecialFolderPath(int32_t csidl) override {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, buffer))) return "";
    return Narrow(buffer);
  }
  std::string KnownFolderPath(const std::string& bracedGuid) override {
    GUID id;
    if (FAILED(CLSIDFromString(Wide(bracedGuid).c_str(), &id))) return "";
    wchar_t* path = nullptr;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, &path))) {
      if (path) CoTaskMemFree(path);
      return "";
    }
    return TakeCoString(path);
  }
  std::string IdListPath(std::intptr_t idList) override {
    return PathOf(CreateItemFromIdList(idList));
  }
  ShellItemPtr CreateItemFromParsingName(const std::string& name) override {
    IShellItem* item = nullptr;
    if (FAILED(SHCreateItemFromParsingName(Wide(name).c_str(), nullptr, kIidShellItem,
                                           reinterpret_cast<void**>(&item))) ||
        !item)
      return nullptr;
    return std::make_shared<WinItem>(item);
  }
  ShellItemPtr CreateItemFromIdList(std::intptr_t idList) override {
    if (idList == 0) return nullptr;
    IShellItem* item = nullptr;
    if (FAILED(SHCreateItemFromIDList(reinterpret_cast<PCIDLIST_ABSOLUTE>(idList), kIidShellItem,
                                      reinterpret_cast<void**>(&item))) ||
        !item)
      return nullptr;
    return std::make_shared<WinItem>(item);
  }
  ShellItemPtr ItemFromObject(const ShellObjectPtr& object) override {
    if (auto item = std::dynamic_pointer_cast<ShellItem>(object)) return item;
    if (!object || !object->NativeObject()) return nullptr;
    IShellItem* item = nullptr;
    if (FAILED(static_cast<IUnknown*>(object->NativeObject())->QueryInterface(kIidShellItem,
                                                                              reinterpret_cast<void**>(&item))))
      return nullptr;
    return std::make_shared<WinItem>(item);
  }
  ShellItemArrayPtr ArrayFromObject(const ShellObjectPtr& object) override {
    if (auto array = std::dynamic_pointer_cast<ShellItemArray>(object)) return array;
    if (!object || !object->NativeObject()) return nullptr;
    IShellItemArray* array = nullptr;
    if (FAILED(static_cast<IUnknown*>(object->NativeObject())
                   ->QueryInterface(kIidShellItemArray, reinterpret_cast<void**>(&array))))
      return nullptr;
    return std::make_shared<WinItemArray>(array);
  }
  bool SetTemporaryDisplayName(const ShellItemPtr& item, const std::string& name) override {
    IShellItem* native = NativeItem(item);
    if (!native) return false;
    const std::wstring w = Wide(name);
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc((w.size() + 1) * sizeof(wchar_t)));
    bool ok = false;
    if (value.pwszVal) {
      std::copy(w.c_str(), w.c_str() + w.size() + 1, value.pwszVal);
      ok = SUCCEEDED(SHSetTemporaryPropertyForItem(native, kItemNameDisplay, value));
    }
    PropVariantClear(&value);
    native->Release();
    return ok;
  }
  std::string LoadLibraryString(const std::string& library, uint32_t id) override {
    HMODULE module = LoadLibraryExW(Wide(library).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return "";
    wchar_t buffer[260] = {};
    const int n = LoadStringW(module, id, buffer, 260);
    FreeLibrary(module);
    return n > 0 ? Narrow(buffer) : "";
  }
  std::unique_ptr<ItemDialog> CreateItemDialog(bool save) override {
    ::IFileDialog* dialog = nullptr;
    const HRESULT hr = CoCreateInstance(save ? kClsidFileSaveDialog : kClsidFileOpenDialog, nullptr,
                                        CLSCTX_INPROC_SERVER, save ? kIidFileSaveDialog : kIidFileOpenDialog,
                                        reinterpret_cast<void**>(&dialog));
    if (FAILED(hr) || !dialog) return nullptr;
    return std::make_unique<WinItemDialog>(dialog, save);
  }

  bool LegacyChooser(LegacyRecord& record, bool save, LegacyHookSink* hook) override {
    LegacyShow show;
    show.record = &record;
    show.sink = hook;
    const std::u16string file16 = Utf8ToUtf16(record.file);
    show.buffer.assign(file16.begin(), file16.end());
    if (show.buffer.size() < static_cast<std::size_t>(record.maxFile)) show.buffer.resize(static_cast<std::size_t>(record.maxFile), L'\0');
    const std::wstring filter = Wide(record.filter);
    const std::wstring initialDir = Wide(record.initialDir), title = Wide(record.title), defExt = Wide(record.defExt);
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = reinterpret_cast<HWND>(record.owner);
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = static_cast<DWORD>(record.filterIndex);
    ofn.lpstrFile = show.buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(show.buffer.size());
    ofn.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
    ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
    ofn.lpstrDefExt = defExt.empty() ? nullptr : defExt.c_str();
    ofn.Flags = static_cast<DWORD>(record.flags);
    ofn.FlagsEx = static_cast<DWORD>(record.flagsEx);
    ofn.lCustData = static_cast<LPARAM>(record.customData);
    if (record.hook) ofn.lpfnHook = LegacyHook;
    LegacyShow* outer = g_legacy;
    g_legacy = &show;
    const BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    g_legacy = outer;
    record.file = Utf16ToUtf8(std::u16string(show.buffer.begin(), show.buffer.end()));
    record.fileOffset = static_cast<int32_t>(
        Utf16ToUtf8(std::u16string(show.buffer.begin(), show.buffer.begin() + std::min<std::size_t>(ofn.nFileOffset, show.buffer.size())))
            .size());
    record.flags = static_cast<int32_t>(ofn.Flags);
    record.filterIndex = static_cast<int32_t>(ofn.nFilterIndex);
    record.maxFile = static_cast<int32_t>(show.buffer.size());
    return ok != FALSE;
  }
  uint32_t CommDlgExtendedError() override { return ::CommDlgExtendedError(); }
  bool PostLegacyCancel(std::intptr_t dialog, int32_t exitCode) override {
    const HWND parent = GetParent(reinterpret_cast<HWND>(dialog));
    return parent && PostMessageW(parent, WM_COMMAND, IDCANCEL, static_cast<LPARAM>(exitCode)) != FALSE;
  }

  ShellItemPtr BrowseForFolder(BrowseRecord& record, BrowseSink* sink) override {
    wchar_t display[MAX_PATH] = {};
    const std::wstring hint = Wide(record.hint);
    PIDLIST_ABSOLUTE root = nullptr;
    if (record.root) {
      if (IShellItem* native = NativeItem(record.root)) {
        SHGetIDListFromObject(native, &root);
        native->Release();
      }
    }
    BrowseShow show;
    show.sink = sink;
    BROWSEINFOW info = {};
    info.hwndOwner = reinterpret_cast<HWND>(record.owner);
    info.pidlRoot = root;
    info.pszDisplayName = display;
    info.lpszTitle = hint.empty() ? nullptr : hint.c_str();
    info.ulFlags = static_cast<UINT>(record.flags);
    if (record.callback && sink) {
      info.lpfn = BrowseCallback;
      info.lParam = reinterpret_cast<LPARAM>(&show);
    }
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (root) ILFree(root);
    if (!chosen) return nullptr;
    ShellItemPtr item = CreateItemFromIdList(reinterpret_cast<std::intptr_t>(chosen));
    CoTaskMemFree(chosen);
    record.iconIndex = info.iImage;
    return item;
  }

  uint32_t GetLastError() override { return ::GetLastError(); }
  void SetLastError(uint32_t code) override { ::SetLastError(code); }

 private:
  bool comStarted_ = false;
};

}  // namespace

std::shared_ptr<ChooserPlatform> MakeNativeChooserPlatform() { return std::make_shared<WinPlatform>(); }

}  // namespace qv
