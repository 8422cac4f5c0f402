#include "filedialog/CmnDialogEx.h"

#include "filedialog/chooser_internals.h"
#include "support/errors.h"
#include "support/text.h"

namespace qv {

using namespace state;

namespace {

constexpr uint32_t kMaskGeneration5 = 0xFFDBFF0Fu;
constexpr uint32_t kMaskGeneration6 = 0xFF9FFBEFu;

// An exception thrown by a caller's event handler in the middle of a show
// (ending the process, for one) must not leave the instance "showing", where
// Clear and InitDir would do nothing from then on.
class ShowGuard {
 public:
  ShowGuard(uint32_t& state, std::unique_ptr<ItemDialog>& dialog, BrowserWindow*& browser)
      : state_(state), dialog_(dialog), browser_(browser) {}
  ~ShowGuard() {
    if (!armed_) return;
    state_ &= ~(kEvents | kLiveMarkers);
    if (dialog_) dialog_->Unadvise();
    dialog_.reset();
    browser_ = nullptr;
  }
  void Disarm() { armed_ = false; }
  ShowGuard(const ShowGuard&) = delete;
  ShowGuard& operator=(const ShowGuard&) = delete;

 private:
  uint32_t& state_;
  std::unique_ptr<ItemDialog>& dialog_;
  BrowserWindow*& browser_;
  bool armed_ = true;
};

std::shared_ptr<ChooserPlatform>& InstalledPlatform() {
  static std::shared_ptr<ChooserPlatform> installed;
  return installed;
}

}  // namespace

std::shared_ptr<ChooserPlatform> DefaultChooserPlatform() {
  auto& installed = InstalledPlatform();
  return installed ? installed : MakeNativeChooserPlatform();
}

void SetDefaultChooserPlatform(std::shared_ptr<ChooserPlatform> platform) {
  InstalledPlatform() = std::move(platform);
}

ShellItemPtr ChooserPlatform::ItemFromObject(const ShellObjectPtr& object) {
  return std::dynamic_pointer_cast<ShellItem>(object);
}

ShellItemArrayPtr ChooserPlatform::ArrayFromObject(const ShellObjectPtr& object) {
  return std::dynamic_pointer_cast<ShellItemArray>(object);
}

// ---- construction, properties ------------------------------------------

CmnDialogEx::CmnDialogEx() : CmnDialogEx(DefaultChooserPlatform()) {}

CmnDialogEx::CmnDialogEx(std::shared_ptr<ChooserPlatform> platform)
    : platform_(std::move(platform)), s_(std::make_unique<Shared>()) {
  int32_t generation = platform_->Generation();
  if (generation < 0) generation = 0;
  state_ = static_cast<uint32_t>(generation) & kGeneration;
}

CmnDialogEx::~CmnDialogEx() {
  // A destroyed instance cannot be showing; clear the markers so Clear runs.
  state_ &= ~kLiveMarkers;
  Clear();
}

int32_t CmnDialogEx::Version() const { return static_cast<int32_t>(state_ & kGeneration); }

bool CmnDialogEx::CancelError() const { return (state_ & kCancelError) != 0; }

void CmnDialogEx::CancelError(bool value) {
  state_ = value ? (state_ | kCancelError) : (state_ & ~kCancelError);
}

void CmnDialogEx::FileName(const std::string& value) {
  fileName_ = Version() < 6 ? ReplaceAll(value, '/', '\\') : value;
  resultMarker_ = 0;
  if (s_->dialog && (state_ & kItemLive)) s_->dialog->SetFileName(fileName_);
}

std::string CmnDialogEx::FileTitle() const {
  if (resultMarker_ == 0) return "";
  const std::string first = UpToFirstNul(fileName_);
  const auto sep = first.rfind(platform_->Separator());
  return sep == std::string::npos ? first : first.substr(sep + 1);
}

std::string ChooserInternals::ResolveNumber(std::intptr_t value) const {
  if (value >= 0 && value <= 255)
    return UpToFirstNul(d_.platform_->SpecialFolderPath(static_cast<int32_t>(value) | 0x1000));
  return d_.platform_->IdListPath(value);
}

void CmnDialogEx::InitDir(const std::string& value) {
  if (state_ & kAnyLive) return;
  initDir_.clear();
  if (value.empty()) return;
  if (platform_->IsPathText(value)) {
    initDir_ = platform_->Separator() == '\\' ? ReplaceAll(value, '/', '\\') : value;
    return;
  }
  if (auto number = ParseInt32(value)) {
    initDir_ = ChooserInternals(*this).ResolveNumber(*number);
    return;
  }
  if (Version() >= 6 && ParseBracedGuid(value)) initDir_ = platform_->KnownFolderPath(value);
}

void CmnDialogEx::InitDir(std::intptr_t value) {
  if (state_ & kAnyLive) return;
  initDir_ = ChooserInternals(*this).ResolveNumber(value);
}

void CmnDialogEx::DialogTitle(const std::string& value) {
  dialogTitle_ = value;
  if (s_->dialog && (state_ & kItemLive)) s_->dialog->SetTitle(value);
  if (s_->browser && (state_ & kBrowserLive)) s_->browser->SetText(value);
}

std::string CmnDialogEx::Filter() const {
  if (filter_.empty()) return "";
  if (filter_ == std::string(1, '\0')) return filter_;
  std::string text = filter_;
  if (text.back() == '\0') text.pop_back();
  return ReplaceAll(text, '\0', '|');
}

void CmnDialogEx::Filter(const std::string& value) {
  if (TrimBlanks(value).empty()) {
    filter_.clear();
  } else if (value == std::string(1, '\0')) {
    filter_ = value;
  } else {
    filter_ = ReplaceAll(value, '|', '\0');
    filter_.push_back('\0');
  }
}

int32_t CmnDialogEx::FilterIndex() const {
  if (s_->dialog && (state_ & kItemLive)) return static_cast<int32_t>(s_->dialog->GetFileTypeIndex());
  return filterIndex_;
}

void CmnDialogEx::FilterIndex(int32_t value) {
  if (value < 1) value = 1;
  if (s_->dialog && (state_ & kItemLive)) {
    s_->dialog->SetFileTypeIndex(static_cast<uint32_t>(value));
  } else {
    filterIndex_ = value;
  }
}

void CmnDialogEx::DefaultExt(const std::string& value) {
  defaultExt_ = value;
  if (s_->dialog && (state_ & kItemLive)) s_->dialog->SetDefaultExtension(value);
}

int32_t CmnDialogEx::FlagsDialog() const {
  if (s_->dialog && (state_ & kItemLive)) return static_cast<int32_t>(s_->dialog->GetOptions());
  return flagsDialog_;
}

void CmnDialogEx::FlagsDialog(int32_t value) {
  const uint32_t mask = Version() >= 6 ? kMaskGeneration6 : kMaskGeneration5;
  flagsDialog_ = static_cast<int32_t>(static_cast<uint32_t>(value) & mask);
  if (s_->dialog && (state_ & kItemLive)) s_->dialog->SetOptions(static_cast<uint32_t>(flagsDialog_));
}

void CmnDialogEx::FlagsDialogEx(int32_t value) {
  flagsDialogEx_ = Version() >= 6 ? (value & ~1) : value;
  if (s_->dialog && (state_ & kItemLive))
    s_->dialog->SetOptions(static_cast<uint32_t>(flagsDialog_ | flagsDialogEx_));
}

void CmnDialogEx::MaxFileSize(int32_t value) {
  if (state_ & kBrowserLive) return;
  maxFileSize_ = value <= 0 ? 0 : value;
}

void CmnDialogEx::Clear() {
  if (state_ & kAnyLive) return;
  state_ &= kGeneration;
  if (s_->dialog && s_->advised) s_->dialog->Unadvise();
  s_->dialog.reset();
  s_->customize = nullptr;
  s_->advised = s_->okHook = s_->typeChangeSeen = false;
  s_->places.clear();
  s_->root = std::monostate{};
  s_->browseRoot.reset();
  s_->controls.clear();
  s_->keys.clear();
  s_->collected.clear();
  s_->selCountFormat.clear();
  s_->legacy = LegacyRecord{};
  s_->legacyDialog = 0;
  s_->pendingExitCode = 0;
  s_->browser = nullptr;
  tag_.clear();
  clientDataGuid_.clear();
  fileName_.clear();
  filter_.clear();
  initDir_.clear();
  dialogTitle_.clear();
  defaultExt_.clear();
  flagsDialog_ = flagsDialogEx_ = flagsFolderBrowsing_ = 0;
  filterIndex_ = customData_ = maxFileSize_ = minimumBufferSizeRequired_ = 0;
  resultMarker_ = 0;
}

// ---- shows ---------------------------------------------------------------

bool CmnDialogEx::ShowOpen(std::intptr_t ownerHwnd, int32_t WantEvents, ShellObjectPtr* pRtnIUnknownVarPtr,
                           const std::string& ClientDataGUID) {
  return ChooserInternals(*this).ShowFile(false, ownerHwnd, WantEvents, pRtnIUnknownVarPtr, ClientDataGUID);
}

bool CmnDialogEx::ShowSave(std::intptr_t ownerHwnd, int32_t WantEvents, ShellObjectPtr* pRtnIUnknownVarPtr,
                           const std::string& ClientDataGUID) {
  return ChooserInternals(*this).ShowFile(true, ownerHwnd, WantEvents, pRtnIUnknownVarPtr, ClientDataGUID);
}

bool CmnDialogEx::ShowBrowseForFolder(std::intptr_t ParentHwnd, const std::string& BrowserHint,
                                      bool ReturnFriendlyPath, int32_t WantEvents, int32_t* RtnFolderIconIndex,
                                      ShellObjectPtr* pRtnIUnknownVarPtr) {
  return ChooserInternals(*this).Browse(ParentHwnd, BrowserHint, ReturnFriendlyPath, WantEvents,
                                        RtnFolderIconIndex, pRtnIUnknownVarPtr);
}

void ChooserInternals::RaiseChooserError(uint32_t code, const std::string& operation) {
  auto& s = *d_.s_;
  if (s.dialog && s.advised) s.dialog->Unadvise();
  s.advised = false;
  s.okHook = false;
  if (code == 0x3003) {
    const std::u16string buffer = Utf8ToUtf16(d_.fileName_);
    d_.minimumBufferSizeRequired_ = buffer.size() < 5 ? -1 : static_cast<int32_t>(buffer[0]);
  }
  int32_t number = 0;
  std::string description;
  ChooserErrorEntry(code, number, description);
  throw NumberedError(number, ChooserSource(operation), description);
}

bool ChooserInternals::ShowFile(bool save, std::intptr_t owner, int32_t wantEvents, ShellObjectPtr* rtn,
                                const std::string& guid) {
  auto& s = *d_.s_;
  auto& platform = *d_.platform_;
  const int32_t generation = d_.Version();
  if (generation == 0) RaiseChooserError(kChooserDialogFailure, "");

  uint32_t code = 0;
  bool result = false;
  ShowGuard guard(d_.state_, s.dialog, s.browser);
  if (Prepare(owner, save, wantEvents, guid)) {
    if (generation < 6) {
      LegacyRecord& rec = s.legacy;
      const bool ok = platform.LegacyChooser(rec, save, rec.hook ? this : nullptr);
      d_.fileName_ = rec.file;
      d_.flagsDialog_ = rec.flags;
      d_.filterIndex_ = rec.filterIndex;
      d_.maxFileSize_ = rec.maxFile;
      if (ok) {
        if (!save && (d_.flagsDialog_ & OFN_ALLOWMULTISELECT_)) code = platform.CommDlgExtendedError();
        if (code == 0) {
          SplitLegacyResult(rec.fileOffset);
          result = true;
        }
      } else if (d_.state_ & kCloseRequested) {
        code = static_cast<uint32_t>(s.pendingExitCode);
        s.pendingExitCode = 0;
      } else {
        code = platform.CommDlgExtendedError();
      }
      if (!result && code == 0) code = kChooserCancelled;
      s.legacyDialog = 0;
    } else {
      uint32_t hr = s.dialog->Show(owner);
      if (s.okHook) {
        s.dialog->RemoveOkHook();
        s.okHook = false;
      }
      hr = CollectItemResults(hr, rtn, save);
      if (hr == 0) {
        result = true;
      } else if (hr == kChooserCancelled) {
        code = hr;
      } else {
        code = platform.GetLastError();
      }
    }
  }
  d_.state_ &= ~(kEvents | kLiveMarkers);
  guard.Disarm();
  if (code != 0) {
    if (d_.CancelError()) RaiseChooserError(code, save ? "Save" : "Open");
    platform.SetLastError(code);
    return false;
  }
  return result;
}

bool ChooserInternals::Prepare(std::intptr_t owner, bool save, int32_t wantEvents, const std::string& guid) {
  auto& s = *d_.s_;
  auto& platform = *d_.platform_;
  if (s.dialog && s.advised) s.dialog->Unadvise();
  s.dialog.reset();
  s.customize = nullptr;
  s.advised = s.okHook = s.typeChangeSeen = false;
  d_.state_ = (d_.state_ & ~kEvents) | ((static_cast<uint32_t>(wantEvents) & 3u) << kEventShift);
  d_.clientDataGuid_.clear();

  if (d_.Version() < 6) {
    LegacyRecord& rec = s.legacy;
    rec = LegacyRecord{};
    rec.owner = owner;
    int32_t flags;
    if (d_.flagsDialog_ == 0) {
      flags = save ? 0x880A : 0x1800;
    } else {
      flags = d_.flagsDialog_ & ~(save ? OFN_ALLOWMULTISELECT_ : OFN_OVERWRITEPROMPT_);
    }
    flags |= OFN_EXPLORER_ | OFN_ENABLESIZING_;
    d_.minimumBufferSizeRequired_ = 0;
    const int32_t n = d_.MaxFileSize();
    const std::size_t length = Utf16Units(d_.fileName_);
    if (length < static_cast<std::size_t>(n)) {
      d_.fileName_.append(static_cast<std::size_t>(n) - length, '\0');
      if (d_.maxFileSize_ == 0) d_.maxFileSize_ = n;
    } else {
      d_.maxFileSize_ = static_cast<int32_t>(length);
    }
    if (d_.filter_.empty()) {
      std::string description = platform.LoadLibraryString("shell32.dll", 34193);
      if (description.empty()) description = "All Files";
      d_.filter_ = description + std::string(1, '\0') + "*.*" + std::string(1, '\0');
    }
    if ((flags & OFN_ALLOWMULTISELECT_) || wantEvents != 0) {
      rec.hook = true;
      flags |= 0x20;
    } else {
      d_.state_ |= kLegacyLive;
    }
    if (wantEvents == 0) flags &= ~0x400000;
    d_.flagsDialog_ = flags;
    rec.flags = flags;
    rec.flagsEx = d_.flagsDialogEx_;
    rec.filterIndex = d_.filterIndex_;
    rec.customData = d_.customData_;
    rec.maxFile = d_.maxFileSize_;
    rec.filter = d_.filter_;
    rec.file = d_.fileName_;
    rec.initialDir = d_.initDir_;
    rec.title = d_.dialogTitle_;
    rec.defExt = d_.defaultExt_;
    return true;
  }

  // Item dialog.
  s.dialog = platform.CreateItemDialog(save);
  if (!s.dialog) return false;
  ItemDialog& dlg = *s.dialog;
  if (save) {
    d_.state_ &= ~kMode;
    s.collected.clear();
  }

  std::string clientGuid;
  const std::size_t guidLength = Utf8Length(guid);
  if (guidLength == 36) {
    clientGuid = "{" + guid + "}";
  } else if (guidLength == 38 && guid.front() == '{' && guid.back() == '}') {
    clientGuid = guid;
  }
  if (!clientGuid.empty()) {
    d_.clientDataGuid_ = clientGuid;
    if (ParseBracedGuid(clientGuid)) dlg.SetClientGuid(clientGuid);
  }

  uint32_t options;
  if (d_.flagsDialog_ == 0) {
    options = dlg.GetOptions();
  } else {
    options = static_cast<uint32_t>(d_.flagsDialog_) & ~(save ? 0x220u : 0x2u);
    if (options & 0x80u) options &= ~0x40u;
    options &= ~0x880000u;
  }
  options |= static_cast<uint32_t>(d_.flagsDialogEx_);
  const int32_t mode = Mode();
  if (!save && mode != 0) {
    options &= ~0x20u;
    if (mode == 0x9000) options = (options & ~0x40u) | 0x80u;
    if (mode == 0x2000) options |= 0x20u;
  }
  dlg.SetOptions(options);

  const std::string singleNul(1, '\0');
  if (!(!save && d_.filter_ == singleNul)) {
    std::vector<std::string> entries;
    if (d_.filter_.empty() || d_.filter_ == singleNul) {
      std::string description = platform.LoadLibraryString("shell32.dll", 34193);
      entries = {description.empty() ? "All Files (*.*)" : description + " (*.*)", "*.*"};
    } else {
      std::string list = d_.filter_;
      if (list.back() == '\0') list.pop_back();
      std::size_t start = 0;
      for (;;) {
        const auto nul = list.find('\0', start);
        entries.push_back(list.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
        if (nul == std::string::npos) break;
        start = nul + 1;
      }
    }
    if (entries.size() >= 2) {
      std::vector<std::pair<std::string, std::string>> types;
      for (std::size_t i = 0; i + 1 < entries.size(); i += 2) types.emplace_back(entries[i], entries[i + 1]);
      dlg.SetFileTypes(types);
      dlg.SetFileTypeIndex(static_cast<uint32_t>(d_.filterIndex_));
    }
  }

  const bool atTop = (d_.state_ & kPlacesAtTop) != 0;
  for (auto& place : s.places)
    if (place) dlg.AddPlace(place, atTop);

  ShellItemPtr folder;
  if (!d_.fileName_.empty()) {
    const auto sep = d_.fileName_.rfind(platform.Separator());
    if (sep != std::string::npos) folder = CreateShellItem(d_.fileName_.substr(0, sep + 1));
    dlg.SetFileName(folder ? d_.fileName_.substr(sep + 1) : d_.fileName_);
  }
  if (!folder && !d_.initDir_.empty()) folder = CreateShellItem(d_.initDir_);
  if (folder) dlg.SetFolder(folder);

  if (!d_.dialogTitle_.empty()) {
    dlg.SetTitle(d_.dialogTitle_);
  } else if (mode == 0x8000 || mode == 0x2000) {
    const std::string title = platform.LoadLibraryString("comdlg32.dll", 439);
    if (!title.empty()) dlg.SetTitle(title);
  }

  if (!d_.defaultExt_.empty()) dlg.SetDefaultExtension(d_.defaultExt_);

  const bool haveRoot = !std::holds_alternative<std::monostate>(s.root);
  if (haveRoot && d_.Version() >= 7) {
    ShellItemPtr root = ResolveRoot(s.root);
    s.root = std::monostate{};
    if (root && dlg.SetNavigationRoot(root)) s.root = ShellObjectPtr(root);
  }
  if (!s.controls.empty()) {
    if (!ApplyControls()) {
      s.controls.clear();
      s.keys.clear();
      s.collected.clear();
      d_.state_ &= ~kMode;
      s.customize = nullptr;
      s.dialog.reset();
      return false;
    }
    WriteReadOnlyFlag();
  }

  if ((d_.state_ & kEvents) || mode != 0) {
    s.advised = dlg.Advise(this);
    if (!s.advised) d_.state_ |= kItemLive;
  } else {
    d_.state_ |= kItemLive;
  }
  return true;
}

std::string ChooserInternals::GetItemPath(const ShellItemPtr& item, uint32_t sigdn) const {
  if (!item) return "";
  std::string name = item->DisplayName(sigdn);
  if (name.empty() && sigdn == SIGDN_FILESYSPATH_) {
    const auto dropped = item->DroppedFiles();
    if (!dropped.empty()) name = dropped.front();
  }
  if (name.empty()) name = item->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_);
  return name;
}

ShellItemPtr ChooserInternals::CreateShellItem(const std::string& value) const {
  if (value.empty()) return nullptr;
  if (value.size() == 38 && value.front() == '{' && value.back() == '}')
    return d_.platform_->CreateItemFromParsingName("::" + value);
  return d_.platform_->CreateItemFromParsingName(value);
}

uint32_t ChooserInternals::CollectItemResults(uint32_t hr, ShellObjectPtr* rtn, bool save) {
  auto& s = *d_.s_;
  ItemDialog& dlg = *s.dialog;
  if (s.advised) {
    dlg.Unadvise();
    s.advised = false;
  }
  ShellItemArrayPtr results;
  if (!save && Mode() != 0) {
    if (s.collected.empty()) {
      hr = kChooserCancelled;
    } else if (hr == 0) {
      results = std::make_shared<ShellItemList>(s.collected);
    }
  }
  const char sep = d_.platform_->Separator();
  auto markerOf = [sep](const std::string& path) {
    const auto pos = path.rfind(sep);
    return pos == std::string::npos ? 1 : static_cast<int32_t>(pos) + 1;
  };
  if (hr != 0) {
    d_.fileName_.clear();
    d_.resultMarker_ = 0;
  } else {
    d_.filterIndex_ = static_cast<int32_t>(dlg.GetFileTypeIndex());
    ShellItemPtr single;
    bool done = false;
    if (!save && ((d_.flagsDialog_ & OFN_ALLOWMULTISELECT_) || results)) {
      if (!results) results = dlg.GetResults();
      const int32_t count = results ? results->Count() : 0;
      if (count != 1) {
        if (rtn) *rtn = results;
        std::string joined, first;
        for (int32_t i = 0; i < count; ++i) {
          const std::string path = GetItemPath(results->At(i), SIGDN_FILESYSPATH_);
          if (i == 0) first = path;
          if (i > 0) joined.push_back('\0');
          joined += path;
        }
        d_.fileName_ = joined;
        d_.resultMarker_ = markerOf(first);
        done = true;
      } else {
        single = results->At(0);
      }
    }
    if (!done) {
      if (!single) single = dlg.GetResult();
      if (single) {
        d_.fileName_ = GetItemPath(single, SIGDN_FILESYSPATH_);
        d_.resultMarker_ = markerOf(d_.fileName_);
        if (rtn) *rtn = single;
      } else {
        d_.fileName_.clear();
        d_.resultMarker_ = 0;
        hr = kChooserCancelled;
      }
    }
  }
  if (!s.controls.empty() && s.customize) {
    ReadControlsBack();
    WriteReadOnlyFlag();
  }
  s.customize = nullptr;
  s.dialog.reset();
  return hr;
}

void ChooserInternals::SplitLegacyResult(int32_t fileOffset) {
  d_.resultMarker_ = fileOffset;
  std::string& buffer = d_.fileName_;
  if (fileOffset <= 0) {
    buffer.clear();
    return;
  }
  const std::size_t offset = static_cast<std::size_t>(fileOffset);
  if (offset <= buffer.size() && buffer[offset - 1] == '\0') {
    const std::string folder = buffer.substr(0, buffer.find('\0'));
    std::string joined;
    std::size_t pos = offset;
    while (pos < buffer.size() && buffer[pos] != '\0') {
      auto end = buffer.find('\0', pos);
      if (end == std::string::npos) end = buffer.size();
      if (!joined.empty()) joined.push_back('\0');
      // A folder that already ends in a separator (a drive root) gets a second
      // one; the platform's path functions read "C:\\\\a" as "C:\\a".
      joined += folder + std::string(1, d_.platform_->Separator()) + buffer.substr(pos, end - pos);
      pos = end + 1;
    }
    buffer = joined;
  } else {
    buffer = UpToFirstNul(buffer);
  }
}

// ---- folder browsing -----------------------------------------------------

ShellItemPtr ChooserInternals::ResolveRoot(const ChooserValue& value) const {
  if (auto object = std::get_if<ShellObjectPtr>(&value)) return d_.platform_->ItemFromObject(*object);
  if (auto text = std::get_if<std::string>(&value)) return CreateShellItem(*text);
  if (auto number = std::get_if<std::intptr_t>(&value)) return d_.platform_->CreateItemFromIdList(*number);
  return nullptr;
}

bool CmnDialogEx::SetRootFolder(const ChooserValue& RootFolder) {
  if (state_ & kAnyLive) return false;
  auto& root = s_->root;
  root = std::monostate{};
  ChooserInternals in(*this);
  auto fromNumber = [&](std::intptr_t n) {
    if (n >= 0 && n <= 255) {
      const std::string path = in.ResolveNumber(n);
      if (!path.empty()) root = path;
    } else if (auto item = platform_->CreateItemFromIdList(n)) {
      root = ShellObjectPtr(item);
    }
  };
  if (auto object = std::get_if<ShellObjectPtr>(&RootFolder)) {
    if (*object) root = *object;
  } else if (auto number = std::get_if<std::intptr_t>(&RootFolder)) {
    fromNumber(*number);
  } else if (auto text = std::get_if<std::string>(&RootFolder)) {
    const std::string& t = *text;
    if (auto n = ParseInt32(t)) {
      fromNumber(*n);
    } else if (t.find('/') != std::string::npos) {
      root = platform_->Separator() == '\\' ? ReplaceAll(t, '/', '\\') : t;
    } else if (t.find('\\') != std::string::npos) {
      root = t;
    } else if (t.find('{') != std::string::npos && !t.empty() && t.back() == '}') {
      if (t.size() == 40 && t.compare(0, 3, "::{") == 0) {
        root = t;
      } else if (t.size() == 38 && Version() >= 6) {
        const std::string path = platform_->KnownFolderPath(t);
        root = path.empty() ? "::" + t : path;
      }
    }
  }
  return !std::holds_alternative<std::monostate>(root);
}

bool ChooserInternals::Browse(std::intptr_t owner, const std::string& hint, bool friendly, int32_t wantEvents,
                              int32_t* icon, ShellObjectPtr* rtn) {
  auto& s = *d_.s_;
  if (d_.Version() == 0) RaiseChooserError(kChooserDialogFailure, "");
  s.browser = nullptr;
  d_.state_ |= kBrowserLive;

  int32_t flags = d_.flagsFolderBrowsing_;
  if (flags == 0 || (flags & BIF_SHAREABLE_)) flags |= BIF_NEWDIALOGSTYLE_;
  if (flags & BIF_BROWSEINCLUDEURLS_) flags |= 0x4050;
  d_.flagsFolderBrowsing_ = flags;
  if (wantEvents != 0)
    d_.state_ = (d_.state_ & ~kEvents) | ((static_cast<uint32_t>(wantEvents) & 3u) << kEventShift);

  BrowseRecord rec;
  rec.owner = owner;
  rec.hint = hint;
  rec.flags = flags;
  if (!d_.initDir_.empty()) d_.state_ |= kSelectInitDir;

  s.browseRoot.reset();
  if (ShellItemPtr root = ResolveRoot(s.root)) {
    rec.root = root;
    s.browseRoot = root;
    s.root = std::monostate{};
  }
  rec.callback = !d_.dialogTitle_.empty() || (d_.state_ & kSelectInitDir) || (d_.state_ & kEvents);

  ShowGuard guard(d_.state_, s.dialog, s.browser);
  ShellItemPtr chosen = d_.platform_->BrowseForFolder(rec, rec.callback ? this : nullptr);
  guard.Disarm();
  uint32_t code = 0;
  if (chosen) {
    if (rtn) *rtn = chosen;
    d_.fileName_ = GetItemPath(chosen, friendly ? SIGDN_DESKTOPABSOLUTEEDITING_ : SIGDN_DESKTOPABSOLUTEPARSING_);
    d_.resultMarker_ = static_cast<int32_t>(Utf16Units(d_.fileName_));
    if (icon) *icon = rec.iconIndex;
  } else {
    d_.fileName_.clear();
    d_.resultMarker_ = 0;
    if (icon) *icon = 0;
    code = kChooserCancelled;
  }
  d_.state_ &= ~(kEvents | kLiveMarkers);
  s.browser = nullptr;
  if (code != 0) {
    if (d_.CancelError()) RaiseChooserError(code, "BrowseForFolder");
    d_.platform_->SetLastError(code);
    return false;
  }
  return true;
}

int32_t ChooserInternals::OnBrowseNotify(BrowserWindow& window, uint32_t msg, std::intptr_t lParam,
                                         const ShellItemPtr& selection, const std::string& invalidName) {
  auto& s = *d_.s_;
  const bool events = Subscribed();
  const bool live = s.browser != nullptr;
  switch (msg) {
    case 1:  // BFFM_INITIALIZED
      if (!d_.dialogTitle_.empty()) window.SetText(d_.dialogTitle_);
      if (events && d_.DialogBrowseFoldersInit) d_.DialogBrowseFoldersInit(window.Hwnd());
      s.browser = &window;
      d_.state_ |= kBrowserLive;
      if (d_.state_ & kSelectInitDir) window.SetSelection(d_.initDir_);
      return 0;
    case 2:  // BFFM_SELCHANGED
      if (live && (d_.state_ & kSelectInitDir)) {
        d_.state_ &= ~kSelectInitDir;
        window.SetSelection(d_.initDir_);
      }
      if (events && d_.DialogBrowseFoldersOnSelectionChanged) d_.DialogBrowseFoldersOnSelectionChanged(selection);
      return 0;
    case 4:  // BFFM_VALIDATEFAILED
      if (events && live) {
        bool close = false;
        if (d_.DialogBrowseFoldersValidateFailed) d_.DialogBrowseFoldersValidateFailed(invalidName, close);
        return close ? 0 : 1;
      }
      return 0;
    default:
      if (events) {
        if (live) {
          if (d_.DialogBrowseFoldersEvent) d_.DialogBrowseFoldersEvent(window.Hwnd(), msg, lParam);
        } else if (d_.DialogBrowseFoldersPreInitMessage) {
          d_.DialogBrowseFoldersPreInitMessage(window.Hwnd(), msg, lParam);
        }
      }
      return 0;
  }
}

// ---- events and closing --------------------------------------------------

int32_t ChooserInternals::Mode() const {
  return static_cast<int32_t>(((d_.state_ & kMode) >> kModeShift) << 12);
}
bool ChooserInternals::Subscribed() const { return (d_.state_ & kEvents) != 0; }
bool ChooserInternals::ControlEventsSubscribed() const { return (d_.state_ & (2u << kEventShift)) != 0; }

ShellItemArrayPtr ChooserInternals::CurrentSelectionArray() {
  auto& s = *d_.s_;
  if (!s.dialog) return nullptr;
  if (auto items = s.dialog->GetSelectedItems(); items && items->Count() > 0) return items;
  if (auto item = s.dialog->GetCurrentSelection())
    return std::make_shared<ShellItemList>(std::vector<ShellItemPtr>{item});
  return nullptr;
}

void ChooserInternals::AddToCollected(const ShellItemArrayPtr& items) {
  auto& collected = d_.s_->collected;
  if (!items) return;
  for (int32_t i = 0; i < items->Count(); ++i) {
    ShellItemPtr item = items->At(i);
    if (!item) continue;
    const std::string name = item->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_);
    bool known = false;
    for (auto& c : collected) known = known || c->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_) == name;
    if (!known) collected.push_back(item);
  }
  UpdateSelCount();
}

