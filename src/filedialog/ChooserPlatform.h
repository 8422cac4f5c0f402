// The platform layer under CmnDialogEx. The component's logic (what is set on
// a dialog, in which order, how results and failures are read back) is
// portable and talks only to these interfaces; the Windows layer maps them 1:1
// onto the shell's file dialog, the legacy choosers and the folder browser,
// the terminal layer draws a path prompt. Tests provide scripted layers.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filedialog/ShellObjects.h"

namespace qv {

// The customisation interface of an item dialog (IFileDialogCustomize).
// Control ids are the platform ids (the negative of the caller's ids, or the
// component's own 0x80000000..0x80000003). Every call answers success.
class DialogCustomize {
 public:
  virtual ~DialogCustomize() = default;
  virtual bool StartVisualGroup(uint32_t id, const std::string& label) = 0;
  virtual bool EndVisualGroup() = 0;
  virtual bool EnableOpenDropDown(uint32_t id) = 0;
  virtual bool AddComboBox(uint32_t id) = 0;
  virtual bool AddRadioButtonList(uint32_t id) = 0;
  virtual bool AddCheckButton(uint32_t id, const std::string& label, bool checked) = 0;
  virtual bool AddText(uint32_t id, const std::string& text) = 0;
  virtual bool AddSeparator(uint32_t id) = 0;
  virtual bool AddEditBox(uint32_t id, const std::string& text) = 0;
  virtual bool AddMenu(uint32_t id, const std::string& label) = 0;
  virtual bool AddPushButton(uint32_t id, const std::string& label) = 0;
  virtual bool AddControlItem(uint32_t id, uint32_t item, const std::string& label) = 0;
  virtual bool SetSelectedControlItem(uint32_t id, uint32_t item) = 0;
  virtual bool GetSelectedControlItem(uint32_t id, uint32_t& item) = 0;
  virtual bool SetControlState(uint32_t id, uint32_t state) = 0;
  virtual bool SetControlItemState(uint32_t id, uint32_t item, uint32_t state) = 0;
  virtual bool MakeProminent(uint32_t id) = 0;
  virtual bool SetControlLabel(uint32_t id, const std::string& label) = 0;
  virtual bool SetCheckButtonState(uint32_t id, bool checked) = 0;
  virtual bool GetCheckButtonState(uint32_t id, bool& checked) = 0;
  virtual bool SetEditBoxText(uint32_t id, const std::string& text) = 0;
  virtual bool GetEditBoxText(uint32_t id, std::string& text) = 0;
};

// What an item dialog reports while it is up (IFileDialogEvents and
// IFileDialogControlEvents). Return values go back to the dialog as they are.
class ItemDialogSink {
 public:
  virtual ~ItemDialogSink() = default;
  virtual int32_t OnFileOk() = 0;                                   // 0 accept, 1 stay open
  virtual int32_t OnFolderChanging(const ShellItemPtr& folder) = 0;  // 0 allow, 1 refuse
  virtual void OnFolderChange() = 0;
  virtual void OnSelectionChange() = 0;
  virtual void OnTypeChange() = 0;
  virtual int32_t OnShareViolation(const ShellItemPtr& item) = 0;  // FDE_SHAREVIOLATION_RESPONSE
  virtual int32_t OnOverwrite(const ShellItemPtr& item) = 0;       // FDE_OVERWRITE_RESPONSE
  virtual void OnItemSelected(uint32_t controlId, uint32_t itemId) = 0;
  virtual void OnButtonClicked(uint32_t controlId) = 0;
  virtual void OnCheckButtonToggled(uint32_t controlId, bool checked) = 0;
  virtual void OnControlActivating(uint32_t controlId) = 0;
  // The dialog's own OK button was clicked while the OK-button hook is in
  // place; true: the component closed the dialog and the click is re-posted.
  virtual bool OnOkButtonClick() = 0;
};

// An item-based file dialog (IFileOpenDialog / IFileSaveDialog, with
// IFileDialog2 where the platform has it). One object serves one show.
class ItemDialog {
 public:
  virtual ~ItemDialog() = default;
  virtual uint32_t GetOptions() = 0;
  virtual void SetOptions(uint32_t options) = 0;
  virtual void SetFileTypes(const std::vector<std::pair<std::string, std::string>>& types) = 0;
  virtual void SetFileTypeIndex(uint32_t index) = 0;  // 1-based
  virtual uint32_t GetFileTypeIndex() = 0;
  virtual void AddPlace(const ShellItemPtr& item, bool atTop) = 0;
  virtual void SetFileName(const std::string& name) = 0;
  virtual void SetFolder(const ShellItemPtr& folder) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetDefaultExtension(const std::string& ext) = 0;
  virtual void SetOkButtonLabel(const std::string& label) = 0;
  virtual void SetFileNameLabel(const std::string& label) = 0;
  virtual bool SetCancelButtonLabel(const std::string& label) = 0;  // IFileDialog2
  virtual bool SetNavigationRoot(const ShellItemPtr& root) = 0;     // IFileDialog2
  virtual bool SetClientGuid(const std::string& bracedGuid) = 0;
  virtual void ClearClientData() = 0;
  // The customisation interface, or null when the dialog has none.
  virtual DialogCustomize* Customize() = 0;
  virtual bool Advise(ItemDialogSink* sink) = 0;
  virtual void Unadvise() = 0;
  virtual void InstallOkHook(ItemDialogSink*) {}
  virtual void RemoveOkHook() {}
  virtual void RepostOkClick() {}
  // Modal; answers 0 for a confirmed choice, kChooserCancelled for a cancel,
  // another HRESULT for a failure, or the code given to Close.
  virtual uint32_t Show(std::intptr_t owner) = 0;
  virtual bool Close(uint32_t result) = 0;
  virtual ShellItemPtr GetResult() = 0;
  virtual ShellItemArrayPtr GetResults() = 0;  // open dialogs only
  virtual ShellItemPtr GetFolder() = 0;
  virtual ShellItemPtr GetCurrentSelection() = 0;
  virtual ShellItemArrayPtr GetSelectedItems() = 0;  // open dialogs only
  virtual std::intptr_t Hwnd() = 0;
  virtual ShellObjectPtr FolderView() = 0;
  virtual bool GetViewMode(int32_t& mode, int32_t& iconSize) = 0;
  virtual bool SetViewMode(int32_t mode, int32_t iconSize) = 0;
  virtual void* NativeObject() const = 0;
};

// The legacy open/save record (OPENFILENAMEW) as the component keeps it.
// `file` is the whole buffer the platform writes into, NUL padding included;
// `fileOffset` is the 0-based offset of the first name in `file` (bytes of the
// UTF-8 text), as the platform reports it after a choice.
struct LegacyRecord {
  std::intptr_t owner = 0;
  int32_t flags = 0, flagsEx = 0, filterIndex = 0, customData = 0, maxFile = 0;
  std::string filter, file, initialDir, title, defExt;
  int32_t fileOffset = 0;
  bool hook = false;
};

// What the legacy hook reports to the component.
class LegacyHookSink {
 public:
  virtual ~LegacyHookSink() = default;
  virtual void OnInit(std::intptr_t dialog) = 0;
  // Any other hook message; true eats it.
  virtual bool OnMessage(std::intptr_t dialog, uint32_t msg, std::intptr_t wParam, std::intptr_t lParam,
                         bool beforeInit) = 0;
  // Selection changed; `specLength` is the length of the current name list.
  // The component may grow record.file / record.maxFile in answer.
  virtual void OnSelChange(LegacyRecord& record, int32_t specLength) = 0;
};

// The folder browser (SHBrowseForFolderW) window during a browse.
class BrowserWindow {
 public:
  virtual ~BrowserWindow() = default;
  virtual std::intptr_t Hwnd() = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual void SetSelection(const std::string& path) = 0;  // BFFM_SETSELECTIONW
  virtual void EnableOk(bool enable) = 0;                  // BFFM_ENABLEOK
};

// Browser notifications (BFFM_INITIALIZED 1, BFFM_SELCHANGED 2,
// BFFM_VALIDATEFAILED 4, others as they come).
class BrowseSink {
 public:
  virtual ~BrowseSink() = default;
  virtual int32_t OnBrowseNotify(BrowserWindow& window, uint32_t msg, std::intptr_t lParam,
                                 const ShellItemPtr& selection, const std::string& invalidName) = 0;
};

struct BrowseRecord {
  std::intptr_t owner = 0;
  std::string hint;
  int32_t flags = 0;
  ShellItemPtr root;        // limit of the tree, or null
  bool callback = false;    // the sink wants notifications
  int32_t iconIndex = 0;    // written by the platform after a choice
};

class ChooserPlatform {
 public:
  virtual ~ChooserPlatform() = default;

