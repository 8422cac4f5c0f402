#include "taskdialog/cTaskDialog.h"

#include <algorithm>
#include <cmath>

#include "support/eventloop.h"
#include "support/text.h"
#include "taskdialog/mTDHelper.h"

namespace qv {

namespace {

const char* const kFooterReserved = "$input";
const char* const kCrLf = "\r\n";

// Pixel results are rounded half to even, as the assignment of a
// floating-point expression to an integer did in the original tool.
int32_t Px(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

// The common buttons in the order of their bits, with the id each reports.
struct CommonButton {
  uint32_t bit;
  int32_t id;
};
const CommonButton kCommonButtons[6] = {
    {TDCBF_OK_BUTTON, IDOK_},        {TDCBF_YES_BUTTON, IDYES_BUTTON},
    {TDCBF_NO_BUTTON, IDNO_BUTTON},  {TDCBF_CANCEL_BUTTON, IDCANCEL_},
    {TDCBF_RETRY_BUTTON, IDRETRY_},  {TDCBF_CLOSE_BUTTON, IDCLOSE_}};


}  // namespace

cTaskDialog::cTaskDialog() : platform_(&TdPlatform()) {
  dpiScaleX_ = platform_->DpiScaleX();
  dpiScaleY_ = platform_->DpiScaleY();
  font_ = platform_->CreateControlFont();
  relayoutDelay_ = platform_->MinAnimate() == "1" ? 5 : 0;
  programTitle_ = platform_->ProgramTitle();
  title_ = programTitle_;
}

cTaskDialog::~cTaskDialog() {
  // The platform of the process now (a test's layer may be gone already).
  TaskDialogPlatform& p = TdPlatform();
  if (font_) p.DeleteObject(font_);
  if (logoBrush_) p.DeleteObject(logoBrush_);
}

void cTaskDialog::Init() {
  title_ = programTitle_;
  mainInstruction_.clear();
  content_.clear();
  footer_.clear();
  expandedInfo_.clear();
  expandedInfoSet_ = false;
  expandedControlText_.clear();
  collapsedControlText_.clear();
  verifyText_.clear();
  iconMain_ = iconFooter_ = iconReplaceGradient_ = 0;
  flags_ = commonButtons_ = 0;
  defaultButton_ = defaultRadioButton_ = width_ = 0;
  parentHwnd_ = hInst_ = 0;
  pageIndex_ = 0;
  defaultCustomControl_ = 0;

  inputTextStore_.clear();
  inputCueBanner_.clear();
  inputIsPassword_ = false;
  inputAlign_ = inputAlignInFooter_ = inputOffsetX_ = inputWidth_ = inputBoxTextAlign_ = 0;

  comboStyle_ = comboAlign_ = comboAlignInFooter_ = comboOffsetX_ = comboWidth_ = comboHeight_ =
      comboDropWidth_ = 0;
  comboCueBanner_.clear();
  comboImageList_ = 0;
  comboItems_.clear();
  comboInitialItem_ = -1;
  comboNewIndex_ = -1;
  comboIndexStore_ = -1;
  comboTextStore_.clear();

  sliderAlign_ = sliderAlignInFooter_ = sliderOffsetX_ = sliderWidth_ = sliderTickStyle_ = 0;
  sliderMin_ = 0;
  sliderMax_ = 10;
  sliderTicFreq_ = 1;
  sliderSmall_ = 1;
  sliderLarge_ = 2;
  sliderValue_ = 0;

  dateTimeType_ = dateTimeAlign_ = dateTimeAlignInFooter_ = dateTimeOffsetX_ = 0;
  dateTimeValue_ = dateTimeMin_ = dateTimeMax_ = TdDateTime{};
  dateTimeChecked_ = dateTimeRangeSet_ = dateTimeInitialSet_ = false;

  customButtons_.clear();
  customIcons_.clear();
  radioButtons_.clear();
  holdList_ = {0};
  elevatedList_ = {0};
  disabledList_ = {0};
  disabledRadioList_ = {0};
  hasElevated_ = hasDisabled_ = hasDisabledRadio_ = false;
  splitButton_ = 0;
  std::fill(std::begin(commonButtonIcons_), std::end(commonButtonIcons_), 0);
  hWndInput_ = hWndCombo_ = hWndComboEdit_ = hWndDateTime_ = hWndDateTime2_ = hWndSlider_ = 0;
  hWndLogo_ = 0;
  logoImage_ = 0;
  logoType_ = logoPosition_ = logoOffsetX_ = logoOffsetY_ = 0;
  buttonIconSize_ = 16;
}

// ---------------------------------------------------------------------------
// Lists

void cTaskDialog::ListAdd(std::vector<int32_t>& list, int32_t id) {
  if (ListEmpty(list))
    list = {id};
  else
    list.push_back(id);
}

void cTaskDialog::ListRemove(std::vector<int32_t>& list, int32_t id) {
  std::vector<int32_t> rest;
  for (int32_t v : list)
    if (v != id && v != 0) rest.push_back(v);
  if (rest.empty()) rest.push_back(0);
  list = std::move(rest);
}

bool cTaskDialog::ListHas(const std::vector<int32_t>& list, int32_t id) {
  return id != 0 && std::find(list.begin(), list.end(), id) != list.end();
}

bool cTaskDialog::ListEmpty(const std::vector<int32_t>& list) {
  return list.empty() || (list.size() == 1 && list[0] == 0);
}

bool cTaskDialog::EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void cTaskDialog::AddCustomButton(int32_t id, const std::string& text, intptr_t icon) {
  customButtons_.push_back(TdButton{id, text});
  customIcons_.push_back(icon);
}

void cTaskDialog::AddRadioButton(int32_t id, const std::string& text) {
  radioButtons_.push_back(TdButton{id, text});
}

void cTaskDialog::ClearCustomButtons() {
  customButtons_.clear();
  customIcons_.clear();
}

void cTaskDialog::ClearRadioButtons() { radioButtons_.clear(); }

void cTaskDialog::SetButtonHold(int32_t id) { ListAdd(holdList_, id); }

void cTaskDialog::ReleaseButtonHold(int32_t id) {
  if (ListHas(holdList_, id)) ListRemove(holdList_, id);
}

void cTaskDialog::SetButtonElevated(int32_t id, int32_t state) {
  if (hWndDlg_) {
    platform_->SendMessage(hWndDlg_, TDM_SET_BUTTON_ELEVATION_REQUIRED_STATE,
                           static_cast<uintptr_t>(id), state);
    return;
  }
  if (state != 0) {
    ListAdd(elevatedList_, id);
  } else {
    ListRemove(elevatedList_, id);
  }
  hasElevated_ = !ListEmpty(elevatedList_);
}

void cTaskDialog::EnableButton(int32_t id, bool enable) {
  if (hWndDlg_) {
    platform_->SendMessage(hWndDlg_, TDM_ENABLE_BUTTON, static_cast<uintptr_t>(id), enable ? 1 : 0);
    return;
  }
  if (!enable)
    ListAdd(disabledList_, id);
  else
    ListRemove(disabledList_, id);
  hasDisabled_ = !ListEmpty(disabledList_);
}

void cTaskDialog::EnableRadioButton(int32_t id, bool enable) {
  if (hWndDlg_) {
    platform_->SendMessage(hWndDlg_, TDM_ENABLE_RADIO_BUTTON, static_cast<uintptr_t>(id),
                           enable ? 1 : 0);
    return;
  }
  if (!enable)
    ListAdd(disabledRadioList_, id);
  else
    ListRemove(disabledRadioList_, id);
  hasDisabledRadio_ = !ListEmpty(disabledRadioList_);
}

void cTaskDialog::SetCommonButtonIcon(int32_t commonButton, intptr_t icon) {
  // Accepts the button's bit (TDCBF_*) or its id.
  for (int i = 0; i < 6; ++i)
    if (static_cast<int32_t>(kCommonButtons[i].bit) == commonButton ||
        kCommonButtons[i].id == commonButton) {
      commonButtonIcons_[i] = icon;
      return;
    }
}

void cTaskDialog::SetLogoImage(intptr_t image, int32_t type, int32_t position, int32_t offsetX,
                               int32_t offsetY) {
  logoImage_ = image;
  logoType_ = type;
  logoPosition_ = position;
  logoOffsetX_ = offsetX;
  logoOffsetY_ = offsetY;
}

// ---------------------------------------------------------------------------
// Properties with live effects

void cTaskDialog::UpdateText(uint32_t element, const std::string& text, bool grows) {
  if (hWndDlg_) platform_->SetElementText(hWndDlg_, element, text, grows);
}

bool cTaskDialog::MayNeedMoreRoom(const std::string& before, const std::string& after) {
  // A footer that gains a line (a reason under a refusal) or simply grows
  // may wrap onto one more line: the dialog must grow with it. A text of the
  // same size or shorter is replaced in place, without relayout (the
  // percentages of a progress footer would otherwise relayout on each step).
  auto lines = [](const std::string& s) { return std::count(s.begin(), s.end(), '\n'); };
  return lines(after) != lines(before) || after.size() > before.size();
}

void cTaskDialog::RepaintHost() {
  WindowHandle host = platform_->FindWindowEx(hWndDlg_, 0, "DirectUIHWND");
  if (host) {
    hWndDUI_ = host;
    platform_->InvalidateRect(host, true);
  }
}

void cTaskDialog::UpdateIcon(uint32_t slot, intptr_t value) {
  if (!hWndDlg_) return;
  platform_->SendMessage(hWndDlg_, TDM_UPDATE_ICON, slot, value);
  RepaintHost();
}

void cTaskDialog::MainInstruction(const std::string& v) {
  mainInstruction_ = v;
  UpdateText(TDE_MAIN_INSTRUCTION, mainInstruction_, false);
}

void cTaskDialog::Content(const std::string& v) {
  content_ = v;
  if ((flags_ & TDF_X_INPUT) && inputAlign_ == 0 && !EndsWith(content_, kCrLf)) content_ += kCrLf;
  UpdateText(TDE_CONTENT, content_, false);
}

void cTaskDialog::Footer(const std::string& v) {
  // Only the footer grows the dialog: it stands below everything else, so a
  // relayout moves no injected control (except a box placed in the footer).
  const bool grows = MayNeedMoreRoom(footer_, v) && !((flags_ & TDF_X_INPUT) && inputAlign_ == 2);
  footer_ = v;
  UpdateText(TDE_FOOTER, footer_, grows);
}

void cTaskDialog::ExpandedInfo(const std::string& v) {
  expandedInfo_ = v;
  expandedInfoSet_ = true;
  UpdateText(TDE_EXPANDED_INFORMATION, expandedInfo_, false);
}

intptr_t cTaskDialog::Ordinal(intptr_t icon, bool handle) const {
  return handle ? icon : static_cast<intptr_t>(static_cast<uint16_t>(icon & 0xFFFF));
}

void cTaskDialog::IconMain(intptr_t v) {
  iconMain_ = v;
  UpdateIcon(TDIE_ICON_MAIN, Ordinal(v, flags_ & TDF_USE_HICON_MAIN));
}

void cTaskDialog::IconFooter(intptr_t v) {
  iconFooter_ = v;
  UpdateIcon(TDIE_ICON_FOOTER, Ordinal(v, flags_ & TDF_USE_HICON_FOOTER));
}

void cTaskDialog::IconReplaceGradient(intptr_t v) {
  iconReplaceGradient_ = v;
  if (flags_ & TDF_X_ICON_AFTER_BUILD) UpdateIcon(TDIE_ICON_MAIN, v);
}

std::string cTaskDialog::InputText() {
  if (hWndInput_ && hWndDlg_) inputTextStore_ = platform_->GetWindowText(hWndInput_);
  return inputTextStore_;
}

void cTaskDialog::InputText(const std::string& v) {
  inputTextStore_ = v;
  if (hWndInput_ && hWndDlg_) platform_->SetWindowText(hWndInput_, v);
}

void cTaskDialog::InputIsPassword(bool v) {
  if (v == inputIsPassword_) return;
  inputIsPassword_ = v;
  if (hWndInput_ && hWndDlg_) {
    intptr_t style = platform_->GetWindowLong(hWndInput_, GWL_STYLE_);
    style = v ? (style | ES_PASSWORD_) : (style & ~static_cast<intptr_t>(ES_PASSWORD_));
    platform_->SetWindowLong(hWndInput_, GWL_STYLE_, style);
    // The edit control reads the style only at creation; the mask character
    // is what switches a live box.
    platform_->SendMessage(hWndInput_, EM_SETPASSWORDCHAR_, v ? 0x25CF : 0, 0);
    platform_->InvalidateRect(hWndInput_, true);
  }
}

void cTaskDialog::InputCueBanner(const std::string& v) {
  inputCueBanner_ = v;
  if (hWndInput_ && hWndDlg_)
    platform_->SetCueBanner(hWndInput_, inputCueBanner_);
}

void cTaskDialog::InputBoxTextAlign(int32_t v) {
  if (v == inputBoxTextAlign_) return;
  inputBoxTextAlign_ = v;
  if (hWndInput_ && hWndDlg_) {
    intptr_t style = platform_->GetWindowLong(hWndInput_, GWL_STYLE_);
    style &= ~static_cast<intptr_t>(ES_CENTER_ | ES_RIGHT_);
    if (v == 1) style |= ES_RIGHT_;
    if (v == 2) style |= ES_CENTER_;
    platform_->SetWindowLong(hWndInput_, GWL_STYLE_, style);
    platform_->InvalidateRect(hWndInput_, true);
  }
}

void cTaskDialog::ComboDropWidth(int32_t v) {
  comboDropWidth_ = v;
  if (hWndCombo_ && hWndDlg_) platform_->SendMessage(hWndCombo_, CB_SETDROPPEDWIDTH_, v, 0);
}

int32_t cTaskDialog::ComboIndex() {
  if (hWndCombo_ && hWndDlg_)
    return static_cast<int32_t>(platform_->SendMessage(hWndCombo_, CB_GETCURSEL_, 0, 0));
  return -1;
}

void cTaskDialog::ComboIndex(int32_t v) {
  comboIndexStore_ = v;
  if (hWndCombo_ && hWndDlg_)
    platform_->SendMessage(hWndCombo_, CB_SETCURSEL_, static_cast<uintptr_t>(v), 0);
}

std::string cTaskDialog::ComboText() {
  if (hWndComboEdit_ && hWndDlg_) comboTextStore_ = platform_->GetWindowText(hWndComboEdit_);
  return comboTextStore_;
}

void cTaskDialog::ComboText(const std::string& v) {
  comboTextStore_ = v;
  if (hWndComboEdit_ && hWndDlg_) platform_->SetWindowText(hWndComboEdit_, v);
}

void cTaskDialog::ComboAddItem(const std::string& text, int32_t image, int32_t overlay,
                               intptr_t itemData, int32_t indent) {
  comboItems_.push_back(TdComboItem{text, image, overlay, indent, itemData});
  comboNewIndex_ = static_cast<int32_t>(comboItems_.size()) - 1;
  if (hWndCombo_ && hWndDlg_)
    platform_->ComboInsertItem(hWndCombo_, comboNewIndex_, text, image, overlay, indent, itemData);
}

int32_t cTaskDialog::SliderValue() {
  if (hWndSlider_ && hWndDlg_)
    sliderValue_ = static_cast<int32_t>(platform_->SendMessage(hWndSlider_, TBM_GETPOS_, 0, 0));
  return sliderValue_;
}

void cTaskDialog::SliderValue(int32_t v) {
  sliderValue_ = v;
  if (hWndSlider_ && hWndDlg_) platform_->SendMessage(hWndSlider_, TBM_SETPOS_, 1, v);
}

void cTaskDialog::SliderSetRange(int32_t minimum, int32_t maximum, int32_t tickFrequency) {
  sliderMin_ = minimum;
  sliderMax_ = maximum;
  if (tickFrequency != 0) sliderTicFreq_ = tickFrequency;
  if (hWndSlider_ && hWndDlg_) {
    platform_->SendMessage(hWndSlider_, TBM_SETRANGEMIN_, 0, minimum);
    platform_->SendMessage(hWndSlider_, TBM_SETRANGEMAX_, 1, maximum);
    if (tickFrequency != 0)
      platform_->SendMessage(hWndSlider_, TBM_SETTICFREQ_, static_cast<uintptr_t>(tickFrequency),
                             0);
  }
}

void cTaskDialog::SliderSetChangeValues(int32_t smallChange, int32_t largeChange) {
  sliderSmall_ = smallChange;
  sliderLarge_ = largeChange;
  if (hWndSlider_ && hWndDlg_) {
    platform_->SendMessage(hWndSlider_, TBM_SETLINESIZE_, 0, smallChange);
    platform_->SendMessage(hWndSlider_, TBM_SETPAGESIZE_, 0, largeChange);
  }
}

TdDateTime cTaskDialog::DateTimeValue() {
  if (hWndDateTime_ && hWndDlg_) {
    TdDateTime v;
    dateTimeChecked_ = platform_->GetDateTime(hWndDateTime_, &v);
    if (dateTimeChecked_) dateTimeValue_ = v;
  }
  return dateTimeValue_;
}

void cTaskDialog::DateTimeValue(const TdDateTime& v) {
  dateTimeValue_ = v;
  if (hWndDateTime_ && hWndDlg_) platform_->SetDateTime(hWndDateTime_, &v);
  if (hWndDateTime2_ && hWndDlg_) platform_->SetDateTime(hWndDateTime2_, &v);
}

bool cTaskDialog::DateTimeChecked() {
  if (hWndDateTime_ && hWndDlg_) {
    TdDateTime v;
    dateTimeChecked_ = platform_->GetDateTime(hWndDateTime_, &v);
  }
  return dateTimeChecked_;
}

void cTaskDialog::DateTimeChecked(bool v) {
  dateTimeChecked_ = v;
  if (hWndDateTime_ && hWndDlg_) platform_->SetDateTime(hWndDateTime_, v ? &dateTimeValue_ : nullptr);
}

void cTaskDialog::DateTimeSetRange(const TdDateTime& minimum, const TdDateTime& maximum) {
  dateTimeMin_ = minimum;
  dateTimeMax_ = maximum;
  dateTimeRangeSet_ = true;
  if (hWndDateTime_ && hWndDlg_) platform_->SetDateTimeRange(hWndDateTime_, minimum, maximum);
  if (hWndDateTime2_ && hWndDlg_) platform_->SetDateTimeRange(hWndDateTime2_, minimum, maximum);
}

void cTaskDialog::DateTimeSetInitial(const TdDateTime& value) {
  dateTimeValue_ = value;
  dateTimeInitialSet_ = true;
}

// ---------------------------------------------------------------------------
// Showing

bool cTaskDialog::ControlFlagged(int c) const {
  switch (c) {
    case kInput: return flags_ & TDF_X_INPUT;
    case kCombo: return flags_ & TDF_X_COMBO;
    case kDateTime: return flags_ & TDF_X_DATETIME;
    case kSlider: return flags_ & TDF_X_SLIDER;
  }
  return false;
}

bool cTaskDialog::AnyControlFlag() const {
  return flags_ & (TDF_X_INPUT | TDF_X_COMBO | TDF_X_DATETIME | TDF_X_SLIDER);
}

int32_t cTaskDialog::AlignOf(int c) const {
  switch (c) {
    case kInput: return inputAlign_;
    case kCombo: return comboAlign_;
    case kDateTime: return dateTimeAlign_;
    case kSlider: return sliderAlign_;
  }
  return 0;
}

int32_t cTaskDialog::AlignInFooterOf(int c) const {
  switch (c) {
    case kInput: return inputAlignInFooter_;
    case kCombo: return comboAlignInFooter_;
    case kDateTime: return dateTimeAlignInFooter_;
    case kSlider: return sliderAlignInFooter_;
  }
  return 0;
}

void cTaskDialog::PrepareRecord(TaskDialogConfig& rec) {
  countdownStart_ = autocloseTime_;

  // Room for the injected controls.
  bool inFooter = false, inContent = false;
  for (int c = 0; c < 4; ++c) {
    if (!ControlFlagged(c)) continue;
    if (AlignOf(c) == 2) inFooter = true;
    if (AlignOf(c) == 0) inContent = true;
  }
  footerReserved_ = false;
  if (inFooter && footer_.empty()) footer_ = kFooterReserved;
  if (footer_ == kFooterReserved) {
    footer_ = " ";
    footerReserved_ = true;
  }
  contentBreaks_ = 0;
  contentHasLink_ = false;
  if (inContent) {
    if (!content_.empty()) {
      content_ += kCrLf;
      content_ += kCrLf;
      if ((flags_ & TDF_ENABLE_HYPERLINKS) &&
          AsciiLower(content_).find("<a href") != std::string::npos) {
        content_ += " ";
        contentHasLink_ = true;
      }
      contentBreaks_ = 2;
    } else if (!EndsWith(mainInstruction_, kCrLf)) {
      mainInstruction_ += kCrLf;
    }
    if (!expandedInfo_.empty()) {
      if (!EndsWith(expandedInfo_, kCrLf)) expandedInfo_ += kCrLf;
      if (!EndsWith(expandedInfo_, "\r\n\r\n")) expandedInfo_ += kCrLf;
    }
  }

  // The timer: the caller's, or the component's own for relayout and auto-close.
  uint32_t flags = flags_;
  timerEvents_ = flags_ & TDF_CALLBACK_TIMER;
  resetTimer_ = false;
  if (!timerEvents_) {
    if ((AnyControlFlag() && !expandedInfo_.empty() && !(flags_ & TDF_EXPAND_FOOTER_AREA)) ||
        countdownStart_ > 0)
      flags |= TDF_CALLBACK_TIMER;
  }

  rec = TaskDialogConfig{};
  rec.cbSize = 96;
  rec.hwndParent = parentHwnd_;
  rec.hInstance = hInst_;
  rec.dwFlags = flags;
  rec.dwCommonButtons = commonButtons_;
  rec.pszWindowTitle = title_;
  rec.mainIcon = Ordinal(iconMain_, flags_ & TDF_USE_HICON_MAIN);
  rec.pszMainInstruction = mainInstruction_;
  rec.pszContent = content_;
  rec.buttons = customButtons_;
  rec.nDefaultButton = defaultButton_;
  rec.radioButtons = radioButtons_;
  rec.nDefaultRadioButton = defaultRadioButton_;
  rec.pszVerificationText = verifyText_;
  rec.hasExpandedInformation = expandedInfoSet_;
  rec.pszExpandedInformation = expandedInfo_;
  rec.pszExpandedControlText = expandedControlText_;
  rec.pszCollapsedControlText = collapsedControlText_;
  rec.footerIcon = Ordinal(iconFooter_, flags_ & TDF_USE_HICON_FOOTER);
  rec.pszFooter = footer_;
  rec.cxWidth = static_cast<uint32_t>(width_);

  if (flags_ & (TDF_X_SHELL32_ICONS | TDF_X_IMAGERES_ICONS)) {
    rec.hInstance = platform_->ModuleHandle((flags_ & TDF_X_SHELL32_ICONS) ? TdModule::Shell32
                                                                           : TdModule::Imageres);
    rec.mainIcon = Ordinal(iconMain_, false);
    rec.footerIcon = Ordinal(iconFooter_, false);
  }
  rec.pfCallback = &mTDHelper::TaskDialogCallbackProc;
  rec.lpCallbackData = reinterpret_cast<intptr_t>(this);
}

bool cTaskDialog::ShowDialog() {
  // An object made before its dialog layer was installed shows on that layer.
  if (!hWndDlg_) platform_ = &TdPlatform();
  PrepareRecord(config_);
  resultComboIndex_ = -1;
  resultComboText_.clear();
  inputCreated_ = comboCreated_ = dateTimeCreated_ = sliderCreated_ = false;
  relayoutPending_ = false;
  relayoutTicks_ = 0;

  int32_t button = 0, radio = 0, verify = 0;
  bool activated = platform_->ActivateContext();
  int32_t hr = platform_->TaskDialogIndirect(config_, &button, &radio, &verify);
  if (activated) platform_->DeactivateContext();
  if (hr != 0) button = radio = verify = 0;
  // After a navigation the page object received the destruction; this object's
  // window is gone all the same.
  hWndDlg_ = 0;
  resultMain_ = button;
  resultRad_ = radio;
  resultVerify_ = verify;
  mTDHelper::RethrowPendingEnd();
  return button != 0;
}

int32_t cTaskDialog::SimpleDialog(const std::string& message, uint32_t commonButtons,
                                  const std::string& title, const std::string& mainText,
                                  intptr_t icon, WindowHandle owner, WindowHandle instance) {
  int32_t button = 0;
  if (!hWndDlg_) platform_ = &TdPlatform();
  bool activated = platform_->ActivateContext();
  int32_t hr = platform_->TaskDialog(owner, instance, title.empty() ? programTitle_ : title,
                                     mainText, message, commonButtons, Ordinal(icon, false),
                                     &button);
  if (activated) platform_->DeactivateContext();
  return hr == 0 ? button : 0;
}

// ---------------------------------------------------------------------------
// Runtime operations

void cTaskDialog::ProgressSetRange(int32_t minimum, int32_t maximum) {
  if (!hWndDlg_) return;
  intptr_t range = static_cast<intptr_t>((static_cast<uint32_t>(minimum) & 0xFFFF) |
                                         ((static_cast<uint32_t>(maximum) & 0xFFFF) << 16));
  platform_->SendMessage(hWndDlg_, TDM_SET_PROGRESS_BAR_RANGE, 0, range);
}

void cTaskDialog::ProgressSetValue(int32_t position) {
  if (hWndDlg_)
    platform_->SendMessage(hWndDlg_, TDM_SET_PROGRESS_BAR_POS, static_cast<uintptr_t>(position), 0);
}

void cTaskDialog::ProgressSetType(int32_t marquee) {
  if (hWndDlg_)
    platform_->SendMessage(hWndDlg_, TDM_SET_MARQUEE_PROGRESS_BAR, static_cast<uintptr_t>(marquee),
                           0);
}

void cTaskDialog::ProgressSetState(int32_t state) {
  if (hWndDlg_)
    platform_->SendMessage(hWndDlg_, TDM_SET_PROGRESS_BAR_STATE, static_cast<uintptr_t>(state), 0);
}

void cTaskDialog::ProgressStartMarquee(int32_t speed) {
  if (hWndDlg_) platform_->SendMessage(hWndDlg_, TDM_SET_PROGRESS_BAR_MARQUEE, 1, speed);
}

void cTaskDialog::ProgressStopMarquee() {
  if (hWndDlg_) platform_->SendMessage(hWndDlg_, TDM_SET_PROGRESS_BAR_MARQUEE, 0, 0);
}

void cTaskDialog::ClickButton(int32_t id) {
  if (hWndDlg_) platform_->SendMessage(hWndDlg_, TDM_CLICK_BUTTON, static_cast<uintptr_t>(id), 0);
}

void cTaskDialog::ClickRadioButton(int32_t id) {
  if (hWndDlg_)
    platform_->SendMessage(hWndDlg_, TDM_CLICK_RADIO_BUTTON, static_cast<uintptr_t>(id), 0);
}

void cTaskDialog::ClickVerification(int32_t checked, int32_t setFocus) {
  if (hWndDlg_)
    platform_->SendMessage(hWndDlg_, TDM_CLICK_VERIFICATION, static_cast<uintptr_t>(checked),
                           setFocus);
}

void cTaskDialog::CloseDialog() { ClickButton(IDCLOSE_); }

void cTaskDialog::NavigatePage(cTaskDialog& page) {
  try {
    page.PrepareRecord(page.config_);
    page.inputCreated_ = page.comboCreated_ = page.dateTimeCreated_ = page.sliderCreated_ = false;
    page.relayoutPending_ = false;
    page.relayoutTicks_ = 0;
    page.resultComboIndex_ = -1;
    page.resultComboText_.clear();
    platform_->NavigatePage(hWndDlg_, page.config_);
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------
// Notifications

intptr_t cTaskDialog::zz_ProcessCallback(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                                         intptr_t lParam) {
  switch (msg) {
    case TDN_CREATED:
      OnCreated(hwnd, false);
      if (DialogCreated) DialogCreated(hwnd);
      return 0;
    case TDN_NAVIGATED:
      OnCreated(hwnd, true);
      if (Navigated) Navigated();
      return 0;
    case TDN_BUTTON_CLICKED: {
      int32_t id = static_cast<int32_t>(wParam);
      bool held = ListHas(holdList_, id);
      if (ButtonClick) ButtonClick(id);
      return held ? 1 : 0;
    }
    case TDN_HYPERLINK_CLICKED:
      if ((flags_ & TDF_X_OPEN_LINKS) && lParam)
        platform_->ShellOpen(reinterpret_cast<const char*>(lParam));
      if (HyperlinkClick) HyperlinkClick(lParam);
      return 0;
    case TDN_TIMER: {
      int64_t now = Loop().NowMs();
      lastTickMs_ = now;
      int32_t elapsed = static_cast<int32_t>((now - createdMs_) / 1000);
      if (countdownStart_ > 0 && elapsed > countdownStart_) {
        if (AutoClose) AutoClose();
        CloseDialog();
      } else {
        autocloseTime_ = countdownStart_ - elapsed;
      }
      if (relayoutPending_) {
        if (relayoutTicks_ == relayoutDelay_) {
          relayoutTicks_ = 0;
          relayoutPending_ = false;
          Relayout();
        } else {
          ++relayoutTicks_;
        }
      }
      if (timerEvents_) {
        if (Timer) Timer(static_cast<int32_t>(wParam));
        if (resetTimer_) {
          resetTimer_ = false;
          return 1;
        }
      }
      return 0;
    }
    case TDN_DESTROYED:
      CaptureResults();
      if (DialogDestroyed) DialogDestroyed();
      hWndDlg_ = 0;
      hWndDUI_ = 0;
      hWndInput_ = hWndCombo_ = hWndComboEdit_ = hWndDateTime_ = hWndDateTime2_ = hWndSlider_ = 0;
      hWndLogo_ = 0;
      return 0;
    case TDN_RADIO_BUTTON_CLICKED:
      resultRad_ = static_cast<int32_t>(wParam);
      if (RadioButtonClick) RadioButtonClick(static_cast<int32_t>(wParam));
      return 0;
    case TDN_DIALOG_CONSTRUCTED:
      if (flags_ & TDF_X_ICON_AFTER_BUILD)
        platform_->SendMessage(hwnd, TDM_UPDATE_ICON, TDIE_ICON_MAIN, iconReplaceGradient_);
      if (DialogConstucted) DialogConstucted(hwnd);
      return 0;
    case TDN_VERIFICATION_CLICKED:
      resultVerify_ = static_cast<int32_t>(wParam);
      if (VerificationClicked) VerificationClicked(static_cast<int32_t>(wParam));
      return 0;
    case TDN_HELP:
      if (Help) Help();
      return 0;
    case TDN_EXPANDO_BUTTON_CLICKED:
      if (AnyControlFlag() && !(flags_ & TDF_EXPAND_FOOTER_AREA)) {
        lastClientHeight_ = platform_->GetClientRect(hWndDlg_).Height();
        const bool links = flags_ & TDF_ENABLE_HYPERLINKS;
        std::string c = content_;
        if (wParam != 0) {
          size_t cut = contentBreaks_ == 1 ? 2 : contentBreaks_ == 2 ? (links ? 5 : 4) : 0;
          c.resize(c.size() >= cut ? c.size() - cut : 0);
        } else if (contentBreaks_ == 1) {
          c += kCrLf;
        } else if (contentBreaks_ == 2) {
          c += "\r\n\r\n";
          if (links) c += " ";
        }
        if (contentBreaks_ != 0) Content(c);
        relayoutPending_ = true;
      }
      if (ExpandButtonClicked) ExpandButtonClicked(static_cast<int32_t>(wParam));
      return 0;
  }
  return 0;
}

void cTaskDialog::OnCreated(WindowHandle hwnd, bool navigated) {
  hWndDlg_ = hwnd;
  createdMs_ = Loop().NowMs();
  lastTickMs_ = createdMs_;
  ScanButtons();
  // Task dialogs that draw their content with ordinary child windows (Wine's
  // comctl32, for one) have no content host: the dialog window itself hosts
  // the injected controls, in the same client coordinates as its buttons.
  if (!hWndDUI_) hWndDUI_ = hwnd;
  try {
    DecorateButtons();
  } catch (...) {
  }
  ApplyPendingLists();
  CreateControls();
  bool logo = false;
  if (logoImage_ && !hWndLogo_) {
    PlaceLogo();
    logo = hWndLogo_ != 0 && !navigated;
  }
  FocusControl();
  if (hWndDUI_ && ((flags_ & (TDF_X_INPUT | TDF_X_DATETIME | TDF_X_SLIDER)) || logo)) {
    uintptr_t id = static_cast<uintptr_t>(hWndDlg_ ? hWndDlg_ : hWndDUI_);
    platform_->SetWindowSubclass(hWndDUI_, &mTDHelper::SubclassProc, id,
                                 reinterpret_cast<intptr_t>(this));
    subclassed_ = true;
  }
}

void cTaskDialog::ScanButtons() {
  buttonLefts_.clear();
  buttonWindows_.clear();
  for (auto& r : ref_) r = RefButton{};
  platform_->EnumChildWindows(hWndDlg_, &mTDHelper::EnumChildProc,
                              reinterpret_cast<intptr_t>(this));
}

int32_t cTaskDialog::zz_ProcessEnumCallback(WindowHandle hwnd) {
  std::string cls = platform_->GetClassName(hwnd);
  if (cls.size() > 64) cls.resize(64);
  if (auto nul = cls.find('\0'); nul != std::string::npos) cls.resize(nul);
  if (cls == "DirectUIHWND") {
    hWndDUI_ = hwnd;
  } else if (cls == "Button") {
    TdRect r = platform_->GetWindowRect(hwnd);
    TdPoint p = platform_->ScreenToClient(hWndDlg_, TdPoint{r.left, r.top});
    buttonLefts_.push_back(p.x);
    buttonWindows_.push_back(hwnd);
    for (int c = 0; c < 4; ++c) {
      RefButton& ref = ref_[c];
      bool take;
      if (AlignOf(c) == 0)
        take = !ref.seen || (p.y < ref.top && p.y >= 11);
      else
        take = !ref.seen || p.y > ref.top;
      if (take) ref = RefButton{p.y, p.x, true};
    }
  }
  return 1;
}

void cTaskDialog::DecorateButtons() {
  auto setIcon = [&](WindowHandle button, intptr_t icon) {
    if (!icon || !button) return;
    if (flags_ & (TDF_X_SHELL32_BUTTON_ICONS | TDF_X_IMAGERES_BUTTON_ICONS)) {
      TdModule m = (flags_ & TDF_X_SHELL32_BUTTON_ICONS) ? TdModule::Shell32 : TdModule::Imageres;
      intptr_t loaded = platform_->LoadIcon(m, static_cast<int32_t>(icon), buttonIconSize_);
      if (loaded) {
        platform_->SendMessage(button, BM_SETIMAGE_, 1, loaded);
        platform_->DestroyIcon(loaded);
      }
    } else {
      platform_->SendMessage(button, BM_SETIMAGE_, 1, icon);
    }
  };
  const size_t radios = radioButtons_.size();
  for (size_t i = 0; i < customButtons_.size(); ++i) {
    size_t at = radios + i;
    if (at >= buttonWindows_.size()) break;
    WindowHandle w = buttonWindows_[at];
    setIcon(w, customIcons_[i]);
    if (splitButton_ != 0 && customButtons_[i].id == splitButton_) {
      platform_->SetWindowSubclass(w, &mTDHelper::SubclassProc,
                                   static_cast<uintptr_t>(splitButton_),
                                   reinterpret_cast<intptr_t>(this));
      platform_->SetWindowLong(w, GWL_STYLE_, platform_->GetWindowLong(w, GWL_STYLE_) | BS_SPLITBUTTON_);
    }
  }
  size_t at = radios + customButtons_.size();
  for (int k = 0; k < 6; ++k) {
    if (!(commonButtons_ & kCommonButtons[k].bit)) continue;
    if (at < buttonWindows_.size()) setIcon(buttonWindows_[at], commonButtonIcons_[k]);
    ++at;
  }
}

void cTaskDialog::ApplyPendingLists() {
  for (int32_t id : elevatedList_)
    if (id != 0)
      platform_->SendMessage(hWndDlg_, TDM_SET_BUTTON_ELEVATION_REQUIRED_STATE,
                             static_cast<uintptr_t>(id), 1);
  for (int32_t id : disabledList_)
    if (id != 0) platform_->SendMessage(hWndDlg_, TDM_ENABLE_BUTTON, static_cast<uintptr_t>(id), 0);
  for (int32_t id : disabledRadioList_)
    if (id != 0)
      platform_->SendMessage(hWndDlg_, TDM_ENABLE_RADIO_BUTTON, static_cast<uintptr_t>(id), 0);
}

void cTaskDialog::CreateControls() {
  if ((flags_ & TDF_X_INPUT) && !inputCreated_) CreateInputBox();
  if ((flags_ & TDF_X_COMBO) && !comboCreated_) CreateCombo();
  if ((flags_ & TDF_X_DATETIME) && !dateTimeCreated_) CreateDateTime();
  if ((flags_ & TDF_X_SLIDER) && !sliderCreated_) CreateSlider();
}

int32_t cTaskDialog::CommonButtonsLeft() const {
  const bool links = flags_ & (TDF_USE_COMMAND_LINKS | TDF_USE_COMMAND_LINKS_NO_ICON);
  if (links && customButtons_.empty()) return -1;
  size_t skip = radioButtons_.size() + (links ? customButtons_.size() : 0);
  std::vector<int32_t> lefts = buttonLefts_;
  std::sort(lefts.begin(), lefts.end());
  if (skip >= lefts.size()) return -1;
  return lefts[skip];
}

cTaskDialog::Placement cTaskDialog::ComputePlacement(int c, int32_t cx, int32_t cy,
                                                     bool relayout) {
  const double sx = dpiScaleX_, sy = dpiScaleY_;
  TdRect client = platform_->GetClientRect(hWndDlg_);
  const int32_t W = client.Width(), H = client.Height();
  const bool links = flags_ & (TDF_USE_COMMAND_LINKS | TDF_USE_COMMAND_LINKS_NO_ICON);
  const int32_t wish = c == kInput ? inputWidth_ : c == kCombo ? comboWidth_
                                             : c == kSlider   ? sliderWidth_
                                                              : 0;
  Placement p;
  p.cy = cy;
  switch (AlignOf(c)) {
    case 1: {
      p.x = 10;
      p.y = ref_[c].top;
      if (wish > 0)
        p.cx = wish;
      else if (cx > 0)
        p.cx = cx;
      else
        p.cx = std::max(CommonButtonsLeft() - 20, 10);
      break;
    }
    case 2: {
      if (wish == -1)
        p.cx = Px(W - (16 * sx + 32));
      else
        p.cx = wish > 0 ? wish : (cx > 0 ? cx : Px(180 * sx));
      switch (AlignInFooterOf(c)) {
        case 1:
          p.x = Px(16 * sx + 16) + Px(W - (16 * sx + 16) - 10 - p.cx) / 2;
          break;
        case 2:
          p.x = W - p.cx - 10;
          break;
        default:
          p.x = Px(32 * sx);
      }
      double off = relayout ? 30 : 29;
      if (!relayout && !expandedInfo_.empty() && (flags_ & TDF_EXPAND_FOOTER_AREA) &&
          (flags_ & TDF_EXPANDED_BY_DEFAULT))
        off = 63;
      p.y = Px(H - off * sy);
      break;
    }
    default: {
      bool noIcon = iconMain_ == 0 || ((flags_ & TDF_X_ICON_AFTER_BUILD) && iconReplaceGradient_ == 0);
      p.x = noIcon ? 12 : Px(32 * sx + 20);
      double y = ref_[c].top;
      if (links || !radioButtons_.empty()) {
        y -= 34 * sy;
      } else {
        y -= (relayout || EndsWith(content_, "\r\n\r\n")) ? 44 * sy : 34 * sy;
        if (contentHasLink_) y -= 6 * sy;
      }
      if (flags_ & (TDF_SHOW_PROGRESS_BAR | TDF_SHOW_MARQUEE_PROGRESS_BAR)) y -= 22 * sy;
      if (!expandedInfo_.empty()) y -= 6 * sy;
      p.y = Px(y);
      p.cx = wish > 0 ? wish : (cx > 0 ? cx : W - p.x - 12);
    }
  }
  return p;
}

void cTaskDialog::CreateInputBox() {
  inputCreated_ = true;
  inputPlacement_ = ComputePlacement(kInput, 0, Px(22 * dpiScaleY_), false);
  if (inputAlign_ == 2 && (footer_.empty() || footer_ == kFooterReserved)) Footer(" ");
  uint32_t style = WS_CHILD_ | WS_VISIBLE_ | WS_TABSTOP_ | ES_AUTOHSCROLL_;
  if (inputBoxTextAlign_ == 1) style |= ES_RIGHT_;
  if (inputBoxTextAlign_ == 2) style |= ES_CENTER_;
  if (inputIsPassword_) style |= ES_PASSWORD_;
  const Placement& p = inputPlacement_;
  hWndInput_ = platform_->CreateWindowEx(WS_EX_CLIENTEDGE_, "Edit", "", style, p.x, p.y, p.cx,
                                         p.cy, hWndDUI_, kIdInput);
  if (!hWndInput_) return;
  platform_->SendMessage(hWndInput_, WM_SETFONT_, static_cast<uintptr_t>(font_), 0);
  if (!inputCueBanner_.empty())
    platform_->SetCueBanner(hWndInput_, inputCueBanner_);
  if (!inputTextStore_.empty()) {
    platform_->SetWindowText(hWndInput_, inputTextStore_);
    platform_->SendMessage(hWndInput_, EM_SETSEL_, 0, -1);
  }
}

void cTaskDialog::CreateCombo() {
  comboCreated_ = true;
  int32_t height = comboHeight_ >= 1 ? comboHeight_ : Px(115 * dpiScaleY_);
  Placement p = ComputePlacement(kCombo, comboWidth_ > 0 ? comboWidth_ : 0, height, false);
  if (comboAlign_ == 2 && (footer_.empty() || footer_ == kFooterReserved)) Footer(" ");
  uint32_t style = comboStyle_ != 0 ? 0x50010043u : 0x50010042u;
  hWndCombo_ = platform_->CreateWindowEx(0, "ComboBoxEx32", "", style, p.x, p.y, p.cx, height,
                                         hWndDUI_, kIdCombo);
  if (!hWndCombo_) return;
  platform_->SetWindowSubclass(hWndCombo_, &mTDHelper::SubclassProc,
                               static_cast<uintptr_t>(hWndDlg_ ? hWndDlg_ : hWndCombo_),
                               reinterpret_cast<intptr_t>(this));
  platform_->SendMessage(hWndCombo_, CBEM_SETUNICODEFORMAT_, 1, 0);
  platform_->SendMessage(hWndCombo_, WM_SETFONT_, static_cast<uintptr_t>(font_), 0);
  hWndComboEdit_ = platform_->SendMessage(hWndCombo_, CBEM_GETEDITCONTROL_, 0, 0);
  if (comboDropWidth_ > 0) platform_->SendMessage(hWndCombo_, CB_SETDROPPEDWIDTH_, comboDropWidth_, 0);
  if (!comboCueBanner_.empty() && hWndComboEdit_)
    platform_->SetCueBanner(hWndComboEdit_, comboCueBanner_);
  if (comboImageList_) platform_->SendMessage(hWndCombo_, CBEM_SETIMAGELIST_, 0, comboImageList_);
  for (size_t i = 0; i < comboItems_.size(); ++i) {
    const TdComboItem& it = comboItems_[i];
    platform_->ComboInsertItem(hWndCombo_, static_cast<int32_t>(i), it.text, it.image,
                               it.selectedImage, it.indent, it.itemData);
  }
  if (comboInitialItem_ >= 0)
    platform_->SendMessage(hWndCombo_, CB_SETCURSEL_, static_cast<uintptr_t>(comboInitialItem_), 0);
}

void cTaskDialog::CreateDateTime() {
  dateTimeCreated_ = true;
  const double sx = dpiScaleX_;
  // Widths of the first and second picker by type; 0 = no second picker.
  static const int kW1[8] = {100, 116, 90, 106, 100, 116, 100, 116};
  static const int kW2[8] = {0, 0, 0, 0, 90, 106, 106, 90};
  static const bool kCheck1[8] = {false, true, false, true, false, true, false, true};
  static const bool kTime1[8] = {false, false, true, true, false, false, false, false};
  static const bool kCheck2[8] = {false, false, false, false, false, true, true, false};
  int t = dateTimeType_ >= 0 && dateTimeType_ < 8 ? dateTimeType_ : 0;
  int32_t w1 = Px(kW1[t] * sx), w2 = Px(kW2[t] * sx);
  int32_t total = w2 ? w1 + Px(5 * sx) + w2 : w1;
  int32_t height = Px(24 * dpiScaleY_);
  Placement p = ComputePlacement(kDateTime, total, height, false);
  if (dateTimeAlign_ == 2 && (footer_.empty() || footer_ == kFooterReserved)) Footer(" ");
  int32_t x = p.x + dateTimeOffsetX_;
  auto make = [&](int32_t px, int32_t w, bool check, bool time, int32_t id) {
    uint32_t style = 0x50000000u | (check ? 2u : 0u) | (time ? 9u : 0u);
    WindowHandle h = platform_->CreateWindowEx(WS_EX_CLIENTEDGE_, "SysDateTimePick32", "", style,
                                               px, p.y, w, height, hWndDUI_, id);
    if (!h) return h;
    platform_->SendMessage(h, WM_SETFONT_, static_cast<uintptr_t>(font_), 0);
    if (dateTimeRangeSet_) platform_->SetDateTimeRange(h, dateTimeMin_, dateTimeMax_);
    if (dateTimeInitialSet_) platform_->SetDateTime(h, &dateTimeValue_);
    if (check) platform_->SetDateTime(h, dateTimeChecked_ ? &dateTimeValue_ : nullptr);
    return h;
  };
  hWndDateTime_ = make(x, w1, kCheck1[t], kTime1[t], kIdDateTime);
  if (w2) hWndDateTime2_ = make(x + w1 + Px(5 * sx), w2, kCheck2[t], true, kIdDateTime2);
}

void cTaskDialog::CreateSlider() {
  sliderCreated_ = true;
  int32_t height = Px(36 * dpiScaleY_);
  Placement p = ComputePlacement(kSlider, sliderWidth_ >= 1 ? sliderWidth_ : 0, height, false);
  if (sliderAlign_ == 2 && (footer_.empty() || footer_ == kFooterReserved)) Footer(" ");
  uint32_t style;
  switch (sliderTickStyle_) {
    case 1: style = 0x50001005u; break;
    case 2: style = 0x50001009u; break;
    case 3: style = 0x50001011u; break;
    default: style = 0x50001001u;
  }
  hWndSlider_ = platform_->CreateWindowEx(0, "msctls_trackbar32", "Slider", style, p.x, p.y, p.cx,
                                          height, hWndDUI_, kIdSlider);
  if (!hWndSlider_) return;
  platform_->SendMessage(hWndSlider_, TBM_SETRANGEMIN_, 0, sliderMin_);
  platform_->SendMessage(hWndSlider_, TBM_SETRANGEMAX_, 1, sliderMax_);
  platform_->SendMessage(hWndSlider_, TBM_SETTICFREQ_, static_cast<uintptr_t>(sliderTicFreq_), 0);
  platform_->SendMessage(hWndSlider_, TBM_SETLINESIZE_, 0, sliderSmall_);
  platform_->SendMessage(hWndSlider_, TBM_SETPAGESIZE_, 0, sliderLarge_);
  platform_->SendMessage(hWndSlider_, TBM_SETPOS_, 1, sliderValue_);
}

void cTaskDialog::PlaceLogo() {
  // A static bitmap control in the content host: top right, or in the button
  // row (position 1), shifted by the offsets.
  TdRect client = platform_->GetClientRect(hWndDlg_);
  int32_t x = client.Width() - 10 + logoOffsetX_;
  int32_t y = logoPosition_ == 1 ? ref_[kInput].top + logoOffsetY_ : logoOffsetY_;
  hWndLogo_ = platform_->CreateWindowEx(0, "Static", "", 0x5000000Eu /* SS_BITMAP */, x, y, 0, 0,
                                        hWndDUI_, kIdLogo);
  if (hWndLogo_) platform_->SendMessage(hWndLogo_, 0x0172 /* STM_SETIMAGE */, static_cast<uintptr_t>(logoType_), logoImage_);
}

void cTaskDialog::FocusControl() {
  WindowHandle handles[4] = {hWndInput_, hWndCombo_, hWndDateTime_, hWndSlider_};
  bool any = handles[0] || handles[1] || handles[2] || handles[3];
  if (!any) return;
  if (defaultCustomControl_ >= 1 && defaultCustomControl_ <= 4) {
    if (handles[defaultCustomControl_ - 1]) platform_->SetFocus(handles[defaultCustomControl_ - 1]);
    return;
  }
  for (int align = 0; align <= 2; ++align)
    for (int c = 0; c < 4; ++c)
      if (handles[c] && AlignOf(c) == align) {
        platform_->SetFocus(handles[c]);
        return;
      }
}

void cTaskDialog::Relayout() {
  ScanButtons();
  auto move = [&](int c, WindowHandle h) {
    if (!h || (AlignOf(c) != 0 && AlignOf(c) != 2)) return;
    TdRect r = platform_->GetWindowRect(h);
    Placement p = ComputePlacement(c, r.Width(), r.Height(), true);
    if (c == kDateTime) p.x += dateTimeOffsetX_;
    platform_->SetWindowPos(h, p.x, p.y, 0, 0, true, false);
    if (c == kInput) {
      inputPlacement_.x = p.x;
      inputPlacement_.y = p.y;
    }
    if (c == kDateTime && hWndDateTime2_) {
      TdRect r2 = platform_->GetWindowRect(hWndDateTime2_);
      platform_->SetWindowPos(hWndDateTime2_, p.x + (r2.left - r.left), p.y, 0, 0, true, false);
    }
  };
  move(kCombo, hWndCombo_);
  move(kSlider, hWndSlider_);
  move(kDateTime, hWndDateTime_);
  move(kInput, hWndInput_);
  if (hWndDUI_) {
    platform_->InvalidateRect(hWndDUI_, true);
    // Fitting the dialog around its content host means nothing when the
    // dialog is its own host; it would only grow at each relayout.
    if (dpiScaleY_ == 1.0f && hWndDUI_ != hWndDlg_) {
      TdRect c = platform_->GetClientRect(hWndDUI_);
      platform_->SetWindowPos(hWndDlg_, 0, 0, c.Width(), c.Height() + 28, false, true);
    }
  }
}

void cTaskDialog::CaptureResults() {
  if (hWndInput_) inputTextStore_ = platform_->GetWindowText(hWndInput_);
  if (hWndCombo_) {
    resultComboIndex_ = static_cast<int32_t>(platform_->SendMessage(hWndCombo_, CB_GETCURSEL_, 0, 0));
    bool inRange = resultComboIndex_ >= 0 && resultComboIndex_ < static_cast<int32_t>(comboItems_.size());
    if (comboStyle_ == 1)
      resultComboText_ = inRange ? comboItems_[resultComboIndex_].text : "";
    else
      resultComboText_ = hWndComboEdit_ ? platform_->GetWindowText(hWndComboEdit_) : "";
    resultComboData_ = inRange ? static_cast<intptr_t>(platform_->SendMessage(
                                     hWndCombo_, CB_GETITEMDATA_,
                                     static_cast<uintptr_t>(resultComboIndex_), 0))
                               : 0;
  }
  if (hWndDateTime_) {
    TdDateTime v;
    resultDateTimeChecked_ = platform_->GetDateTime(hWndDateTime_, &v);
    resultDateTime_ = v;
    if (hWndDateTime2_) {
      // The second picker holds the time of a date-and-time pair.
      TdDateTime t;
      if (platform_->GetDateTime(hWndDateTime2_, &t)) {
        resultDateTime_.hour = t.hour;
        resultDateTime_.minute = t.minute;
        resultDateTime_.second = t.second;
      }
    }
  }
  if (hWndSlider_) {
    resultSlider_ = static_cast<int32_t>(platform_->SendMessage(hWndSlider_, TBM_GETPOS_, 0, 0));
    sliderValue_ = resultSlider_;
  }
}

// ---------------------------------------------------------------------------
// Subclass

// Failures of a handler are answered by the entry point (mTDHelper), which
// swallows them and answers 0.
intptr_t cTaskDialog::zz_ProcessSubclass(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                                         intptr_t lParam, uintptr_t subclassId) {
  switch (msg) {
    case WM_COMMAND_: {
      uint32_t code = static_cast<uint32_t>((wParam >> 16) & 0xFFFF);
      if (code == CBN_SELCHANGE_) {
        if (ComboItemChanged) ComboItemChanged(ComboIndex());
      } else if (code == CBN_DROPDOWN_) {
        if (ComboDropdown) ComboDropdown();
      } else if (code == EN_CHANGE_) {
        std::string text = InputText();
        if (InputBoxChange) InputBoxChange(text);
      }
      break;
    }
    case WM_NOTIFY_: {
      // lParam points to the notification header: hwndFrom, idFrom, code.
      struct Header {
        WindowHandle hwndFrom;
        uintptr_t idFrom;
        int32_t code;
      };
      const Header* h = reinterpret_cast<const Header*>(lParam);
      if (h && h->code == DTN_DATETIMECHANGE_ && DateTimeChange) {
        TdDateTime v = DateTimeValue();
        DateTimeChange(v, DateTimeChecked() ? 1 : 0);
      }
      break;
    }
    case WM_HSCROLL_:
      if (hWndSlider_ && lParam == hWndSlider_ && SliderChange) SliderChange(SliderValue());
      break;
    case WM_CTLCOLORSTATIC_:
      if (hWndLogo_ && lParam == hWndLogo_) {
        if (!logoBrush_) {
          TdRect r = platform_->GetWindowRect(hWndLogo_);
          TdPoint p = platform_->ScreenToClient(hWndDUI_, TdPoint{r.left, r.top});
          logoBrush_ = logoPosition_ == 1 ? platform_->ContentColourBrush(hWndDUI_, p.x, p.y - 1)
                                          : platform_->ContentColourBrush(hWndDUI_, p.x - 1, 0);
        }
        return logoBrush_;
      }
      break;
    case BCM_SETDROPDOWNSTATE_:
      if (wParam == 1 && DropdownButtonClicked) DropdownButtonClicked(hwnd);
      break;
    case WM_DESTROY_:
      platform_->RemoveWindowSubclass(hwnd, &mTDHelper::SubclassProc, subclassId);
      if (hwnd == hWndDUI_) subclassed_ = false;
      break;
  }
  return platform_->DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace qv