int32_t ChooserInternals::OnFileOk() {
  const int32_t mode = Mode();
  if (mode == 0x1000 || mode == 0x2000 || mode == 0x4000) {
    ShellItemArrayPtr selection = CurrentSelectionArray();
    bool reject = false;
    if (d_.DialogAddBasketItem) d_.DialogAddBasketItem(selection, reject);
    if (!reject) AddToCollected(selection);
    return 1;
  }
  if (mode == 0x3000 || mode == 0x8000) return 1;
  bool cancel = false;
  if (Subscribed() && d_.DialogOnFileOk) d_.DialogOnFileOk(cancel);
  if (cancel) return 1;
  RefreshEditBoxes();
  return 0;
}

int32_t ChooserInternals::OnFolderChanging(const ShellItemPtr& folder) {
  bool cancel = false;
  if (Subscribed() && d_.DialogOnFolderChanging) d_.DialogOnFolderChanging(folder, cancel);
  return cancel ? 1 : 0;
}

void ChooserInternals::OnFolderChange() {
  if (Subscribed() && d_.DialogOnFolderChanged) d_.DialogOnFolderChanged();
}

void ChooserInternals::OnSelectionChange() {
  if (Subscribed() && d_.DialogOnSelectionChanged) d_.DialogOnSelectionChanged();
}

