// cTaskDialog: the one dialog engine of both programs. A plain object that the
// workflow configures, shows modally with ShowDialog, drives while shown
// through runtime operations, and reads results from after it closed.
// Everything here is portable; the platform (comctl32's task dialog on
// Windows, our dialog layer elsewhere) is reached through TdPlatform().
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "taskdialog/tdconst.h"
#include "taskdialog/tdplatform.h"

namespace qv {

struct TdComboItem {
  std::string text;
  int32_t image = 0;
  int32_t selectedImage = 0;  // the "overlay" argument of ComboAddItem
  int32_t indent = 0;
  intptr_t itemData = 0;
};

class cTaskDialog {
 public:
  cTaskDialog();
  ~cTaskDialog();
  cTaskDialog(const cTaskDialog&) = delete;
  cTaskDialog& operator=(const cTaskDialog&) = delete;

  void Init();

  // ---- Configuration properties (getter X(), setter X(v)) ----
  const std::string& Title() const { return title_; }
  void Title(const std::string& v) { title_ = v; }
  const std::string& MainInstruction() const { return mainInstruction_; }
  void MainInstruction(const std::string& v);
  const std::string& Content() const { return content_; }
  void Content(const std::string& v);
  const std::string& Footer() const { return footer_; }
  void Footer(const std::string& v);
  const std::string& ExpandedInfo() const { return expandedInfo_; }
  void ExpandedInfo(const std::string& v);
  const std::string& ExpandedControlText() const { return expandedControlText_; }
  void ExpandedControlText(const std::string& v) { expandedControlText_ = v; }
  const std::string& CollapsedControlText() const { return collapsedControlText_; }
  void CollapsedControlText(const std::string& v) { collapsedControlText_ = v; }
  const std::string& VerifyText() const { return verifyText_; }
  void VerifyText(const std::string& v) { verifyText_ = v; }
  intptr_t IconMain() const { return iconMain_; }
  void IconMain(intptr_t v);
  intptr_t IconFooter() const { return iconFooter_; }
  void IconFooter(intptr_t v);
  intptr_t IconReplaceGradient() const { return iconReplaceGradient_; }
  void IconReplaceGradient(intptr_t v);
  uint32_t Flags() const { return flags_; }
  void Flags(uint32_t v) { flags_ = v; }
  uint32_t CommonButtons() const { return commonButtons_; }
  void CommonButtons(uint32_t v) { commonButtons_ = v; }
  int32_t DefaultButton() const { return defaultButton_; }
  void DefaultButton(int32_t v) { defaultButton_ = v; }
  int32_t DefaultRadioButton() const { return defaultRadioButton_; }
  void DefaultRadioButton(int32_t v) { defaultRadioButton_ = v; }
  int32_t Width() const { return width_; }
  void Width(int32_t v) { width_ = v; }
  WindowHandle ParentHwnd() const { return parentHwnd_; }
  void ParentHwnd(WindowHandle v) { parentHwnd_ = v; }
  WindowHandle hInst() const { return hInst_; }
  void hInst(WindowHandle v) { hInst_ = v; }
  int32_t AutocloseTime() const { return autocloseTime_; }
  void AutocloseTime(int32_t v) { autocloseTime_ = v; }
  int32_t PageIndex() const { return pageIndex_; }
  void PageIndex(int32_t v) { pageIndex_ = v; }
  float DPIScaleX() const { return dpiScaleX_; }
  void DPIScaleX(float v) { dpiScaleX_ = v; }
  float DPIScaleY() const { return dpiScaleY_; }
  void DPIScaleY(float v) { dpiScaleY_ = v; }
  int32_t DefaultCustomControl() const { return defaultCustomControl_; }
  void DefaultCustomControl(int32_t v) { defaultCustomControl_ = v; }