  virtual int32_t Generation() = 0;
  virtual char Separator() const = 0;
  // True when a text names a path of this platform ("C:..." and "\\server"
  // on Windows, an absolute path elsewhere).
  virtual bool IsPathText(const std::string& text) const = 0;
  virtual std::string ProgramTitle() = 0;

  virtual std::string SpecialFolderPath(int32_t csidl) = 0;
  virtual std::string KnownFolderPath(const std::string& bracedGuid) = 0;  // "" when unknown
  virtual std::string IdListPath(std::intptr_t idList) = 0;                // "" when none
  virtual ShellItemPtr CreateItemFromParsingName(const std::string& name) = 0;
  virtual ShellItemPtr CreateItemFromIdList(std::intptr_t idList) = 0;
  // An object as a shell item (QueryInterface for IShellItem), or null.
  virtual ShellItemPtr ItemFromObject(const ShellObjectPtr& object);
  virtual ShellItemArrayPtr ArrayFromObject(const ShellObjectPtr& object);
  virtual bool SetTemporaryDisplayName(const ShellItemPtr& item, const std::string& name) = 0;
  virtual std::string LoadLibraryString(const std::string& library, uint32_t id) = 0;

  virtual std::unique_ptr<ItemDialog> CreateItemDialog(bool save) = 0;

  // The legacy choosers; answer the platform's Boolean result.
  virtual bool LegacyChooser(LegacyRecord& record, bool save, LegacyHookSink* hook) = 0;
  virtual uint32_t CommDlgExtendedError() = 0;
  // Posts WM_COMMAND IDCANCEL with lParam exitCode to the parent of `dialog`.
  virtual bool PostLegacyCancel(std::intptr_t dialog, int32_t exitCode) = 0;

  // The folder browser; answers the chosen folder, or null after a cancel.
  virtual ShellItemPtr BrowseForFolder(BrowseRecord& record, BrowseSink* sink) = 0;

  virtual uint32_t GetLastError() = 0;
  virtual void SetLastError(uint32_t code) = 0;
};

// The layer a CmnDialogEx created without one uses: the one installed by
// SetDefaultChooserPlatform, else the native one of the platform.
std::shared_ptr<ChooserPlatform> DefaultChooserPlatform();
void SetDefaultChooserPlatform(std::shared_ptr<ChooserPlatform> platform);
std::shared_ptr<ChooserPlatform> MakeNativeChooserPlatform();

}  // namespace qv