void ChooserInternals::OnTypeChange() {
  auto& s = *d_.s_;
  if (!s.typeChangeSeen) {
    s.typeChangeSeen = true;
    d_.state_ |= kItemLive;
    if (Subscribed() && d_.DialogOnInit) d_.DialogOnInit(s.dialog ? s.dialog->Hwnd() : 0);
    if (Mode() >= 0x3000 && s.dialog) {
      s.dialog->InstallOkHook(this);
      s.okHook = true;
    }
    return;
  }
  if (Subscribed() && d_.DialogOnFileTypeChange) d_.DialogOnFileTypeChange();
}

int32_t ChooserInternals::OnShareViolation(const ShellItemPtr& item) {
  int32_t response = 0;  // FDESVR_DEFAULT
  if (Subscribed() && d_.DialogOnShareViolation) d_.DialogOnShareViolation(item, response);
  return response;
}

int32_t ChooserInternals::OnOverwrite(const ShellItemPtr& item) {
  int32_t response = 0;  // FDEOR_DEFAULT
  if (Subscribed() && d_.DialogOnOverwrite) d_.DialogOnOverwrite(item, response);
  return response;
}

void ChooserInternals::OnItemSelected(uint32_t controlId, uint32_t itemId) {
  if (auto* c = FindControl(-static_cast<int32_t>(controlId))) c->selected = static_cast<int32_t>(itemId);
  if (ControlEventsSubscribed() && d_.DialogSubItemClicked)
    d_.DialogSubItemClicked(-static_cast<int32_t>(controlId), static_cast<int32_t>(itemId));
}

