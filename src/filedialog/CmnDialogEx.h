// CmnDialogEx: the one class through which the programs ask the user for a
// path (a file to open, a name to save under, a folder). It hides which chooser
// the platform offers: the item-based file dialog on Windows Vista and later,
// the legacy choosers on older Windows, the terminal path prompt elsewhere.
//
// Typical use (the programs' folder and archive choices):
//
//   qv::CmnDialogEx dlg;
//   dlg.Clear();
//   dlg.FlagsDialog(6176);              // pick a folder that exists
//   dlg.InitDir(lastDir);
//   if (dlg.InitDir().empty()) dlg.InitDir(qv::DocumentsFolder());
//   dlg.DialogTitle("...");
//   std::string path;
//   if (dlg.ShowOpen(ownerHwnd, 0, nullptr, "")) path = qv::UpToFirstNul(dlg.FileName());
//
// Failures are quiet unless CancelError is set: a show then returns false and
// leaves the reason as the platform's last-error value. With CancelError set
// (and always when no chooser exists at all) a show throws qv::NumberedError
// (support/errors.h) with the number, source and description of the fixed
// error table in chooser_errors.h.
//
// Strings are UTF-8; "\0" characters inside FileName and Filter are
// meaningful (multiple selection, filter lists) and are kept as such.
//
// Off Windows: the generation is that of a modern item dialog (kModernGeneration)
// and the item dialog is the terminal path prompt (see ChooserInput.h for its
// answer source); ShowBrowseForFolder is the same prompt for folders. Paths
// are POSIX paths: a path value of InitDir begins with "/", and the special
// and known folders that the desktop has (Documents, Desktop, Music,
// Pictures, Videos, Downloads, the profile) come from the XDG user folders.
// There are no shell namespaces, windows, view modes, places pane, client
// data, legacy choosers or customisation there: IFileDialog_GetHwnd answers
// 0, IFileDialog_IFolderView2 nothing, the view-mode members 0 and false,
// navigation places are accepted but not shown, ResetClientData does nothing,
// and a show with custom controls or a custom mode returns false, as a dialog
// without a customisation interface does. A path still makes a shell item.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "filedialog/ShellObjects.h"

namespace qv {

class ChooserPlatform;
class ItemDialog;
class DialogCustomize;

// Cancel code of the platform (HRESULT_FROM_WIN32(ERROR_CANCELLED)).
constexpr uint32_t kChooserCancelled = 0x800704C7u;
// No chooser can be shown (CDERR_DIALOGFAILURE).
constexpr uint32_t kChooserDialogFailure = 0xFFFFu;

// Flag values shared by the legacy (OFN_*) and item dialog (FOS_*) families.
constexpr int32_t OFN_READONLY_ = 0x1;
constexpr int32_t OFN_OVERWRITEPROMPT_ = 0x2;
constexpr int32_t FOS_STRICTFILETYPES_ = 0x4;
constexpr int32_t OFN_NOCHANGEDIR_ = 0x8;
constexpr int32_t FOS_PICKFOLDERS_ = 0x20;
constexpr int32_t FOS_FORCEFILESYSTEM_ = 0x40;
constexpr int32_t FOS_ALLNONSTORAGEITEMS_ = 0x80;
constexpr int32_t OFN_NOVALIDATE_ = 0x100;
constexpr int32_t OFN_ALLOWMULTISELECT_ = 0x200;
constexpr int32_t OFN_PATHMUSTEXIST_ = 0x800;
constexpr int32_t OFN_FILEMUSTEXIST_ = 0x1000;
constexpr int32_t OFN_CREATEPROMPT_ = 0x2000;
constexpr int32_t OFN_NOREADONLYRETURN_ = 0x8000;
constexpr int32_t OFN_EXPLORER_ = 0x80000;
constexpr int32_t OFN_ENABLESIZING_ = 0x800000;

// Legacy folder-browse flags used by ShowBrowseForFolder.
constexpr int32_t BIF_NEWDIALOGSTYLE_ = 0x40;
constexpr int32_t BIF_BROWSEINCLUDEURLS_ = 0x80;
constexpr int32_t BIF_SHAREABLE_ = 0x8000;

// The generation reported where the chooser is not a Windows one.
constexpr int32_t kModernGeneration = 10;

// Property kinds of Controls_PropertySet / Controls_PropertyGet.
enum ControlProperty : int32_t {
  ctlCaption = 0,       // string: the control's text (or an item's text with SubItemIndex >= 0)
  ctlState = 1,         // 32-bit: 1 enabled, 2 visible (or an item's state with SubItemIndex >= 0)
  ctlSelectedItem = 2,  // 32-bit: selected item of a combo box or radio list (-1 none)
  ctlChecked = 3,       // Boolean: check box state
  ctlProminent = 4,     // Boolean
  ctlEditText = 5,      // string: text of an edit box
};
using ControlValue = std::variant<std::monostate, bool, int32_t, std::string>;

class CmnDialogEx {
 public:
  CmnDialogEx();
  // For tests and special hosts: a chooser on the given platform layer.
  explicit CmnDialogEx(std::shared_ptr<ChooserPlatform> platform);
  ~CmnDialogEx();
  CmnDialogEx(const CmnDialogEx&) = delete;
  CmnDialogEx& operator=(const CmnDialogEx&) = delete;