  // Input box.
  std::string InputText();  // while the box exists: refreshed from it
  void InputText(const std::string& v);
  bool InputIsPassword() const { return inputIsPassword_; }
  void InputIsPassword(bool v);
  const std::string& InputCueBanner() const { return inputCueBanner_; }
  void InputCueBanner(const std::string& v);
  int32_t InputAlign() const { return inputAlign_; }
  void InputAlign(int32_t v) { inputAlign_ = v; }
  int32_t InputAlignInFooter() const { return inputAlignInFooter_; }
  void InputAlignInFooter(int32_t v) { inputAlignInFooter_ = v; }
  int32_t InputOffsetX() const { return inputOffsetX_; }
  void InputOffsetX(int32_t v) { inputOffsetX_ = v; }
  int32_t InputWidth() const { return inputWidth_; }
  void InputWidth(int32_t v) { inputWidth_ = v; }
  int32_t InputBoxTextAlign() const { return inputBoxTextAlign_; }
  void InputBoxTextAlign(int32_t v);

  // Combo box.
  int32_t ComboStyle() const { return comboStyle_; }
  void ComboStyle(int32_t v) { comboStyle_ = v; }
  int32_t ComboAlign() const { return comboAlign_; }
  void ComboAlign(int32_t v) { comboAlign_ = v; }
  int32_t ComboAlignInFooter() const { return comboAlignInFooter_; }
  void ComboAlignInFooter(int32_t v) { comboAlignInFooter_ = v; }
  int32_t ComboOffsetX() const { return comboOffsetX_; }
  void ComboOffsetX(int32_t v) { comboOffsetX_ = v; }
  int32_t ComboWidth() const { return comboWidth_; }
  void ComboWidth(int32_t v) { comboWidth_ = v; }
  int32_t ComboHeight() const { return comboHeight_; }
  void ComboHeight(int32_t v) { comboHeight_ = v; }
  int32_t ComboDropWidth() const { return comboDropWidth_; }
  void ComboDropWidth(int32_t v);
  const std::string& ComboCueBanner() const { return comboCueBanner_; }
  void ComboCueBanner(const std::string& v) { comboCueBanner_ = v; }
  intptr_t ComboImageList() const { return comboImageList_; }
  void ComboImageList(intptr_t v) { comboImageList_ = v; }
  int32_t ComboIndex();
  void ComboIndex(int32_t v);
  std::string ComboText();
  void ComboText(const std::string& v);
  void ComboAddItem(const std::string& text, int32_t image = 0, int32_t overlay = 0,
                    intptr_t itemData = 0, int32_t indent = 0);
  void ComboSetInitialItem(int32_t index) { comboInitialItem_ = index; }
  int32_t ComboNewIndex() const { return comboNewIndex_; }
  const std::vector<TdComboItem>& ComboItems() const { return comboItems_; }

  // Slider.
  int32_t SliderAlign() const { return sliderAlign_; }
  void SliderAlign(int32_t v) { sliderAlign_ = v; }
  int32_t SliderAlignInFooter() const { return sliderAlignInFooter_; }
  void SliderAlignInFooter(int32_t v) { sliderAlignInFooter_ = v; }
  int32_t SliderOffsetX() const { return sliderOffsetX_; }
  void SliderOffsetX(int32_t v) { sliderOffsetX_ = v; }
  int32_t SliderWidth() const { return sliderWidth_; }
  void SliderWidth(int32_t v) { sliderWidth_ = v; }
  int32_t SliderTickStyle() const { return sliderTickStyle_; }
  void SliderTickStyle(int32_t v) { sliderTickStyle_ = v; }
  int32_t SliderValue();
  void SliderValue(int32_t v);
  void SliderSetRange(int32_t minimum, int32_t maximum, int32_t tickFrequency = 0);
  void SliderSetChangeValues(int32_t smallChange, int32_t largeChange);

  // Date-time pickers.
  int32_t DateTimeType() const { return dateTimeType_; }
  void DateTimeType(int32_t v) { dateTimeType_ = v; }
  int32_t DateTimeAlign() const { return dateTimeAlign_; }
  void DateTimeAlign(int32_t v) { dateTimeAlign_ = v; }
  int32_t DateTimeAlignInFooter() const { return dateTimeAlignInFooter_; }
  void DateTimeAlignInFooter(int32_t v) { dateTimeAlignInFooter_ = v; }
  int32_t DateTimeOffsetX() const { return dateTimeOffsetX_; }
  void DateTimeOffsetX(int32_t v) { dateTimeOffsetX_ = v; }
  TdDateTime DateTimeValue();
  void DateTimeValue(const TdDateTime& v);
  bool DateTimeChecked();
  void DateTimeChecked(bool v);
  void DateTimeSetRange(const TdDateTime& minimum, const TdDateTime& maximum);
  void DateTimeSetInitial(const TdDateTime& value);