void ChooserInternals::OnButtonClicked(uint32_t controlId) {
  // The ending button of the collecting modes works whether or not the caller
  // subscribed: without it those modes could never end with a choice.
  if (controlId == kOwnOkButton) {
    bool cancel = false;
    if (Subscribed() && d_.DialogOnFileOk) d_.DialogOnFileOk(cancel);
    if (!cancel) d_.CloseDialog(0, 0);
    return;
  }
  if (ControlEventsSubscribed() && d_.DialogButtonClicked) d_.DialogButtonClicked(-static_cast<int32_t>(controlId));
}

void ChooserInternals::OnCheckButtonToggled(uint32_t controlId, bool checked) {
  if (auto* c = FindControl(-static_cast<int32_t>(controlId))) c->checked = checked;
  if (ControlEventsSubscribed() && d_.DialogCheckBoxChanged)
    d_.DialogCheckBoxChanged(-static_cast<int32_t>(controlId), checked);
}

void ChooserInternals::OnControlActivating(uint32_t controlId) {
  if (ControlEventsSubscribed() && d_.DialogMenuToBeDisplayed)
    d_.DialogMenuToBeDisplayed(-static_cast<int32_t>(controlId));
}

bool ChooserInternals::OnOkButtonClick() {
  auto& s = *d_.s_;
  if (!s.dialog) return false;
  const int32_t mode = Mode();
  if (mode >= 0x3000 && mode != 0x4000) {
    ShellItemArrayPtr selection = CurrentSelectionArray();
    if ((!selection || selection->Count() == 0) && (mode == 0x8000 || mode == 0x3000)) {
      if (auto folder = s.dialog->GetFolder())
        selection = std::make_shared<ShellItemList>(std::vector<ShellItemPtr>{folder});
    }
    if (!selection || selection->Count() == 0) return false;
    s.collected.clear();
    AddToCollected(selection);
  } else if (s.collected.empty()) {
    return false;
  }
  if (!d_.CloseDialog(0, 0)) return false;
  s.dialog->RepostOkClick();
  return true;
}