  // ---- properties ------------------------------------------------------
  int32_t Version() const;
  const std::string& Tag() const { return tag_; }
  void Tag(const std::string& value) { tag_ = value; }
  bool CancelError() const;
  void CancelError(bool value);
  const std::string& ClientDataGUID() const { return clientDataGuid_; }
  const std::string& FileName() const { return fileName_; }
  void FileName(const std::string& value);
  std::string FileTitle() const;
  const std::string& InitDir() const { return initDir_; }
  // A path, a special-folder number or item-identifier list written as text,
  // or a known-folder GUID in braces; anything else leaves InitDir empty.
  void InitDir(const std::string& value);
  // A special-folder number (0..255) or an item-identifier list address.
  void InitDir(std::intptr_t value);
  const std::string& DialogTitle() const { return dialogTitle_; }
  void DialogTitle(const std::string& value);
  std::string Filter() const;
  void Filter(const std::string& value);
  int32_t FilterIndex() const;
  void FilterIndex(int32_t value);
  const std::string& DefaultExt() const { return defaultExt_; }
  void DefaultExt(const std::string& value);
  int32_t FlagsDialog() const;
  void FlagsDialog(int32_t value);
  int32_t FlagsDialogEx() const { return flagsDialogEx_; }
  void FlagsDialogEx(int32_t value);
  int32_t FlagsFolderBrowsing() const { return flagsFolderBrowsing_; }
  void FlagsFolderBrowsing(int32_t value) { flagsFolderBrowsing_ = value; }
  int32_t CustomData() const { return customData_; }
  void CustomData(int32_t value) { customData_ = value; }
  int32_t MaxFileSize() const { return maxFileSize_ == 0 ? 520 : maxFileSize_; }
  void MaxFileSize(int32_t value);
  int32_t MinimumBufferSizeRequired() const { return minimumBufferSizeRequired_; }

  // ---- methods ---------------------------------------------------------
  void Clear();
  bool ShowOpen(std::intptr_t ownerHwnd = 0, int32_t WantEvents = 0,
                ShellObjectPtr* pRtnIUnknownVarPtr = nullptr, const std::string& ClientDataGUID = "");
  bool ShowSave(std::intptr_t ownerHwnd = 0, int32_t WantEvents = 0,
                ShellObjectPtr* pRtnIUnknownVarPtr = nullptr, const std::string& ClientDataGUID = "");
  // RtnFolderIconIndex: receives the icon index of the chosen folder (0 after
  // a cancel) when given.
  bool ShowBrowseForFolder(std::intptr_t ParentHwnd = 0, const std::string& BrowserHint = "",
                           bool ReturnFriendlyPath = false, int32_t WantEvents = 0,
                           int32_t* RtnFolderIconIndex = nullptr,
                           ShellObjectPtr* pRtnIUnknownVarPtr = nullptr);
  bool SetRootFolder(const ChooserValue& RootFolder);
  bool CloseDialog(std::intptr_t XPDialogHwnd = 0, int32_t ExitCode = 0);

  // Known folders, navigation places, client data.
  static std::string GetKnownFolderGUID(int32_t FolderID);
  bool SetNavFolders(bool AtPanelTop, const std::vector<ChooserValue>& Folders);
  bool SetNavFoldersEx(bool AtPanelTop, const std::vector<ChooserValue>& FoldersAndAliases);
  std::string CreateClientDataGUID(const std::string& DialogID, const std::string& AppID = "",
                                   const std::string& ClientID = "") const;
  void ResetClientData(const std::string& ClientDataGUID = "");

  // Item dialog accessors (meaningful from event handlers while a dialog shows).
  ItemDialog* IFileDialog() const;
  ShellObjectPtr IFileDialog_IFolderView2() const;
  int32_t IFileDialog_GetViewMode(int32_t& IconSizePixels) const;
  bool IFileDialog_SetViewMode(int32_t ViewMode, int32_t IconSizePixels);
  std::intptr_t IFileDialog_GetHwnd() const;
  ShellItemPtr IFileDialog_GetCurrentFolder() const;
  ShellObjectPtr IFileDialog_GetCurrentSelection(bool WantArrayOfItems, int32_t& Count) const;
  int32_t IShellItem_Action(const ShellObjectPtr& oShellItem, int32_t Action,
                            ShellObjectPtr* pInterfaceVarPtr = nullptr) const;
  std::string IShellItem_GetDisplayName(const ShellObjectPtr& oShellItem, uint32_t DisplayFormat,
                                        bool FallBackToAbsoluteParsing = true,
                                        bool PreferSysPathOverAbsolute = true) const;
  int32_t IShellItemArray_Action(const ShellObjectPtr& oShellItemArray, int32_t Action,
                                 int32_t ArrayIndex = 0, ShellObjectPtr* pInterfaceVarPtr = nullptr) const;