  // ---- Results and handles (read-only) ----
  int32_t ResultMain() const { return resultMain_; }
  int32_t ResultRad() const { return resultRad_; }
  int32_t ResultVerify() const { return resultVerify_; }
  const std::string& ResultInput() const { return inputTextStore_; }
  const std::string& ResultComboText() const { return resultComboText_; }
  int32_t ResultComboIndex() const { return resultComboIndex_; }
  intptr_t ResultComboData() const { return resultComboData_; }
  int32_t ResultSlider() const { return resultSlider_; }
  const TdDateTime& ResultDateTime() const { return resultDateTime_; }
  bool ResultDateTimeChecked() const { return resultDateTimeChecked_; }
  WindowHandle hWndDlg() const { return hWndDlg_; }
  WindowHandle hWndDUI() const { return hWndDUI_; }
  WindowHandle hWndInput() const { return hWndInput_; }
  WindowHandle hWndCombo() const { return hWndCombo_; }
  WindowHandle hWndComboEdit() const { return hWndComboEdit_; }
  WindowHandle hWndDateTime() const { return hWndDateTime_; }
  WindowHandle hWndDateTime2() const { return hWndDateTime2_; }
  WindowHandle hWndSlider() const { return hWndSlider_; }

  // ---- Buttons and lists ----
  void AddCustomButton(int32_t id, const std::string& text, intptr_t icon = 0);
  void AddRadioButton(int32_t id, const std::string& text);
  void ClearCustomButtons();
  void ClearRadioButtons();
  void SetSplitButton(int32_t id) { splitButton_ = id; }
  void SetButtonHold(int32_t id);
  void ReleaseButtonHold(int32_t id);
  void SetButtonElevated(int32_t id, int32_t state);
  void EnableButton(int32_t id, bool enable);
  void EnableRadioButton(int32_t id, bool enable);
  // index 0..5: OK, Yes, No, Cancel, Retry, Close
  void SetCommonButtonIcon(int32_t commonButton, intptr_t icon);
  void SetLogoImage(intptr_t image, int32_t type, int32_t position, int32_t offsetX,
                    int32_t offsetY);
  void SetWindowsButtonIconSize(int32_t size) { buttonIconSize_ = size; }

  // The id lists in their stored form (empty = one slot holding 0).
  const std::vector<int32_t>& HoldList() const { return holdList_; }
  const std::vector<int32_t>& ElevatedList() const { return elevatedList_; }
  const std::vector<int32_t>& DisabledList() const { return disabledList_; }
  const std::vector<int32_t>& DisabledRadioList() const { return disabledRadioList_; }
  const std::vector<TdButton>& CustomButtons() const { return customButtons_; }
  const std::vector<TdButton>& RadioButtons() const { return radioButtons_; }

  // ---- Showing ----
  bool ShowDialog();
  int32_t SimpleDialog(const std::string& message, uint32_t commonButtons = TDCBF_OK_BUTTON,
                       const std::string& title = "", const std::string& mainText = "",
                       intptr_t icon = 0, WindowHandle owner = 0, WindowHandle instance = 0);
  // The record of the last ShowDialog (or NavigatePage from this object).
  const TaskDialogConfig& Config() const { return config_; }

  // ---- Runtime operations ----
  void ProgressSetRange(int32_t minimum, int32_t maximum);
  void ProgressSetValue(int32_t position);
  void ProgressSetType(int32_t marquee);
  void ProgressSetState(int32_t state);
  void ProgressStartMarquee(int32_t speed);
  void ProgressStopMarquee();
  void ClickButton(int32_t id);
  void ClickRadioButton(int32_t id);
  void ClickVerification(int32_t checked, int32_t setFocus);
  void CloseDialog();
  void ResetTimer() { resetTimer_ = true; }
  void NavigatePage(cTaskDialog& page);