void ChooserInternals::OnInit(std::intptr_t dialog) {
  d_.state_ |= kLegacyLive;
  d_.s_->legacyDialog = dialog;
  if (Subscribed() && d_.DialogXPInit) d_.DialogXPInit(dialog);
}

bool ChooserInternals::OnMessage(std::intptr_t dialog, uint32_t msg, std::intptr_t wParam, std::intptr_t lParam,
                                 bool beforeInit) {
  if (!Subscribed()) return false;
  bool eat = false;
  if (beforeInit) {
    if (d_.PreInitMessage) d_.PreInitMessage(dialog, msg, wParam, lParam, eat);
  } else if (d_.DialogXPEvent) {
    d_.DialogXPEvent(dialog, msg, wParam, lParam, eat);
  }
  return eat;
}

void ChooserInternals::OnSelChange(LegacyRecord& record, int32_t specLength) {
  if (!(record.flags & OFN_ALLOWMULTISELECT_)) return;
  if (specLength <= static_cast<int32_t>(Utf16Units(record.file))) return;
  if (record.maxFile > 2147483387) return;
  record.file.append(260, '\0');
  record.maxFile += 260;
}

bool CmnDialogEx::CloseDialog(std::intptr_t XPDialogHwnd, int32_t ExitCode) {
  auto& s = *s_;
  if (s.dialog && (state_ & kItemLive)) {
    if (s.okHook) {
      s.dialog->RemoveOkHook();
      s.okHook = false;
    }
    ChooserInternals(*this).RefreshEditBoxes();
    return s.dialog->Close(static_cast<uint32_t>(ExitCode));
  }
  if (s.browser && (state_ & kBrowserLive)) {
    s.browser->EnableOk(false);
    return false;
  }
  if ((state_ & kLegacyLive) && !(state_ & kCloseRequested)) {
    if (XPDialogHwnd == 0) return false;
    s.pendingExitCode = ExitCode;
    state_ |= kCloseRequested;
    return platform_->PostLegacyCancel(XPDialogHwnd, ExitCode);
  }
  return false;
}