  // Custom controls and selection modes of the item dialog.
  bool Controls_SetCustomMode(int32_t Mode, const std::string& ButtonCaption = "",
                              const std::string& OkCaption = "", bool IncludeSelCount = false,
                              const std::string& SelCountCaptionFormat = "");
  bool Controls_AddReadOnlyOption(int32_t ControlID, bool AsCheckBox, bool isChecked,
                                  const std::string& Caption1 = "", const std::string& Caption2 = "");
  bool Controls_Add(int32_t ContainerID, int32_t ControlID, int32_t ControlType,
                    const std::string& CaptionText = "",
                    const std::vector<std::string>& SubItemCaptions = {});
  int32_t Controls_TypeOf(int32_t ControlID, int32_t& SubItemCount) const;
  bool Controls_PropertySet(int32_t ControlID, int32_t propType, const ControlValue& value,
                            int32_t SubItemlIndex = -1);
  ControlValue Controls_PropertyGet(int32_t ControlID, int32_t propType, int32_t SubItemlIndex = -1) const;

  // ---- events (raised only when set, and only for a show with WantEvents) --
  std::function<void(std::intptr_t DialogHwnd)> DialogOnInit;
  std::function<void(bool& Cancel)> DialogOnFileOk;
  std::function<void(const ShellItemPtr& oShellItem, bool& Cancel)> DialogOnFolderChanging;
  std::function<void(const ShellItemPtr& oShellItem, int32_t& Response)> DialogOnShareViolation;
  std::function<void(const ShellItemPtr& oShellItem, int32_t& Response)> DialogOnOverwrite;
  std::function<void()> DialogOnFileTypeChange;
  std::function<void()> DialogOnFolderChanged;
  std::function<void()> DialogOnSelectionChanged;
  std::function<void(const ShellItemArrayPtr& Selection, bool& Reject)> DialogAddBasketItem;
  std::function<void(int32_t ControlID, int32_t SubItemIndex)> DialogSubItemClicked;
  std::function<void(int32_t ControlID)> DialogButtonClicked;
  std::function<void(int32_t ControlID, bool isChecked)> DialogCheckBoxChanged;
  std::function<void(int32_t ControlID)> DialogMenuToBeDisplayed;
  std::function<void(std::intptr_t DialogHwnd)> DialogXPInit;
  std::function<void(std::intptr_t DialogHwnd, uint32_t uMsg, std::intptr_t wParam, std::intptr_t lParam,
                     bool& EatMessage)>
      DialogXPEvent;
  std::function<void(std::intptr_t DialogHwnd, uint32_t uMsg, std::intptr_t wParam, std::intptr_t lParam,
                     bool& EatMessage)>
      PreInitMessage;
  std::function<void(std::intptr_t DialogHwnd)> DialogBrowseFoldersInit;
  std::function<void(std::intptr_t DialogHwnd, uint32_t uMsg, std::intptr_t lParam)> DialogBrowseFoldersEvent;
  std::function<void(const std::string& InvalidName, bool& CloseDialog)> DialogBrowseFoldersValidateFailed;
  std::function<void(const ShellItemPtr& oShellItem)> DialogBrowseFoldersOnSelectionChanged;
  std::function<void(std::intptr_t DialogHwnd, uint32_t uMsg, std::intptr_t lParam)>
      DialogBrowseFoldersPreInitMessage;

 private:
  friend class ChooserInternals;
  struct Control;
  struct Shared;

  std::shared_ptr<ChooserPlatform> platform_;
  uint32_t state_ = 0;
  std::string tag_, clientDataGuid_, fileName_, filter_, initDir_, dialogTitle_, defaultExt_;
  int32_t filterIndex_ = 0, flagsDialog_ = 0, flagsDialogEx_ = 0, flagsFolderBrowsing_ = 0;
  int32_t customData_ = 0, maxFileSize_ = 0, minimumBufferSizeRequired_ = 0;
  int32_t resultMarker_ = 0;
  std::unique_ptr<Shared> s_;
};

// The text up to (not including) the first NUL character: the chosen path of
// a FileName that may hold a multiple selection.
std::string UpToFirstNul(const std::string& text);

// The user's Documents folder: %USERPROFILE%\Documents on Windows; elsewhere
// the XDG documents folder (XDG_DOCUMENTS_DIR of $XDG_CONFIG_HOME/user-dirs.dirs,
// with $HOME expanded), falling back to $HOME.
std::string DocumentsFolder();

}  // namespace qv
