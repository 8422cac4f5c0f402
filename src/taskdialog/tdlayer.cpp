#include "taskdialog/tdlayer.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "support/eventloop.h"
#include "support/modShellExtended.h"
#include "support/text.h"
#include "taskdialog/mTDHelper.h"

namespace qv {

namespace {

int32_t Px(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

// Lines of a text as the dialog wraps nothing: "\r\n" or "\n" end a line.
int Lines(const std::string& s) {
  if (s.empty()) return 0;
  int n = 1;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == '\n') ++n;
  return n;
}

struct CommonDef {
  uint32_t bit;
  int32_t id;
  const char* text;
};
// The order of the bits, which is also the order of the button windows.
const CommonDef kCommon[6] = {{TDCBF_OK_BUTTON, IDOK_, "OK"},
                              {TDCBF_YES_BUTTON, IDYES_BUTTON, "Oui"},
                              {TDCBF_NO_BUTTON, IDNO_BUTTON, "Non"},
                              {TDCBF_CANCEL_BUTTON, IDCANCEL_, "Annuler"},
                              {TDCBF_RETRY_BUTTON, IDRETRY_, "Réessayer"},
                              {TDCBF_CLOSE_BUTTON, IDCLOSE_, "Fermer"}};

constexpr int32_t kScreenX = 200, kScreenY = 150;  // where dialogs stand
// The frame: a caption on top and a thin bottom border, no side borders, so
// that a client area of H pixels makes a window of H + 28.
constexpr int32_t kFrameX = 0, kFrameTop = 23, kFrameBottom = 5;

}  // namespace

// ---------------------------------------------------------------------------
// LayerDialog: the user's actions

bool LayerDialog::AllowsCancel() const {
  return (record_.dwCommonButtons & TDCBF_CANCEL_BUTTON) ||
         (record_.dwFlags & TDF_ALLOW_DIALOG_CANCELLATION);
}

bool LayerDialog::Click(int32_t id) {
  if (closing_) return false;
  for (const Button& b : buttons_)
    if (b.id == id) {
      if (!b.enabled) return false;
      layer_->ClickFrom(*this, id);
      return true;
    }
  return false;
}

bool LayerDialog::Cancel() {
  if (closing_ || !AllowsCancel()) return false;
  layer_->ClickFrom(*this, IDCANCEL_);
  return true;
}

bool LayerDialog::Dismiss() {
  if (closing_) return false;
  if (Cancel()) return true;
  layer_->ClickFrom(*this, IDCLOSE_);
  return true;
}

int32_t LayerDialog::DefaultButtonId() const {
  for (const Button& b : buttons_)
    if (record_.nDefaultButton != 0 && b.id == record_.nDefaultButton) return b.id;
  for (const Button& b : buttons_)
    if (b.common && b.id == IDOK_) return b.id;
  return buttons_.empty() ? 0 : buttons_.front().id;
}

bool LayerDialog::SelectRadio(int32_t id) {
  if (closing_) return false;
  for (const Radio& r : radios_)
    if (r.id == id && r.enabled) {
      layer_->SendMessage(hwnd_, TDM_CLICK_RADIO_BUTTON, static_cast<uintptr_t>(id), 0);
      return true;
    }
  return false;
}

bool LayerDialog::ToggleVerification() {
  if (closing_ || record_.pszVerificationText.empty()) return false;
  layer_->SendMessage(hwnd_, TDM_CLICK_VERIFICATION, verified_ ? 0 : 1, 0);
  return true;
}

bool LayerDialog::ToggleExpanded() {
  if (closing_ || !record_.hasExpandedInformation) return false;
  expanded_ = !expanded_;
  layer_->Relayout(*this);
  layer_->Notify(*this, TDN_EXPANDO_BUTTON_CLICKED, expanded_ ? 1 : 0, 0);
  layer_->Renderer().Changed(*this);
  return true;
}

bool LayerDialog::Type(const std::string& text) {
  if (closing_ || !input_.present) return false;
  std::u32string add = Utf8ToUtf32(text);
  for (char32_t c : add) {
    if (closing_ || !input_.present) return false;
    std::string now = layer_->GetWindowText(input_.hwnd) + Utf32ToUtf8(std::u32string(1, c));
    layer_->EditChanged(input_.hwnd, now);
  }
  return true;
}

bool LayerDialog::Backspace(int count) {
  if (closing_ || !input_.present) return false;
  for (int i = 0; i < count; ++i) {
    if (closing_ || !input_.present) return false;
    std::string cur = layer_->GetWindowText(input_.hwnd);
    if (cur.empty()) break;
    layer_->EditChanged(input_.hwnd, Utf8DropLast(cur, 1));
  }
  return true;
}

bool LayerDialog::SetInput(const std::string& text) {
  if (closing_ || !input_.present) return false;
  layer_->EditChanged(input_.hwnd, text);
  return true;
}

bool LayerDialog::Hyperlink(const std::string& target) {
  if (closing_ || !(record_.dwFlags & TDF_ENABLE_HYPERLINKS)) return false;
  std::string copy = target;
  layer_->Notify(*this, TDN_HYPERLINK_CLICKED, 0, reinterpret_cast<intptr_t>(copy.c_str()));
  return true;
}

bool LayerDialog::Help() {
  if (closing_) return false;
  layer_->Notify(*this, TDN_HELP, 0, 0);
  return true;
}

// ---------------------------------------------------------------------------
// DialogLayer

DialogLayer::DialogLayer(DialogRenderer& renderer, float dpiX, float dpiY)
    : renderer_(renderer), dpiX_(dpiX), dpiY_(dpiY) {}

DialogLayer::~DialogLayer() = default;

std::string DialogLayer::ProgramTitle() { return programTitle_; }

void DialogLayer::ShellOpen(const std::string& target) {
  ShellExecuteOpen(target, "", "", SW_SHOWNORMAL_, nullptr);
}

int DialogLayer::MessageBox(const std::string& text, const std::string& title, uint32_t flags) {
  return renderer_.Question(text, title, flags);
}

void DialogLayer::Beep(uint32_t type) { renderer_.Beep(type); }

DialogLayer::Window* DialogLayer::Find(WindowHandle hwnd) {
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : &it->second;
}

LayerDialog* DialogLayer::DialogOf(WindowHandle hwnd) {
  for (LayerDialog* d : open_)
    if (d->hwnd_ == hwnd) return d;
  return nullptr;
}

WindowHandle DialogLayer::NewWindow(WindowHandle parent, const std::string& cls,
                                    const std::string& text, uint32_t style, int32_t id,
                                    TdRect rect) {
  WindowHandle h = nextHandle_;
  nextHandle_ += 0x10;
  Window w;
  w.hwnd = h;
  w.parent = parent;
  w.cls = cls;
  w.text = text;
  w.style = style;
  w.id = id;
  w.rect = rect;
  windows_[h] = std::move(w);
  order_.push_back(h);
  return h;
}

TdPoint DialogLayer::ClientOrigin(WindowHandle hwnd) {
  TdPoint p{0, 0};
  for (Window* w = Find(hwnd); w; w = Find(w->parent)) {
    p.x += w->rect.left;
    p.y += w->rect.top;
    if (!w->parent) {
      p.x += kFrameX;
      p.y += kFrameTop;
    }
  }
  return p;
}

void DialogLayer::BuildWindows(LayerDialog& d) {
  const TaskDialogConfig& r = d.record_;
  d.buttons_.clear();
  d.radios_.clear();
  const bool links = r.dwFlags & (TDF_USE_COMMAND_LINKS | TDF_USE_COMMAND_LINKS_NO_ICON);
  for (const TdButton& b : r.buttons) {
    LayerDialog::Button lb;
    lb.id = b.id;
    lb.commandLink = links;
    size_t nl = b.text.find('\n');
    if (links && nl != std::string::npos) {
      lb.text = b.text.substr(0, nl);
      if (!lb.text.empty() && lb.text.back() == '\r') lb.text.pop_back();
      lb.note = b.text.substr(nl + 1);
    } else {
      lb.text = b.text;
    }
    d.buttons_.push_back(lb);
  }
  uint32_t common = r.dwCommonButtons;
  if (common == 0 && r.buttons.empty()) common = TDCBF_OK_BUTTON;  // the platform's default
  for (const CommonDef& c : kCommon)
    if (common & c.bit) {
      LayerDialog::Button lb;
      lb.id = c.id;
      lb.text = c.text;
      lb.common = true;
      d.buttons_.push_back(lb);
    }
  for (const TdButton& b : r.radioButtons) d.radios_.push_back(LayerDialog::Radio{b.id, b.text});
  if (!d.radios_.empty() && !(r.dwFlags & TDF_NO_DEFAULT_RADIO_BUTTON)) {
    bool set = false;
    for (auto& rb : d.radios_)
      if (rb.id == r.nDefaultRadioButton) rb.checked = set = true;
    if (!set) d.radios_[0].checked = true;
  }
  d.verified_ = r.dwFlags & TDF_VERIFICATION_FLAG_CHECKED;
  d.expanded_ = r.hasExpandedInformation && (r.dwFlags & TDF_EXPANDED_BY_DEFAULT);
  d.progress_ = LayerDialog::Progress{};
  d.progress_.shown = r.dwFlags & (TDF_SHOW_PROGRESS_BAR | TDF_SHOW_MARQUEE_PROGRESS_BAR);
  d.progress_.marquee = r.dwFlags & TDF_SHOW_MARQUEE_PROGRESS_BAR;
  d.input_ = LayerDialog::Input{};

  if (!d.hwnd_) d.hwnd_ = NewWindow(0, "#32770", r.pszWindowTitle, 0x94C80000u, 0, TdRect{});
  Find(d.hwnd_)->text = r.pszWindowTitle;
  WindowHandle dui = NewWindow(d.hwnd_, "DirectUIHWND", "", 0x56000000u, 0, TdRect{});
  for (auto& rb : d.radios_) {
    (void)rb;
    NewWindow(dui, "Button", "", 0x50010009u, 0, TdRect{});
  }
  for (auto& b : d.buttons_)
    b.hwnd = NewWindow(dui, "Button", b.text, b.commandLink ? 0x5001000Eu : 0x50010000u, b.id,
                       TdRect{});
  Layout(d);
}

void DialogLayer::Layout(LayerDialog& d) {
  const TaskDialogConfig& r = d.record_;
  const double sx = dpiX_, sy = dpiY_;
  const int32_t W = r.cxWidth ? Px(r.cxWidth * 1.75 * sx) : Px(400 * sx);
  const int32_t left = r.mainIcon ? Px(32 * sx + 20) : 12;
  double y = 10 * sy;
  if (!r.pszMainInstruction.empty()) y += Lines(r.pszMainInstruction) * 20 * sy + 6 * sy;
  if (!r.pszContent.empty()) y += Lines(r.pszContent) * 15 * sy + 8 * sy;
  if (d.expanded_ && !(r.dwFlags & TDF_EXPAND_FOOTER_AREA))
    y += Lines(r.pszExpandedInformation) * 15 * sy + 8 * sy;
  if (d.progress_.shown) y += 26 * sy;

  // Button windows in the order they were created (radios, custom, common).
  Window* dlg = Find(d.hwnd_);
  WindowHandle dui = FindWindowEx(d.hwnd_, 0, "DirectUIHWND");
  std::vector<WindowHandle> buttons;
  for (WindowHandle h : order_) {
    Window* w = Find(h);
    if (w && w->parent == dui && w->cls == "Button") buttons.push_back(h);
  }
  size_t bi = 0;
  for (size_t i = 0; i < d.radios_.size() && bi < buttons.size(); ++i, ++bi) {
    Find(buttons[bi])->rect = TdRect{left, Px(y), W - 10, Px(y + 20 * sy)};
    y += 22 * sy;
  }
  std::vector<Window*> row;
  for (auto& b : d.buttons_) {
    if (bi >= buttons.size()) break;
    Window* w = Find(buttons[bi++]);
    if (b.commandLink) {
      double h = (b.note.empty() ? 30 : 41) * sy;
      w->rect = TdRect{left, Px(y), W - 10, Px(y + h)};
      y += h + 2 * sy;
    } else {
      row.push_back(w);
    }
  }
  if (!row.empty()) {
    y += 10 * sy;
    int32_t bw = Px(66 * sx), gap = Px(6 * sx), x = W - Px(10 * sx);
    for (auto it = row.rbegin(); it != row.rend(); ++it) {
      (*it)->rect = TdRect{x - bw, Px(y), x, Px(y + 23 * sy)};
      x -= bw + gap;
    }
    y += 23 * sy + 10 * sy;
  } else {
    y += 10 * sy;
  }
  if (!r.pszVerificationText.empty() || r.hasExpandedInformation) y += 24 * sy;
  if (!r.pszFooter.empty()) {
    y += std::max(1, Lines(r.pszFooter)) * 15 * sy + 21 * sy;
    if (d.expanded_ && (r.dwFlags & TDF_EXPAND_FOOTER_AREA))
      y += Lines(r.pszExpandedInformation) * 15 * sy + 8 * sy;
  }
  d.clientW_ = W;
  d.clientH_ = Px(y);
  dlg->rect = TdRect{kScreenX, kScreenY, kScreenX + W + 2 * kFrameX,
                     kScreenY + d.clientH_ + kFrameTop + kFrameBottom};
  if (Window* host = Find(dui)) host->rect = TdRect{0, 0, W, d.clientH_};
}

void DialogLayer::Relayout(LayerDialog& d) { Layout(d); }

void DialogLayer::DestroyWindow(WindowHandle hwnd) {
  // The window hears of its end first, then its children, as on Windows.
  if (!Find(hwnd)) return;
  if (Find(hwnd)->parent) Dispatch(hwnd, WM_DESTROY_, 0, 0);
  std::vector<WindowHandle> children;
  for (WindowHandle h : order_) {
    Window* w = Find(h);
    if (w && w->parent == hwnd) children.push_back(h);
  }
  for (WindowHandle c : children) DestroyWindow(c);
  windows_.erase(hwnd);
  order_.erase(std::remove(order_.begin(), order_.end(), hwnd), order_.end());
}

intptr_t DialogLayer::Notify(LayerDialog& d, uint32_t code, uintptr_t wParam, intptr_t lParam) {
  if (!d.record_.pfCallback) return 0;
  intptr_t r = d.record_.pfCallback(d.hwnd_, code, wParam, lParam, d.record_.lpCallbackData);
  mTDHelper::RethrowPendingEnd();
  return r;
}

void DialogLayer::ClickFrom(LayerDialog& d, int32_t id) {
  if (d.closing_) return;
  intptr_t answer = Notify(d, TDN_BUTTON_CLICKED, static_cast<uintptr_t>(id), 0);
  if (answer == 0) {
    // A close requested by a nested click is overtaken by this one, as a
    // second EndDialog would.
    d.closing_ = true;
    d.result_ = id;
    StopTimer(d);
  }
}

void DialogLayer::StartTimer(LayerDialog& d) {
  StopTimer(d);
  if (!(d.record_.dwFlags & TDF_CALLBACK_TIMER) || d.closing_) return;
  d.timerBaseMs_ = Loop().NowMs();
  LayerDialog* dp = &d;
  d.timerId_ = Loop().AddTimer(200, [this, dp] {
    if (dp->closing_) return;
    int64_t now = Loop().NowMs();
    ++dp->ticks_;
    intptr_t answer = Notify(*dp, TDN_TIMER, static_cast<uintptr_t>(now - dp->timerBaseMs_), 0);
    if (answer == 1) dp->timerBaseMs_ = now;
    if (!dp->closing_) renderer_.Ticked(*dp);
  });
  timerLoop_ = &Loop();
}

void DialogLayer::StopTimer(LayerDialog& d) {
  if (d.timerId_ && timerLoop_) timerLoop_->RemoveTimer(d.timerId_);
  d.timerId_ = 0;
}

void DialogLayer::SyncInput(LayerDialog& d) {
  d.input_ = LayerDialog::Input{};
  WindowHandle dui = FindWindowEx(d.hwnd_, 0, "DirectUIHWND");
  if (!dui) return;
  for (WindowHandle h : order_) {
    Window* w = Find(h);
    if (w && w->parent == dui && w->cls == "Edit" && w->id == kIdInput) {
      d.input_.present = true;
      d.input_.hwnd = h;
      d.input_.text = w->text;
      d.input_.cueBanner = w->cueBanner;
      d.input_.masked = w->passwordChar != 0;
      d.input_.rect = w->rect;
      const TdRect box = GetWindowRect(h);
      for (const auto& b : d.buttons_)
        if (b.common && b.hwnd) {
          const TdRect r = GetWindowRect(b.hwnd);
          if (box.top < r.bottom && r.top < box.bottom) d.input_.inButtonRow = true;
        }
      return;
    }
  }
}

int32_t DialogLayer::TaskDialogIndirect(const TaskDialogConfig& config, int32_t* button,
                                        int32_t* radio, int32_t* verify) {
  auto d = std::make_unique<LayerDialog>();
  d->layer_ = this;
  d->record_ = config;
  BuildWindows(*d);
  open_.push_back(d.get());
  ++dialogsShown_;

  // Whatever way this ends (also an ending process unwinding through the
  // loop), the windows, the timer and the renderer's screen are put back.
  struct Cleanup {
    DialogLayer* layer;
    LayerDialog* d;
    bool done = false;
    ~Cleanup() {
      if (done) return;
      layer->StopTimer(*d);
      d->closing_ = true;
      layer->DestroyWindow(d->hwnd_);
      layer->open_.erase(std::remove(layer->open_.begin(), layer->open_.end(), d),
                         layer->open_.end());
      try {
        layer->renderer_.Closed(*d);
      } catch (...) {
      }
    }
  } cleanup{this, d.get()};

  Notify(*d, TDN_DIALOG_CONSTRUCTED, 0, 0);
  Notify(*d, TDN_CREATED, 0, 0);
  SyncInput(*d);
  StartTimer(*d);
  renderer_.Shown(*d);
  while (!d->closing_) Loop().ProcessEvents(EventLoop::kWaitForever);
  StopTimer(*d);

  SyncInput(*d);
  Notify(*d, TDN_DESTROYED, 0, 0);
  cleanup.done = true;
  DestroyWindow(d->hwnd_);
  open_.erase(std::remove(open_.begin(), open_.end(), d.get()), open_.end());
  renderer_.Closed(*d);

  int32_t selected = 0;
  for (auto& r : d->radios_)
    if (r.checked) selected = r.id;
  if (button) *button = d->result_;
  if (radio) *radio = selected;
  if (verify) *verify = d->verified_ ? 1 : 0;
  return 0;
}

int32_t DialogLayer::TaskDialog(WindowHandle owner, WindowHandle instance,
                                const std::string& title, const std::string& mainInstruction,
                                const std::string& content, uint32_t commonButtons, intptr_t icon,
                                int32_t* button) {
  TaskDialogConfig c;
  c.hwndParent = owner;
  c.hInstance = instance;
  c.pszWindowTitle = title;
  c.pszMainInstruction = mainInstruction;
  c.pszContent = content;
  c.dwCommonButtons = commonButtons;
  c.mainIcon = icon;
  return TaskDialogIndirect(c, button, nullptr, nullptr);
}

intptr_t DialogLayer::SendMessage(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                                  intptr_t lParam) {
  LayerDialog* d = DialogOf(hwnd);
  if (!d) {
    intptr_t r = Dispatch(hwnd, msg, wParam, lParam);
    // A change of an injected control shows at once.
    for (LayerDialog* od : open_) {
      if (od->input_.present && od->input_.hwnd == hwnd) {
        SyncInput(*od);
        renderer_.Changed(*od);
      }
    }
    return r;
  }
  LayerDialog::Progress& p = d->progress_;
  intptr_t result = 0;
  bool changed = true;
  auto findButton = [&](int32_t id) -> LayerDialog::Button* {
    for (auto& b : d->buttons_)
      if (b.id == id) return &b;
    return nullptr;
  };
  switch (msg) {
    case TDM_CLICK_BUTTON:
      ClickFrom(*d, static_cast<int32_t>(wParam));
      changed = false;
      break;
    case TDM_SET_MARQUEE_PROGRESS_BAR:
      p.marquee = wParam != 0;
      p.shown = true;
      break;
    case TDM_SET_PROGRESS_BAR_STATE:
      p.state = static_cast<int32_t>(wParam);
      result = 1;
      break;
    case TDM_SET_PROGRESS_BAR_RANGE: {
      result = (p.minimum & 0xFFFF) | ((p.maximum & 0xFFFF) << 16);
      p.minimum = static_cast<int32_t>(lParam & 0xFFFF);
      p.maximum = static_cast<int32_t>((lParam >> 16) & 0xFFFF);
      p.position = std::clamp(p.position, p.minimum, std::max(p.minimum, p.maximum));
      break;
    }
    case TDM_SET_PROGRESS_BAR_POS:
      result = p.position;
      p.position = std::clamp(static_cast<int32_t>(wParam), p.minimum, std::max(p.minimum, p.maximum));
      break;
    case TDM_SET_PROGRESS_BAR_MARQUEE:
      p.marquee = wParam != 0;
      break;
    case TDM_CLICK_RADIO_BUTTON: {
      bool found = false;
      for (auto& r : d->radios_) found = found || r.id == static_cast<int32_t>(wParam);
      if (found) {
        for (auto& r : d->radios_) r.checked = r.id == static_cast<int32_t>(wParam);
        Notify(*d, TDN_RADIO_BUTTON_CLICKED, wParam, 0);
      }
      break;
    }
    case TDM_ENABLE_BUTTON:
      if (auto* b = findButton(static_cast<int32_t>(wParam))) b->enabled = lParam != 0;
      break;
    case TDM_ENABLE_RADIO_BUTTON:
      for (auto& r : d->radios_)
        if (r.id == static_cast<int32_t>(wParam)) r.enabled = lParam != 0;
      break;
    case TDM_CLICK_VERIFICATION:
      d->verified_ = wParam != 0;
      Notify(*d, TDN_VERIFICATION_CLICKED, wParam, 0);
      break;
    case TDM_SET_BUTTON_ELEVATION_REQUIRED_STATE:
      if (auto* b = findButton(static_cast<int32_t>(wParam))) b->elevated = lParam != 0;
      break;
    case TDM_UPDATE_ICON:
      if (wParam == TDIE_ICON_MAIN)
        d->record_.mainIcon = lParam;
      else if (wParam == TDIE_ICON_FOOTER)
        d->record_.footerIcon = lParam;
      else
        changed = false;
      break;
    default:
      changed = false;
  }
  if (changed && DialogOf(hwnd)) renderer_.Changed(*d);
  return result;
}

void DialogLayer::SetElementText(WindowHandle dialog, uint32_t element, const std::string& text,
                                 bool) {
  LayerDialog* d = DialogOf(dialog);
  if (!d || d->hwnd_ != dialog) return;
  switch (element) {
    case TDE_CONTENT: d->record_.pszContent = text; break;
    case TDE_EXPANDED_INFORMATION: d->record_.pszExpandedInformation = text; break;
    case TDE_FOOTER:
      d->record_.pszFooter = text;
      ++d->footerSets_;
      break;
    case TDE_MAIN_INSTRUCTION: d->record_.pszMainInstruction = text; break;
    default: return;
  }
  // Like the platform's, the dialog lays itself out again around its new
  // texts, whether asked to or not (nothing here is clipped); the injected
  // controls stay where they were put.
  Layout(*d);
  renderer_.Changed(*d);
}

void DialogLayer::SetCueBanner(WindowHandle edit, const std::string& text) {
  // Our own windows' procedures take the text as the message's argument,
  // for the length of the call.
  SendMessage(edit, EM_SETCUEBANNER_, 0, reinterpret_cast<intptr_t>(text.c_str()));
}

void DialogLayer::NavigatePage(WindowHandle dialog, const TaskDialogConfig& page) {
  LayerDialog* d = DialogOf(dialog);
  if (!d || d->hwnd_ != dialog) return;
  StopTimer(*d);
  for (WindowHandle h : std::vector<WindowHandle>(order_)) {
    Window* w = Find(h);
    if (w && w->parent == d->hwnd_) DestroyWindow(h);
  }
  d->record_ = page;
  d->ticks_ = 0;
  BuildWindows(*d);
  Notify(*d, TDN_NAVIGATED, 0, 0);
  SyncInput(*d);
  StartTimer(*d);
  renderer_.Navigated(*d);
}

void DialogLayer::EditChanged(WindowHandle edit, const std::string& text) {
  // The user's typing: the text changes and the parent hears EN_CHANGE.
  Window* w = Find(edit);
  if (!w) return;
  w->text = text;
  WindowHandle parent = w->parent;
  uintptr_t wParam = (static_cast<uintptr_t>(EN_CHANGE_) << 16) | static_cast<uint16_t>(w->id);
  Dispatch(parent, WM_COMMAND_, wParam, edit);
  mTDHelper::RethrowPendingEnd();
  for (LayerDialog* d : open_)
    if (d->input_.present && d->input_.hwnd == edit) {
      SyncInput(*d);
      renderer_.Changed(*d);
    }
}

intptr_t DialogLayer::Dispatch(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                               intptr_t lParam) {
  Window* w = Find(hwnd);
  if (!w) return 0;
  Frame f;
  f.hwnd = hwnd;
  // The last installed subclass hears the message first.
  f.chain.assign(w->subclasses.rbegin(), w->subclasses.rend());
  frames_.push_back(std::move(f));
  struct Pop {
    std::vector<Frame>& frames;
    ~Pop() { frames.pop_back(); }
  } pop{frames_};
  return CallNext(frames_.size() - 1, msg, wParam, lParam);
}

intptr_t DialogLayer::CallNext(size_t frame, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  WindowHandle hwnd = frames_[frame].hwnd;
  if (frames_[frame].next < frames_[frame].chain.size()) {
    Window::Sub s = frames_[frame].chain[frames_[frame].next++];
    return s.proc(hwnd, msg, wParam, lParam, s.id, s.ref);
  }
  Window* w = Find(hwnd);
  return w ? DefaultProc(*w, msg, wParam, lParam) : 0;
}

intptr_t DialogLayer::DefSubclassProc(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                                      intptr_t lParam) {
  for (size_t i = frames_.size(); i-- > 0;)
    if (frames_[i].hwnd == hwnd) return CallNext(i, msg, wParam, lParam);
  Window* w = Find(hwnd);
  return w ? DefaultProc(*w, msg, wParam, lParam) : 0;
}

intptr_t DialogLayer::DefaultProc(Window& w, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  // Messages at WM_USER and above mean different things per window class.
  if (msg == WM_SETTEXT_) {
    w.text = lParam ? reinterpret_cast<const char*>(lParam) : "";
    if (w.cls == "Edit") {
      // An edit box reports every change of its text, also a programmatic one.
      WindowHandle edit = w.hwnd, parent = w.parent;
      uintptr_t wp = (static_cast<uintptr_t>(EN_CHANGE_) << 16) | static_cast<uint16_t>(w.id);
      Dispatch(parent, WM_COMMAND_, wp, edit);
    }
    return 1;
  }
  if (w.cls == "Edit") {
    if (msg == EM_SETCUEBANNER_) {
      w.cueBanner = lParam ? reinterpret_cast<const char*>(lParam) : "";
      return 1;
    }
    if (msg == EM_SETPASSWORDCHAR_) w.passwordChar = static_cast<uint32_t>(wParam);
    return 0;
  }
  if (w.cls == "msctls_trackbar32") {
    switch (msg) {
      case TBM_GETPOS_: return w.sliderPos;
      case TBM_SETPOS_:
        w.sliderPos = std::clamp(static_cast<int32_t>(lParam), w.sliderMin,
                                 std::max(w.sliderMin, w.sliderMax));
        return 0;
      case TBM_SETRANGEMIN_: w.sliderMin = static_cast<int32_t>(lParam); return 0;
      case TBM_SETRANGEMAX_: w.sliderMax = static_cast<int32_t>(lParam); return 0;
    }
    return 0;
  }
  if (w.cls == "ComboBoxEx32") {
    switch (msg) {
      case CB_GETCURSEL_: return w.comboSel;
      case CB_SETCURSEL_: {
        int32_t i = static_cast<int32_t>(wParam);
        if (i < 0 || i >= static_cast<int32_t>(w.comboItems.size())) {
          w.comboSel = -1;
          return -1;
        }
        w.comboSel = i;
        for (WindowHandle h : order_) {
          Window* c = Find(h);
          if (c && c->parent == w.hwnd && c->cls == "Edit") c->text = w.comboItems[i];
        }
        return i;
      }
      case CB_GETITEMDATA_: {
        size_t i = wParam;
        return i < w.comboData.size() ? w.comboData[i] : -1;
      }
      case CBEM_GETEDITCONTROL_:
        for (WindowHandle h : order_) {
          Window* c = Find(h);
          if (c && c->parent == w.hwnd && c->cls == "Edit") return h;
        }
        return 0;
    }
    return 0;
  }
  return 0;
}

void DialogLayer::EnumChildWindows(WindowHandle parent, TdEnumProc proc, intptr_t refData) {
  std::vector<WindowHandle> all;
  std::function<void(WindowHandle)> collect = [&](WindowHandle p) {
    for (WindowHandle h : order_) {
      Window* w = Find(h);
      if (w && w->parent == p) {
        all.push_back(h);
        collect(h);
      }
    }
  };
  collect(parent);
  for (WindowHandle h : all) {
    if (!Find(h)) continue;
    if (proc(h, refData) == 0) break;
  }
  mTDHelper::RethrowPendingEnd();
}

std::string DialogLayer::GetClassName(WindowHandle hwnd) {
  Window* w = Find(hwnd);
  return w ? w->cls : "";
}

WindowHandle DialogLayer::FindWindowEx(WindowHandle parent, WindowHandle after,
                                       const std::string& className) {
  bool past = after == 0;
  for (WindowHandle h : order_) {
    Window* w = Find(h);
    if (!w || w->parent != parent) continue;
    if (!past) {
      past = h == after;
      continue;
    }
    if (className.empty() || w->cls == className) return h;
  }
  return 0;
}

TdRect DialogLayer::GetWindowRect(WindowHandle hwnd) {
  Window* w = Find(hwnd);
  if (!w) return TdRect{};
  if (!w->parent) return w->rect;
  TdPoint o = ClientOrigin(w->parent);
  return TdRect{o.x + w->rect.left, o.y + w->rect.top, o.x + w->rect.right, o.y + w->rect.bottom};
}

TdRect DialogLayer::GetClientRect(WindowHandle hwnd) {
  Window* w = Find(hwnd);
  if (!w) return TdRect{};
  if (!w->parent) {
    LayerDialog* d = DialogOf(hwnd);
    if (d) return TdRect{0, 0, d->clientW_, d->clientH_};
    return TdRect{0, 0, w->rect.Width() - 2 * kFrameX,
                  w->rect.Height() - kFrameTop - kFrameBottom};
  }
  return TdRect{0, 0, w->rect.Width(), w->rect.Height()};
}

TdPoint DialogLayer::ScreenToClient(WindowHandle hwnd, TdPoint p) {
  TdPoint o = ClientOrigin(hwnd);
  return TdPoint{p.x - o.x, p.y - o.y};
}

void DialogLayer::SetWindowPos(WindowHandle hwnd, int32_t x, int32_t y, int32_t cx, int32_t cy,
                               bool move, bool size) {
  Window* w = Find(hwnd);
  if (!w) return;
  if (!w->parent && size) {
    // The dialog: its client area follows the new outer size.
    if (LayerDialog* d = DialogOf(hwnd)) {
      d->clientW_ = cx - 2 * kFrameX;
      d->clientH_ = cy - kFrameTop - kFrameBottom;
      w->rect.right = w->rect.left + cx;
      w->rect.bottom = w->rect.top + cy;
      if (Window* host = Find(FindWindowEx(hwnd, 0, "DirectUIHWND")))
        host->rect = TdRect{0, 0, d->clientW_, d->clientH_};
    }
    if (!move) return;
  }
  int32_t width = w->rect.Width(), height = w->rect.Height();
  if (move) {
    w->rect.left = x;
    w->rect.top = y;
  }
  if (size) {
    width = cx;
    height = cy;
  }
  w->rect.right = w->rect.left + width;
  w->rect.bottom = w->rect.top + height;
  for (LayerDialog* d : open_)
    if (d->input_.present && d->input_.hwnd == hwnd) SyncInput(*d);
}

void DialogLayer::InvalidateRect(WindowHandle, bool) {}

intptr_t DialogLayer::GetWindowLong(WindowHandle hwnd, int32_t index) {
  Window* w = Find(hwnd);
  if (!w) return 0;
  if (index == GWL_STYLE_) return static_cast<intptr_t>(w->style);
  if (index == -20) return static_cast<intptr_t>(w->exStyle);
  if (index == -12) return w->id;
  return 0;
}

void DialogLayer::SetWindowLong(WindowHandle hwnd, int32_t index, intptr_t value) {
  Window* w = Find(hwnd);
  if (!w) return;
  if (index == GWL_STYLE_) w->style = static_cast<uint32_t>(value);
  if (index == -20) w->exStyle = static_cast<uint32_t>(value);
}

void DialogLayer::SetFocus(WindowHandle hwnd) { focus_ = hwnd; }

WindowHandle DialogLayer::CreateWindowEx(uint32_t exStyle, const std::string& className,
                                         const std::string& text, uint32_t style, int32_t x,
                                         int32_t y, int32_t cx, int32_t cy, WindowHandle parent,
                                         int32_t id) {
  if (!Find(parent)) return 0;
  static const char* const kKnown[] = {"Edit", "ComboBoxEx32", "msctls_trackbar32",
                                       "SysDateTimePick32", "Static"};
  if (std::find(std::begin(kKnown), std::end(kKnown), className) == std::end(kKnown)) return 0;
  WindowHandle h = NewWindow(parent, className, text, style, id, TdRect{x, y, x + cx, y + cy});
  Window* w = Find(h);
  w->exStyle = exStyle;
  if (className == "Edit" && (style & ES_PASSWORD_)) w->passwordChar = 0x25CF;
  if (className == "ComboBoxEx32" && (style & 0x3) == 0x2)
    NewWindow(h, "Edit", "", WS_CHILD_ | WS_VISIBLE_, 1001, TdRect{0, 0, cx, cy});
  if (className == "SysDateTimePick32") w->dateTimeChecked = !(style & 2);
  return h;
}

std::string DialogLayer::GetWindowText(WindowHandle hwnd) {
  Window* w = Find(hwnd);
  return w ? w->text : "";
}

void DialogLayer::SetWindowText(WindowHandle hwnd, const std::string& text) {
  SendMessage(hwnd, WM_SETTEXT_, 0, reinterpret_cast<intptr_t>(text.c_str()));
}

bool DialogLayer::SetWindowSubclass(WindowHandle hwnd, TdSubclassProc proc, uintptr_t id,
                                    intptr_t refData) {
  Window* w = Find(hwnd);
  if (!w || !proc) return false;
  for (auto& s : w->subclasses)
    if (s.proc == proc && s.id == id) {
      s.ref = refData;
      return true;
    }
  w->subclasses.push_back(Window::Sub{proc, id, refData});
  return true;
}

bool DialogLayer::RemoveWindowSubclass(WindowHandle hwnd, TdSubclassProc proc, uintptr_t id) {
  Window* w = Find(hwnd);
  if (!w) return false;
  auto it = std::find_if(w->subclasses.begin(), w->subclasses.end(),
                         [&](const Window::Sub& s) { return s.proc == proc && s.id == id; });
  if (it == w->subclasses.end()) return false;
  w->subclasses.erase(it);
  return true;
}

bool DialogLayer::GetDateTime(WindowHandle picker, TdDateTime* value) {
  Window* w = Find(picker);
  if (!w) return false;
  if (value) *value = w->dateTime;
  return w->dateTimeChecked;
}

void DialogLayer::SetDateTime(WindowHandle picker, const TdDateTime* value) {
  Window* w = Find(picker);
  if (!w) return;
  w->dateTimeChecked = value != nullptr;
  if (value) w->dateTime = *value;
}

void DialogLayer::SetDateTimeRange(WindowHandle, const TdDateTime&, const TdDateTime&) {}

void DialogLayer::ComboInsertItem(WindowHandle combo, int32_t index, const std::string& text,
                                  int32_t, int32_t, int32_t, intptr_t itemData) {
  Window* w = Find(combo);
  if (!w) return;
  size_t at = index < 0 ? w->comboItems.size()
                        : std::min(static_cast<size_t>(index), w->comboItems.size());
  w->comboItems.insert(w->comboItems.begin() + static_cast<std::ptrdiff_t>(at), text);
  w->comboData.insert(w->comboData.begin() + static_cast<std::ptrdiff_t>(at), itemData);
}

}  // namespace qv