// ---- known folders, places, client data ----------------------------------

ShellItemPtr ChooserInternals::MakePlace(const ChooserValue& value) const {
  auto& platform = *d_.platform_;
  if (auto object = std::get_if<ShellObjectPtr>(&value)) return platform.ItemFromObject(*object);
  if (auto number = std::get_if<std::intptr_t>(&value)) {
    if (*number >= 0 && *number <= 255) {
      const std::string path = ResolveNumber(*number);
      return path.empty() ? nullptr : platform.CreateItemFromParsingName(path);
    }
    return platform.CreateItemFromIdList(*number);
  }
  if (auto text = std::get_if<std::string>(&value)) {
    const std::string& t = *text;
    if (t.empty()) return nullptr;
    if (t.compare(0, 3, "::{") == 0) return platform.CreateItemFromParsingName(t);
    if (t.front() == '{') {
      const std::string path = platform.KnownFolderPath(t);
      return platform.CreateItemFromParsingName(path.empty() ? "::" + t : path);
    }
    return platform.CreateItemFromParsingName(t);
  }
  return nullptr;
}

bool CmnDialogEx::SetNavFolders(bool AtPanelTop, const std::vector<ChooserValue>& Folders) {
  if (s_->dialog && (state_ & kItemLive)) return false;
  if (Folders.empty()) return !s_->places.empty();
  if (Version() < 6) return false;
  ChooserInternals in(*this);
  std::vector<ShellItemPtr> places;
  for (const auto& entry : Folders)
    if (auto item = in.MakePlace(entry)) places.push_back(item);
  s_->places = std::move(places);
  if (!s_->places.empty()) state_ = AtPanelTop ? (state_ | kPlacesAtTop) : (state_ & ~kPlacesAtTop);
  return !s_->places.empty();
}

