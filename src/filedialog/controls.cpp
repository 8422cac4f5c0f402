// The custom controls table of the item dialog and the custom selection modes.
#include "filedialog/chooser_internals.h"
#include "support/text.h"

namespace qv {

using namespace state;

namespace {

constexpr int32_t kMaxItems = 32767;
constexpr int32_t kLastControlId = 0x0FFFFFFF;

std::string KeyOf(uint32_t platformId) { return std::to_string(static_cast<int32_t>(platformId)); }
uint32_t PlatformIdOf(int32_t controlId) { return static_cast<uint32_t>(-static_cast<int64_t>(controlId)); }
bool Blank(const std::string& s) { return TrimBlanks(s).empty(); }

}  // namespace

CmnDialogEx::Control* ChooserInternals::FindControl(int32_t controlId) {
  auto& s = *d_.s_;
  auto it = s.keys.find(KeyOf(PlatformIdOf(controlId)));
  return it == s.keys.end() ? nullptr : &s.controls[it->second];
}

const CmnDialogEx::Control* ChooserInternals::FindControlConst(int32_t controlId) const {
  auto& s = *d_.s_;
  auto it = s.keys.find(KeyOf(PlatformIdOf(controlId)));
  return it == s.keys.end() ? nullptr : &s.controls[it->second];
}

bool CmnDialogEx::Controls_Add(int32_t ContainerID, int32_t ControlID, int32_t ControlType,
                               const std::string& CaptionText, const std::vector<std::string>& SubItemCaptions) {
  auto& s = *s_;
  if (Version() < 6 || s.dialog) return false;
  if (!(ControlID > 0 || ContainerID > 0) || ControlID > kLastControlId || ContainerID >= 0x10000000) return false;
  if (ControlType < 0 || ControlType > 11) return false;
  ChooserInternals in(*this);

  if (ControlID <= 0) {
    // A visual group named by ContainerID.
    if (ControlType != 0 || in.FindControl(ContainerID)) return false;
    Control group;
    group.platformId = PlatformIdOf(ContainerID);
    group.caption = CaptionText;
    group.type = 0;
    s.keys[KeyOf(group.platformId)] = s.controls.size();
    s.controls.push_back(std::move(group));
    return true;
  }

  if (in.FindControl(ControlID)) return false;
  Control* group = nullptr;
  if (ContainerID > 0) {
    group = in.FindControl(ContainerID);
    if (!group || group->type != 0 || group->members >= kMaxItems) return false;
  }
  const bool hasItems = !SubItemCaptions.empty();
  switch (ControlType) {
    case 0:  // a group of its own: never inside another one
      if (group || Blank(CaptionText)) return false;
      break;
    case 1:  // the OK button: its label, or a drop-down of items
      if (group || s.keys.count("def")) return false;
      if (!hasItems && Blank(CaptionText)) return false;
      break;
    case 2:
    case 3:
    case 8:
      if (!hasItems) return false;
      break;
    case 6:
    case 7:
      break;
    case 10:
      if (Version() < 7 || Blank(CaptionText) || s.keys.count("cnx") || group) return false;
      break;
    case 11:
      if (group || Blank(CaptionText)) return false;
      break;
    default:
      if (Blank(CaptionText)) return false;
      break;
  }
  Control c;
  c.platformId = PlatformIdOf(ControlID);
  c.caption = CaptionText;
  c.type = ControlType;
  if (ControlType == 1 || ControlType == 2 || ControlType == 3 || ControlType == 8) {
    const std::size_t n = std::min<std::size_t>(SubItemCaptions.size(), kMaxItems);
    c.items.assign(SubItemCaptions.begin(), SubItemCaptions.begin() + static_cast<std::ptrdiff_t>(n));
  }
  c.okDropDown = ControlType == 1 && !c.items.empty();
  if (group) {
    c.inGroup = true;
    group->items.push_back(KeyOf(c.platformId));
    ++group->members;
  }
  const std::size_t position = s.controls.size();
  s.keys[KeyOf(c.platformId)] = position;
  if (ControlType == 1) s.keys["def"] = position;
  if (ControlType == 10) s.keys["cnx"] = position;
  s.controls.push_back(std::move(c));
  return true;
}

int32_t CmnDialogEx::Controls_TypeOf(int32_t ControlID, int32_t& SubItemCount) const {
  SubItemCount = 0;
  if (Version() < 6 || ControlID < 0) return -1;
  if (ControlID == 0) {
    // The collected selection of the collecting modes: no control, its size.
    SubItemCount = static_cast<int32_t>(s_->collected.size());
    return -1;
  }
  const Control* c = ChooserInternals(const_cast<CmnDialogEx&>(*this)).FindControlConst(ControlID);
  if (!c) return -1;
  if (c->type == 0) {
    SubItemCount = c->members;
  } else if (c->type == 2 || c->type == 3 || c->type == 8 || c->okDropDown) {
    SubItemCount = static_cast<int32_t>(c->items.size());
  }
  return c->type;
}

bool CmnDialogEx::Controls_AddReadOnlyOption(int32_t ControlID, bool AsCheckBox, bool isChecked,
                                             const std::string& Caption1, const std::string& Caption2) {
  auto& s = *s_;
  if (Version() < 6 || s.dialog || ControlID < 1 || ControlID > kLastControlId) return false;
  ChooserInternals in(*this);
  if (in.FindControl(ControlID) || s.keys.count("ro")) return false;
  auto library = [this](const char* lib, uint32_t id, const char* fallback) {
    std::string text = platform_->LoadLibraryString(lib, id);
    return text.empty() ? std::string(fallback) : text;
  };
  Control c;
  c.platformId = PlatformIdOf(ControlID);
  c.readOnly = true;
  if (AsCheckBox) {
    c.type = 4;
    c.prominent = true;
    c.checked = isChecked;
    c.caption = Blank(Caption1) ? library("comdlg32.dll", 427, "Open as &read-only") : Caption1;
  } else {
    if (s.keys.count("def")) return false;
    c.type = 1;
    c.okDropDown = true;
    c.readOnlyDefault = isChecked;
    c.selected = 0;
    c.items.push_back(Blank(Caption1) ? library("comdlg32.dll", 370, "Open") : Caption1);
    if (!Blank(Caption2)) {
      c.items.push_back(Caption2);
    } else if (isChecked) {
      c.items.push_back(library("comdlg32.dll", 428, "Open for &write"));
    } else {
      c.items.push_back(library("comdlg32.dll", 427, "Open as &read-only"));
    }
  }
  const std::size_t position = s.controls.size();
  s.keys[KeyOf(c.platformId)] = position;
  s.keys["ro"] = position;
  if (!AsCheckBox) s.keys["def"] = position;
  s.controls.push_back(std::move(c));
  return true;
}

bool CmnDialogEx::Controls_SetCustomMode(int32_t Mode, const std::string& ButtonCaption,
                                         const std::string& OkCaption, bool IncludeSelCount,
                                         const std::string& SelCountCaptionFormat) {
  auto& s = *s_;
  if (Version() < 6 || s.dialog || (state_ & kMode) || s.keys.count("def")) return false;
  auto library = [this](const char* lib, uint32_t id, const char* fallback) {
    std::string text = platform_->LoadLibraryString(lib, id);
    return text.empty() ? std::string(fallback) : text;
  };
  std::string okLabel;
  const bool collecting = Mode == 0x1000 || Mode == 0x2000 || Mode == 0x3000 || Mode == 0x4000;
  if (collecting) {
    okLabel = Blank(ButtonCaption) ? library("shell32.dll", 38313, "&Add...") : ButtonCaption;
  } else if (Mode == 0x8000) {
    okLabel = Blank(ButtonCaption) ? library("comdlg32.dll", 439, "Select Folder") : ButtonCaption;
  } else if (Mode == 0x9000) {
    okLabel = TrimBlanks(ButtonCaption);
  } else if (Mode == 0xA000) {
    okLabel = Blank(ButtonCaption) ? library("ExplorerFrame.dll", 49927, "Select") : ButtonCaption;
  } else {
    return false;
  }
  state_ = (state_ & ~kMode) | ((static_cast<uint32_t>(Mode) >> 12) << kModeShift);

  auto add = [&s](uint32_t id, int32_t type, const std::string& caption, bool inGroup) {
    Control c;
    c.platformId = id;
    c.type = type;
    c.caption = caption;
    c.inGroup = inGroup;
    s.keys[KeyOf(id)] = s.controls.size();
    s.controls.push_back(std::move(c));
    return s.controls.size() - 1;
  };
  if (!okLabel.empty()) s.keys["def"] = add(kOwnOkLabel, 1, okLabel, false);
  if (collecting) {
    const std::string ending = Blank(OkCaption) ? library("user32.dll", 800, "OK") : OkCaption;
    if (IncludeSelCount) {
      std::string format = SelCountCaptionFormat;
      if (const auto p = format.find("%S"); p != std::string::npos) format.replace(p, 2, "%s");
      if (Blank(format) || format.find("%s") == std::string::npos)
        format = library("shell32.dll", 38194, "%s items selected");
      s.selCountFormat = format;
      std::string label = format;
      if (const auto p = label.find("%s"); p != std::string::npos) label.replace(p, 2, "0000");
      const std::size_t g = add(kOwnCountGroup, 0, label, false);
      add(kOwnOkButton, 9, ending, true);
      s.controls[g].items.push_back(KeyOf(kOwnOkButton));
      s.controls[g].members = 1;
    } else {
      add(kOwnOkButton, 9, ending, false);
    }
  }
  if (Mode == 0x2000 || Mode == 0x8000) add(kOwnFileNameLabel, 11, library("comdlg32.dll", 438, "Folder: "), false);
  return true;
}

void ChooserInternals::UpdateSelCount() {
  auto& s = *d_.s_;
  if (s.selCountFormat.empty()) return;
  std::string label = s.selCountFormat;
  if (const auto p = label.find("%s"); p != std::string::npos)
    label.replace(p, 2, std::to_string(s.collected.size()));
  auto it = s.keys.find(KeyOf(kOwnCountGroup));
  if (it != s.keys.end()) s.controls[it->second].caption = label;
  if (s.customize) s.customize->SetControlLabel(kOwnCountGroup, label);
}

bool ChooserInternals::ApplyControls() {
  auto& s = *d_.s_;
  ItemDialog& dlg = *s.dialog;
  DialogCustomize* cz = dlg.Customize();
  if (!cz) return false;
  s.customize = cz;

  auto create = [&](CmnDialogEx::Control& c) -> bool {
    const uint32_t id = c.platformId;
    bool ok = true;
    switch (c.type) {
      case 1:
        if (c.okDropDown) {
          ok = cz->EnableOpenDropDown(id);
          for (std::size_t i = 0; ok && i < c.items.size(); ++i)
            ok = cz->AddControlItem(id, static_cast<uint32_t>(i), c.items[i]);
        } else {
          dlg.SetOkButtonLabel(c.caption);
        }
        break;
      case 2:
      case 3:
        ok = c.type == 2 ? cz->AddComboBox(id) : cz->AddRadioButtonList(id);
        for (std::size_t i = 0; ok && i < c.items.size(); ++i)
          ok = cz->AddControlItem(id, static_cast<uint32_t>(i), c.items[i]);
        if (ok && c.selected >= 0) ok = cz->SetSelectedControlItem(id, static_cast<uint32_t>(c.selected));
        break;
      case 4:
        ok = cz->AddCheckButton(id, c.caption, c.checked);
        break;
      case 5:
        ok = cz->AddText(id, c.caption);
        break;
      case 6:
        ok = cz->AddSeparator(id);
        break;
      case 7:
        ok = cz->AddEditBox(id, c.caption);
        break;
      case 8:
        ok = cz->AddMenu(id, c.caption);
        for (std::size_t i = 0; ok && i < c.items.size(); ++i)
          ok = cz->AddControlItem(id, static_cast<uint32_t>(i), c.items[i]);
        break;
      case 9:
        ok = cz->AddPushButton(id, c.caption);
        break;
      case 10:
        if (d_.Version() >= 7) dlg.SetCancelButtonLabel(c.caption);
        return true;
      case 11:
        dlg.SetFileNameLabel(c.caption);
        return true;
      default:
        return false;
    }
    if (!ok) return false;
    if (c.type == 1 && !c.okDropDown) return true;
    if (c.ctlState != 3) ok = cz->SetControlState(id, c.ctlState);
    if (ok && c.prominent && (c.type == 2 || c.type == 4 || c.type == 8 || c.type == 9)) ok = cz->MakeProminent(id);
    for (std::size_t i = 0; ok && c.hasItemStates && i < c.itemStates.size(); ++i)
      ok = cz->SetControlItemState(id, static_cast<uint32_t>(i), c.itemStates[i]);
    return ok;
  };

  for (auto& c : s.controls) {
    if (c.inGroup) continue;
    if (c.type != 0) {
      if (!create(c)) return false;
      continue;
    }
    if (!cz->StartVisualGroup(c.platformId, c.caption)) return false;
    for (const auto& key : c.items) {
      auto it = s.keys.find(key);
      if (it != s.keys.end() && !create(s.controls[it->second])) return false;
    }
    if (!cz->EndVisualGroup()) return false;
    if (c.ctlState != 3 && !cz->SetControlState(c.platformId, c.ctlState)) return false;
  }
  return true;
}

void ChooserInternals::RefreshEditBoxes() {
  auto& s = *d_.s_;
  if (!s.customize) return;
  for (auto& c : s.controls) {
    if (c.type != 7) continue;
    std::string text;
    if (s.customize->GetEditBoxText(c.platformId, text)) c.caption = text;
  }
}

void ChooserInternals::ReadControlsBack() {
  auto& s = *d_.s_;
  DialogCustomize* cz = s.customize;
  if (!cz) return;
  for (auto& c : s.controls) {
    uint32_t item = 0;
    bool checked = false;
    std::string text;
    switch (c.type) {
      case 1:
        if (c.okDropDown && cz->GetSelectedControlItem(c.platformId, item)) c.selected = static_cast<int32_t>(item);
        break;
      case 2:
      case 3:
        if (cz->GetSelectedControlItem(c.platformId, item)) c.selected = static_cast<int32_t>(item);
        break;
      case 4:
        if (cz->GetCheckButtonState(c.platformId, checked)) c.checked = checked;
        break;
      case 7:
        if (cz->GetEditBoxText(c.platformId, text)) c.caption = text;
        break;
      default:
        break;
    }
  }
}

void ChooserInternals::WriteReadOnlyFlag() {
  auto& s = *d_.s_;
  auto it = s.keys.find("ro");
  if (it == s.keys.end()) return;
  const auto& c = s.controls[it->second];
  bool readOnly;
  if (c.type == 4) {
    readOnly = c.checked;
  } else {
    // The first item opens in the state the option was created with, the
    // second in the other one.
    readOnly = c.selected == 1 ? !c.readOnlyDefault : c.readOnlyDefault;
  }
  d_.flagsDialog_ = readOnly ? (d_.flagsDialog_ | OFN_READONLY_) : (d_.flagsDialog_ & ~OFN_READONLY_);
}

bool CmnDialogEx::Controls_PropertySet(int32_t ControlID, int32_t propType, const ControlValue& value,
                                       int32_t SubItemlIndex) {
  ChooserInternals in(*this);
  Control* c = in.FindControl(ControlID);
  if (!c) return false;
  DialogCustomize* live = (s_->dialog && s_->customize) ? s_->customize : nullptr;
  const auto* text = std::get_if<std::string>(&value);
  const auto* number = std::get_if<int32_t>(&value);
  const auto* flag = std::get_if<bool>(&value);
  const bool itemLevel = SubItemlIndex >= 0;
  if (itemLevel && SubItemlIndex >= static_cast<int32_t>(c->items.size())) return false;
  switch (propType) {
    case ctlCaption:
      if (!text) return false;
      if (itemLevel) {
        if (c->type == 0) return false;
        c->items[static_cast<std::size_t>(SubItemlIndex)] = *text;
        return true;  // the platform cannot relabel an item once added
      }
      c->caption = *text;
      if (live) live->SetControlLabel(c->platformId, *text);
      return true;
    case ctlState:
      if (!number || *number < 0 || *number > 3) return false;
      if (itemLevel) {
        if (c->type == 0) return false;
        c->itemStates.resize(c->items.size(), 3);
        c->itemStates[static_cast<std::size_t>(SubItemlIndex)] = static_cast<uint32_t>(*number);
        c->hasItemStates = true;
        if (live)
          live->SetControlItemState(c->platformId, static_cast<uint32_t>(SubItemlIndex),
                                    static_cast<uint32_t>(*number));
        return true;
      }
      c->ctlState = static_cast<uint32_t>(*number);
      if (live) live->SetControlState(c->platformId, c->ctlState);
      return true;
    case ctlSelectedItem:
      if (!number || !(c->type == 2 || c->type == 3 || c->okDropDown)) return false;
      if (*number < -1 || *number >= static_cast<int32_t>(c->items.size())) return false;
      c->selected = *number;
      if (live && *number >= 0) live->SetSelectedControlItem(c->platformId, static_cast<uint32_t>(*number));
      return true;
    case ctlChecked:
      if (!flag || c->type != 4) return false;
      c->checked = *flag;
      if (live) live->SetCheckButtonState(c->platformId, *flag);
      return true;
    case ctlProminent:
      if (!flag || !(c->type == 2 || c->type == 4 || c->type == 8 || c->type == 9)) return false;
      if (live) return false;  // prominence is fixed once the dialog is up
      c->prominent = *flag;
      return true;
    case ctlEditText:
      if (!text || c->type != 7) return false;
      c->caption = *text;
      if (live) live->SetEditBoxText(c->platformId, *text);
      return true;
    default:
      return false;
  }
}

ControlValue CmnDialogEx::Controls_PropertyGet(int32_t ControlID, int32_t propType, int32_t SubItemlIndex) const {
  ChooserInternals in(const_cast<CmnDialogEx&>(*this));
  const Control* c = in.FindControlConst(ControlID);
  if (!c) return std::monostate{};
  DialogCustomize* live = (s_->dialog && s_->customize) ? s_->customize : nullptr;
  const bool itemLevel = SubItemlIndex >= 0;
  if (itemLevel && SubItemlIndex >= static_cast<int32_t>(c->items.size())) return std::monostate{};
  switch (propType) {
    case ctlCaption:
      if (itemLevel) return c->type == 0 ? ControlValue{} : ControlValue{c->items[static_cast<std::size_t>(SubItemlIndex)]};
      return c->caption;
    case ctlState:
      if (itemLevel) {
        if (c->type == 0) return std::monostate{};
        const auto i = static_cast<std::size_t>(SubItemlIndex);
        return static_cast<int32_t>(i < c->itemStates.size() ? c->itemStates[i] : 3u);
      }
      return static_cast<int32_t>(c->ctlState);
    case ctlSelectedItem: {
      if (!(c->type == 2 || c->type == 3 || c->okDropDown)) return std::monostate{};
      uint32_t item = 0;
      if (live && live->GetSelectedControlItem(c->platformId, item)) return static_cast<int32_t>(item);
      return c->selected;
    }
    case ctlChecked: {
      if (c->type != 4) return std::monostate{};
      bool checked = false;
      if (live && live->GetCheckButtonState(c->platformId, checked)) return checked;
      return c->checked;
    }
    case ctlProminent:
      return c->prominent;
    case ctlEditText: {
      if (c->type != 7) return std::monostate{};
      std::string text;
      if (live && live->GetEditBoxText(c->platformId, text)) return text;
      return c->caption;
    }
    default:
      return std::monostate{};
  }
}

}  // namespace qv
