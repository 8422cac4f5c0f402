// Internals shared by the component's source files (not for callers).
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "filedialog/ChooserPlatform.h"
#include "filedialog/CmnDialogEx.h"

namespace qv {

// State word: generation (7 bits), CancelError, event subscription (2 bits),
// custom mode (4 bits: Mode >> 12), places at top, and the live markers.
namespace state {
constexpr uint32_t kGeneration = 0x7F;
constexpr uint32_t kCancelError = 1u << 7;
constexpr uint32_t kEventShift = 8;
constexpr uint32_t kEvents = 3u << kEventShift;
constexpr uint32_t kModeShift = 10;
constexpr uint32_t kMode = 0xFu << kModeShift;
constexpr uint32_t kPlacesAtTop = 1u << 14;
constexpr uint32_t kItemLive = 1u << 15;
constexpr uint32_t kLegacyLive = 1u << 16;
constexpr uint32_t kBrowserLive = 1u << 17;
constexpr uint32_t kSelectInitDir = 1u << 18;
constexpr uint32_t kCloseRequested = 1u << 19;
constexpr uint32_t kAnyLive = kItemLive | kLegacyLive | kBrowserLive | kCloseRequested;
constexpr uint32_t kLiveMarkers = kAnyLive | kSelectInitDir;
}  // namespace state

// Text helpers of the component.
std::optional<std::array<uint8_t, 16>> ParseBracedGuid(const std::string& text);
std::string FormatGuid(const std::array<uint8_t, 16>& bytes);
uint32_t Crc32Utf16(const std::string& utf8);
// A whole decimal number in the 32-bit range (blanks around it allowed).
std::optional<int32_t> ParseInt32(const std::string& text);
std::size_t Utf16Units(const std::string& utf8);
std::string ReplaceAll(std::string text, char from, char to);
std::string ChooserSource(const std::string& operation);
// Number and description of the chooser error table.
void ChooserErrorEntry(uint32_t code, int32_t& number, std::string& description);

struct CmnDialogEx::Control {
  uint32_t platformId = 0;
  std::string caption;
  std::vector<std::string> items;
  std::vector<uint32_t> itemStates;
  int32_t type = 0;
  uint32_t ctlState = 3;
  bool inGroup = false, prominent = false, hasItemStates = false, okDropDown = false, readOnly = false;
  bool checked = false;
  int32_t members = 0;
  int32_t selected = -1;
  bool readOnlyDefault = false;  // the read-only drop-down: what its first item stands for
};

struct CmnDialogEx::Shared {
  std::unique_ptr<ItemDialog> dialog;
  DialogCustomize* customize = nullptr;
  bool advised = false, okHook = false, typeChangeSeen = false;
  std::vector<ShellItemPtr> places;
  ChooserValue root;
  ShellItemPtr browseRoot;
  std::vector<Control> controls;
  std::map<std::string, std::size_t> keys;
  std::vector<ShellItemPtr> collected;
  std::string selCountFormat;
  // Legacy dialog of the show in progress.
  LegacyRecord legacy;
  std::intptr_t legacyDialog = 0;
  int32_t pendingExitCode = 0;
  // Folder browser of the show in progress.
  BrowserWindow* browser = nullptr;
};

// The component's side of the platform callbacks and the show sequences.
class ChooserInternals : public ItemDialogSink, public LegacyHookSink, public BrowseSink {
 public:
  explicit ChooserInternals(CmnDialogEx& d) : d_(d) {}

  bool ShowFile(bool save, std::intptr_t owner, int32_t wantEvents, ShellObjectPtr* rtn,
                const std::string& guid);
  bool Prepare(std::intptr_t owner, bool save, int32_t wantEvents, const std::string& guid);
  uint32_t CollectItemResults(uint32_t hr, ShellObjectPtr* rtn, bool save);
  void SplitLegacyResult(int32_t fileOffset);
  bool Browse(std::intptr_t owner, const std::string& hint, bool friendly, int32_t wantEvents,
              int32_t* icon, ShellObjectPtr* rtn);
  [[noreturn]] void RaiseChooserError(uint32_t code, const std::string& operation);
  std::string GetItemPath(const ShellItemPtr& item, uint32_t sigdn) const;
  ShellItemPtr CreateShellItem(const std::string& value) const;
  ShellItemPtr ResolveRoot(const ChooserValue& value) const;
  ShellItemPtr MakePlace(const ChooserValue& value) const;
  std::string ResolveNumber(std::intptr_t value) const;

  // Controls table.
  bool ApplyControls();
  void ReadControlsBack();
  void WriteReadOnlyFlag();
  void RefreshEditBoxes();
  CmnDialogEx::Control* FindControl(int32_t controlId);
  const CmnDialogEx::Control* FindControlConst(int32_t controlId) const;
  void UpdateSelCount();

  int32_t Mode() const;
  bool Subscribed() const;
  bool ControlEventsSubscribed() const;

  // ItemDialogSink
  int32_t OnFileOk() override;
  int32_t OnFolderChanging(const ShellItemPtr& folder) override;
  void OnFolderChange() override;
  void OnSelectionChange() override;
  void OnTypeChange() override;
  int32_t OnShareViolation(const ShellItemPtr& item) override;
  int32_t OnOverwrite(const ShellItemPtr& item) override;
  void OnItemSelected(uint32_t controlId, uint32_t itemId) override;
  void OnButtonClicked(uint32_t controlId) override;
  void OnCheckButtonToggled(uint32_t controlId, bool checked) override;
  void OnControlActivating(uint32_t controlId) override;
  bool OnOkButtonClick() override;
  // LegacyHookSink
  void OnInit(std::intptr_t dialog) override;
  bool OnMessage(std::intptr_t dialog, uint32_t msg, std::intptr_t wParam, std::intptr_t lParam,
                 bool beforeInit) override;
  void OnSelChange(LegacyRecord& record, int32_t specLength) override;
  // BrowseSink
  int32_t OnBrowseNotify(BrowserWindow& window, uint32_t msg, std::intptr_t lParam,
                         const ShellItemPtr& selection, const std::string& invalidName) override;

 private:
  ShellItemArrayPtr CurrentSelectionArray();
  void AddToCollected(const ShellItemArrayPtr& items);
  CmnDialogEx& d_;
};

constexpr uint32_t kOwnOkButton = 0x80000000u;
constexpr uint32_t kOwnCountGroup = 0x80000001u;
constexpr uint32_t kOwnOkLabel = 0x80000002u;
constexpr uint32_t kOwnFileNameLabel = 0x80000003u;

}  // namespace qv