bool CmnDialogEx::SetNavFoldersEx(bool AtPanelTop, const std::vector<ChooserValue>& FoldersAndAliases) {
  if (s_->dialog && (state_ & kItemLive)) return false;
  if (FoldersAndAliases.empty()) return !s_->places.empty();
  if (Version() < 6) return false;
  ChooserInternals in(*this);
  std::vector<ShellItemPtr> places;
  for (std::size_t i = 0; i + 1 < FoldersAndAliases.size(); i += 2) {  // an odd last entry is ignored
    const ChooserValue& value = FoldersAndAliases[i];
    if (std::holds_alternative<std::monostate>(value)) continue;
    ShellItemPtr item = in.MakePlace(value);
    if (!item) continue;
    if (auto alias = std::get_if<std::string>(&FoldersAndAliases[i + 1]); alias && !alias->empty())
      platform_->SetTemporaryDisplayName(item, *alias);
    places.push_back(item);
  }
  s_->places = std::move(places);
  if (!s_->places.empty()) state_ = AtPanelTop ? (state_ | kPlacesAtTop) : (state_ & ~kPlacesAtTop);
  return !s_->places.empty();
}

void CmnDialogEx::ResetClientData(const std::string& ClientDataGUID) {
  if (Version() < 6) return;
  auto dialog = platform_->CreateItemDialog(false);
  if (!dialog) return;
  if (ClientDataGUID.empty()) {
    dialog->ClearClientData();
  } else if (ParseBracedGuid(ClientDataGUID) && dialog->SetClientGuid(ClientDataGUID)) {
    dialog->ClearClientData();
  }
}