  // ---- Events (raised only when set) ----
  std::function<void(intptr_t hWnd)> DialogCreated;
  std::function<void(int32_t ButtonID)> ButtonClick;
  std::function<void(intptr_t target)> HyperlinkClick;
  std::function<void(int32_t TimerValue)> Timer;
  std::function<void()> DialogDestroyed;
  std::function<void(int32_t ButtonID)> RadioButtonClick;
  std::function<void(intptr_t hWnd)> DialogConstucted;
  std::function<void(int32_t checked)> VerificationClicked;
  std::function<void(int32_t expanded)> ExpandButtonClicked;
  std::function<void()> Navigated;
  std::function<void()> Help;
  std::function<void(intptr_t hWnd)> DropdownButtonClicked;
  std::function<void(int32_t index)> ComboItemChanged;
  std::function<void()> ComboDropdown;
  std::function<void(std::string& sText)> InputBoxChange;
  std::function<void(const TdDateTime& value, int32_t checked)> DateTimeChange;
  std::function<void(int32_t position)> SliderChange;
  std::function<void()> AutoClose;

  // ---- Platform entry points' targets (mTDHelper only) ----
  intptr_t zz_ProcessCallback(WindowHandle hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
  int32_t zz_ProcessEnumCallback(WindowHandle hwnd);
  intptr_t zz_ProcessSubclass(WindowHandle hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                              uintptr_t subclassId);

  // Where the injected controls were placed (x, y, width, height in client
  // pixels of the dialog); kept for inspection.
  struct Placement {
    int32_t x = 0, y = 0, cx = 0, cy = 0;
  };
  const Placement& InputPlacement() const { return inputPlacement_; }

 private:
  struct RefButton {
    int32_t top = 0, left = 0;
    bool seen = false;
  };
  enum Ctl { kInput = 0, kCombo = 1, kDateTime = 2, kSlider = 3 };

  // Preparation shared by ShowDialog and NavigatePage.
  void PrepareRecord(TaskDialogConfig& rec);
  bool AnyControlFlag() const;
  int32_t AlignOf(int c) const;
  int32_t AlignInFooterOf(int c) const;
  bool ControlFlagged(int c) const;
  intptr_t Ordinal(intptr_t icon, bool handle) const;
  void OnCreated(WindowHandle hwnd, bool navigated);
  void ScanButtons();
  void DecorateButtons();
  void ApplyPendingLists();
  void CreateControls();
  void CreateInputBox();
  void CreateCombo();
  void CreateDateTime();
  void CreateSlider();
  void PlaceLogo();
  void FocusControl();
  Placement ComputePlacement(int c, int32_t cx, int32_t cy, bool relayout);
  int32_t CommonButtonsLeft() const;
  void Relayout();
  void CaptureResults();
  void UpdateText(uint32_t element, const std::string& text, bool relayout);
  static bool MayNeedMoreRoom(const std::string& before, const std::string& after);
  void UpdateIcon(uint32_t slot, intptr_t value);
  void RepaintHost();
  static void ListAdd(std::vector<int32_t>& list, int32_t id);
  static void ListRemove(std::vector<int32_t>& list, int32_t id);
  static bool ListHas(const std::vector<int32_t>& list, int32_t id);
  static bool ListEmpty(const std::vector<int32_t>& list);
  static bool EndsWith(const std::string& s, const std::string& tail);

  TaskDialogPlatform* platform_ = nullptr;
  TaskDialogConfig config_;

  std::string title_, mainInstruction_, content_, footer_, expandedInfo_, expandedControlText_,
      collapsedControlText_, verifyText_;
  bool expandedInfoSet_ = false;
  intptr_t iconMain_ = 0, iconFooter_ = 0, iconReplaceGradient_ = 0;
  uint32_t flags_ = 0, commonButtons_ = 0;
  int32_t defaultButton_ = 0, defaultRadioButton_ = 0, width_ = 0;
  WindowHandle parentHwnd_ = 0, hInst_ = 0;
  int32_t autocloseTime_ = 0, pageIndex_ = 0;
  float dpiScaleX_ = 1.0f, dpiScaleY_ = 1.0f;
  int32_t defaultCustomControl_ = 0;

  std::string inputTextStore_, inputCueBanner_;
  bool inputIsPassword_ = false;
  int32_t inputAlign_ = 0, inputAlignInFooter_ = 0, inputOffsetX_ = 0, inputWidth_ = 0,
          inputBoxTextAlign_ = 0;

  int32_t comboStyle_ = 0, comboAlign_ = 0, comboAlignInFooter_ = 0, comboOffsetX_ = 0,
          comboWidth_ = 0, comboHeight_ = 0, comboDropWidth_ = 0;
  std::string comboCueBanner_;
  intptr_t comboImageList_ = 0;
  std::vector<TdComboItem> comboItems_;
  int32_t comboInitialItem_ = -1, comboNewIndex_ = -1, comboIndexStore_ = -1;
  std::string comboTextStore_;

  int32_t sliderAlign_ = 0, sliderAlignInFooter_ = 0, sliderOffsetX_ = 0, sliderWidth_ = 0,
          sliderTickStyle_ = 0;
  int32_t sliderMin_ = 0, sliderMax_ = 10, sliderTicFreq_ = 1, sliderSmall_ = 1,
          sliderLarge_ = 2, sliderValue_ = 0;

  int32_t dateTimeType_ = 0, dateTimeAlign_ = 0, dateTimeAlignInFooter_ = 0,
          dateTimeOffsetX_ = 0;
  TdDateTime dateTimeValue_, dateTimeMin_, dateTimeMax_;
  bool dateTimeChecked_ = false, dateTimeRangeSet_ = false, dateTimeInitialSet_ = false;

  int32_t resultMain_ = 0, resultRad_ = 0, resultVerify_ = 0;
  std::string resultComboText_;
  int32_t resultComboIndex_ = -1;
  intptr_t resultComboData_ = 0;
  int32_t resultSlider_ = 0;
  TdDateTime resultDateTime_;
  bool resultDateTimeChecked_ = false;

  WindowHandle hWndDlg_ = 0, hWndDUI_ = 0, hWndInput_ = 0, hWndCombo_ = 0, hWndComboEdit_ = 0,
               hWndDateTime_ = 0, hWndDateTime2_ = 0, hWndSlider_ = 0, hWndLogo_ = 0;
  bool subclassed_ = false;

  std::vector<TdButton> customButtons_, radioButtons_;
  std::vector<intptr_t> customIcons_;
  std::vector<int32_t> holdList_{0}, elevatedList_{0}, disabledList_{0}, disabledRadioList_{0};
  bool hasElevated_ = false, hasDisabled_ = false, hasDisabledRadio_ = false;
  int32_t splitButton_ = 0;
  intptr_t commonButtonIcons_[6] = {0, 0, 0, 0, 0, 0};
  intptr_t logoImage_ = 0;
  int32_t logoType_ = 0, logoPosition_ = 0, logoOffsetX_ = 0, logoOffsetY_ = 0;
  int32_t buttonIconSize_ = 16;

  // State of a showing.
  std::vector<WindowHandle> buttonWindows_;
  std::vector<int32_t> buttonLefts_;
  RefButton ref_[4];
  int64_t createdMs_ = 0, lastTickMs_ = 0;
  int32_t countdownStart_ = 0;
  bool timerEvents_ = false, resetTimer_ = false;
  bool relayoutPending_ = false;
  int32_t relayoutTicks_ = 0, relayoutDelay_ = 0, lastClientHeight_ = 0;
  int32_t contentBreaks_ = 0;
  bool contentHasLink_ = false, footerReserved_ = false;
  bool inputCreated_ = false, comboCreated_ = false, dateTimeCreated_ = false,
       sliderCreated_ = false;
  Placement inputPlacement_;
  intptr_t font_ = 0;
  intptr_t logoBrush_ = 0;
  std::string programTitle_;
};

}  // namespace qv