// ---- item dialog accessors -----------------------------------------------

ItemDialog* CmnDialogEx::IFileDialog() const { return s_->dialog.get(); }

ShellObjectPtr CmnDialogEx::IFileDialog_IFolderView2() const {
  if (!s_->dialog || !(state_ & kItemLive)) return nullptr;
  return s_->dialog->FolderView();
}

int32_t CmnDialogEx::IFileDialog_GetViewMode(int32_t& IconSizePixels) const {
  if (!s_->dialog || !(state_ & kItemLive)) return 0;
  int32_t mode = 0;
  if (!s_->dialog->GetViewMode(mode, IconSizePixels)) return 0;
  return mode;
}

bool CmnDialogEx::IFileDialog_SetViewMode(int32_t ViewMode, int32_t IconSizePixels) {
  if (!s_->dialog || !(state_ & kItemLive)) return false;
  if (ViewMode == 0 || ViewMode < -1 || IconSizePixels < -1) return false;
  int32_t mode = ViewMode & 0xF;
  if (Version() == 6 && mode == 8) mode = 4;  // the content view came with generation 7
  return s_->dialog->SetViewMode(mode, IconSizePixels);
}

std::intptr_t CmnDialogEx::IFileDialog_GetHwnd() const { return s_->dialog ? s_->dialog->Hwnd() : 0; }

ShellItemPtr CmnDialogEx::IFileDialog_GetCurrentFolder() const {
  if (!s_->dialog || !(state_ & kItemLive)) return nullptr;
  return s_->dialog->GetFolder();
}

ShellObjectPtr CmnDialogEx::IFileDialog_GetCurrentSelection(bool WantArrayOfItems, int32_t& Count) const {
  Count = 0;
  if (!s_->dialog || !(state_ & kItemLive)) return nullptr;
  if (WantArrayOfItems) {
    if (auto items = s_->dialog->GetSelectedItems()) {
      Count = items->Count();
      return items;
    }
  }
  ShellItemPtr item = s_->dialog->GetCurrentSelection();
  if (!item) return nullptr;
  Count = 1;
  if (WantArrayOfItems) return std::make_shared<ShellItemList>(std::vector<ShellItemPtr>{item});
  return item;
}

int32_t CmnDialogEx::IShellItem_Action(const ShellObjectPtr& oShellItem, int32_t Action,
                                       ShellObjectPtr* pInterfaceVarPtr) const {
  ShellItemPtr item = platform_->ItemFromObject(oShellItem);
  if (!item) return 0;
  if (Action == 0) return static_cast<int32_t>(item->Attributes(0xFFFFFFFFu));
  if (!pInterfaceVarPtr) return 0;
  ShellObjectPtr result;
  switch (Action) {
    case 1:
      result = item->Parent();
      break;
    case 2:
      result = item->Bind(ShellBinding::Stream);
      break;
    case 3:
      result = item->Bind(ShellBinding::Storage);
      break;
    case 4:
      result = item->Bind(ShellBinding::DataObject);
      break;
    default:
      return 0;
  }
  if (!result) return 0;
  *pInterfaceVarPtr = result;
  return -1;
}

std::string CmnDialogEx::IShellItem_GetDisplayName(const ShellObjectPtr& oShellItem, uint32_t DisplayFormat,
                                                   bool FallBackToAbsoluteParsing,
                                                   bool PreferSysPathOverAbsolute) const {
  ShellItemPtr item = platform_->ItemFromObject(oShellItem);
  if (!item) return "";
  std::string name;
  if (PreferSysPathOverAbsolute && DisplayFormat == SIGDN_FILESYSPATH_) {
    name = ChooserInternals(const_cast<CmnDialogEx&>(*this)).GetItemPath(item, SIGDN_FILESYSPATH_);
  } else {
    name = item->DisplayName(DisplayFormat);
  }
  if (name.empty() && FallBackToAbsoluteParsing) name = item->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_);
  return name;
}

int32_t CmnDialogEx::IShellItemArray_Action(const ShellObjectPtr& oShellItemArray, int32_t Action,
                                            int32_t ArrayIndex, ShellObjectPtr* pInterfaceVarPtr) const {
  ShellItemArrayPtr array = platform_->ArrayFromObject(oShellItemArray);
  if (!array) return 0;
  if (Action == 0) return array->Count();
  if (Action == 1 && pInterfaceVarPtr && ArrayIndex >= 0) {
    int32_t result = array->Count();
    if (ArrayIndex < result) {
      ShellItemPtr item = array->At(ArrayIndex);
      if (item) *pInterfaceVarPtr = item;
      result = item ? -1 : 0;
    }
    return result;
  }
  return 0;
}

// ---- path items ------------------------------------------------------------

std::string PathShellItem::DisplayName(uint32_t sigdn) const {
  if (sigdn == SIGDN_NORMALDISPLAY_) {
    const auto sep = path_.rfind(sep_);
    if (sep == std::string::npos || sep + 1 == path_.size()) return path_;
    return path_.substr(sep + 1);
  }
  return path_;
}

uint32_t PathShellItem::Attributes(uint32_t mask) const {
  // Whether the path names a folder is known to the platform layer; a plain
  // path item reports a file-system object only.
  return SFGAO_FILESYSTEM_ & mask;
}

ShellItemPtr PathShellItem::Parent() const {
  auto sep = path_.rfind(sep_);
  if (sep == std::string::npos) return nullptr;
  if (sep + 1 == path_.size()) {  // trailing separator: skip it
    if (sep == 0) return nullptr;
    sep = path_.rfind(sep_, sep - 1);
    if (sep == std::string::npos) return nullptr;
  }
  if (sep == 0) return path_.size() > 1 ? std::make_shared<PathShellItem>(path_.substr(0, 1), sep_) : nullptr;
  return std::make_shared<PathShellItem>(path_.substr(0, sep), sep_);
}

}  // namespace qv
