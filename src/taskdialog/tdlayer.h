// Our own task dialog layer, for platforms without comctl32: it takes the same
// record, delivers the same notifications in the same order (constructed,
// created, a timer tick about every 200 ms, clicks, destroyed), answers the
// same messages, and offers the same child windows (a "DirectUIHWND" content
// host, "Button" windows laid out in pixels, injected controls such as "Edit"),
// so cTaskDialog's scan, placement and subclass code runs unchanged. What the
// user sees and does is a renderer's business (terminal, scripted for tests).
//
// The modal loop runs on qv::Loop(): the dialog timer is a loop timer, and the
// workflows' own timers, PumpEvents and WaitMs interleave with it; a dialog
// closed from deep inside nested handlers ends once the stack unwinds.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/ui.h"
#include "taskdialog/tdconst.h"
#include "taskdialog/tdplatform.h"

namespace qv {

class DialogLayer;
class EventLoop;

// One shown dialog as a renderer sees it, and the user's actions on it.
class LayerDialog {
 public:
  struct Button {
    int32_t id = 0;
    std::string text;  // command links: first line; the note is in `note`
    std::string note;
    bool common = false;
    bool commandLink = false;
    bool enabled = true;
    bool elevated = false;
    WindowHandle hwnd = 0;
  };
  struct Radio {
    int32_t id = 0;
    std::string text;
    bool enabled = true;
    bool checked = false;
  };
  struct Progress {
    bool shown = false;
    bool marquee = false;
    int32_t minimum = 0, maximum = 100, position = 0, state = 1;
  };
  struct Input {
    bool present = false;
    WindowHandle hwnd = 0;
    std::string text;
    std::string cueBanner;
    bool masked = false;
    TdRect rect;  // in the dialog's client coordinates
    bool inButtonRow = false;  // placed beside the common buttons (InputAlign 1)
  };

  // ---- What is shown ----
  const TaskDialogConfig& Record() const { return record_; }
  WindowHandle Hwnd() const { return hwnd_; }
  const std::string& Title() const { return record_.pszWindowTitle; }
  const std::string& MainInstruction() const { return record_.pszMainInstruction; }
  const std::string& Content() const { return record_.pszContent; }
  const std::string& Footer() const { return record_.pszFooter; }
  const std::string& ExpandedInfo() const { return record_.pszExpandedInformation; }
  intptr_t IconMain() const { return record_.mainIcon; }
  intptr_t IconFooter() const { return record_.footerIcon; }
  // Radio buttons are apart; here the custom buttons in their order, then the
  // common buttons in the order of their bits (OK, Yes, No, Cancel, Retry,
  // Close), which is also the order in which the button windows enumerate.
  const std::vector<Button>& Buttons() const { return buttons_; }
  const std::vector<Radio>& Radios() const { return radios_; }
  const Progress& ProgressBar() const { return progress_; }
  const Input& InputBox() const { return input_; }
  bool Verified() const { return verified_; }
  bool Expanded() const { return expanded_; }
  int32_t ClientWidth() const { return clientW_; }
  int32_t ClientHeight() const { return clientH_; }
  // Escape and the close box end the dialog only when it has a Cancel button
  // or allows cancellation; they then click IDCANCEL (2).
  bool AllowsCancel() const;
  bool Open() const { return !closing_; }
  int32_t Result() const { return result_; }
  int64_t Ticks() const { return ticks_; }
  // How many times the program set the footer while the dialog was shown,
  // also to the text it already had: a repeated refusal is news to the user.
  int64_t FooterSets() const { return footerSets_; }

  // ---- The user's actions (ignored once the dialog is closing) ----
  // A click on an enabled button (the platform's own button click).
  bool Click(int32_t id);
  // Escape / close box: clicks Cancel (2) when allowed; false when not.
  bool Cancel();
  // What end of input does: Cancel when allowed, else the close id 8 as the
  // component's CloseDialog would.
  bool Dismiss();
  // The button Enter takes: the default button when set and present, else
  // OK, else the first button.
  int32_t DefaultButtonId() const;
  bool SelectRadio(int32_t id);
  bool ToggleVerification();
  bool ToggleExpanded();
  // Typing into the input box: one text change (EN_CHANGE) per character.
  bool Type(const std::string& text);
  // Erases the last `count` characters, one change each.
  bool Backspace(int count = 1);
  // Replaces the whole text in one change (a paste over a selection).
  bool SetInput(const std::string& text);
  bool Help();
  // A click on a hyperlink of the texts (its href).
  bool Hyperlink(const std::string& target);

 private:
  friend class DialogLayer;
  DialogLayer* layer_ = nullptr;
  TaskDialogConfig record_;
  WindowHandle hwnd_ = 0;
  std::vector<Button> buttons_;
  std::vector<Radio> radios_;
  Progress progress_;
  Input input_;
  bool verified_ = false, expanded_ = false;
  int32_t clientW_ = 0, clientH_ = 0;
  bool closing_ = false;
  int32_t result_ = 0;
  int64_t ticks_ = 0;
  int64_t footerSets_ = 0;
  int64_t timerBaseMs_ = 0;
  int timerId_ = 0;
};

// What draws the dialogs and reads the user's input.
class DialogRenderer {
 public:
  virtual ~DialogRenderer() = default;
  // The dialog exists (after TDN_CREATED and the component's DialogCreated).
  virtual void Shown(LayerDialog& dialog) = 0;
  // Something visible changed (texts, icons, progress, buttons, input).
  virtual void Changed(LayerDialog& dialog) = 0;
  // A timer tick was delivered.
  virtual void Ticked(LayerDialog&) {}
  // The dialog is closed (after TDN_DESTROYED); `Result()` is final.
  virtual void Closed(LayerDialog& dialog) = 0;
  // A new page replaced the dialog's contents (TDN_NAVIGATED delivered).
  virtual void Navigated(LayerDialog& dialog) { Changed(dialog); }
  // A Yes/No question, modal; answers IDYES_ or IDNO_.
  virtual int Question(const std::string& text, const std::string& title, uint32_t flags) = 0;
  virtual void Beep(uint32_t type) = 0;
};

// The layer: the task dialog platform off Windows, and the Yes/No prompts.
class DialogLayer : public TaskDialogPlatform, public UserPrompts {
 public:
  explicit DialogLayer(DialogRenderer& renderer, float dpiX = 1.0f, float dpiY = 1.0f);
  ~DialogLayer() override;

  DialogRenderer& Renderer() { return renderer_; }
  // The dialogs open now, innermost last.
  const std::vector<LayerDialog*>& OpenDialogs() const { return open_; }
  // The window that has the keyboard focus.
  WindowHandle Focus() const { return focus_; }

  // TaskDialogPlatform
  int32_t TaskDialogIndirect(const TaskDialogConfig& config, int32_t* button, int32_t* radio,
                             int32_t* verify) override;
  int32_t TaskDialog(WindowHandle owner, WindowHandle instance, const std::string& title,
                     const std::string& mainInstruction, const std::string& content,
                     uint32_t commonButtons, intptr_t icon, int32_t* button) override;
  intptr_t SendMessage(WindowHandle hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) override;
  void SetElementText(WindowHandle dialog, uint32_t element, const std::string& text,
                      bool relayout) override;
  void SetCueBanner(WindowHandle edit, const std::string& text) override;
  void NavigatePage(WindowHandle dialog, const TaskDialogConfig& page) override;
  void EnumChildWindows(WindowHandle parent, TdEnumProc proc, intptr_t refData) override;
  std::string GetClassName(WindowHandle hwnd) override;
  WindowHandle FindWindowEx(WindowHandle parent, WindowHandle after,
                            const std::string& className) override;
  TdRect GetWindowRect(WindowHandle hwnd) override;
  TdRect GetClientRect(WindowHandle hwnd) override;
  TdPoint ScreenToClient(WindowHandle hwnd, TdPoint p) override;
  void SetWindowPos(WindowHandle hwnd, int32_t x, int32_t y, int32_t cx, int32_t cy, bool move,
                    bool size) override;
  void InvalidateRect(WindowHandle hwnd, bool erase) override;
  intptr_t GetWindowLong(WindowHandle hwnd, int32_t index) override;
  void SetWindowLong(WindowHandle hwnd, int32_t index, intptr_t value) override;
  void SetFocus(WindowHandle hwnd) override;
  WindowHandle CreateWindowEx(uint32_t exStyle, const std::string& className,
                              const std::string& text, uint32_t style, int32_t x, int32_t y,
                              int32_t cx, int32_t cy, WindowHandle parent, int32_t id) override;
  std::string GetWindowText(WindowHandle hwnd) override;
  void SetWindowText(WindowHandle hwnd, const std::string& text) override;
  bool SetWindowSubclass(WindowHandle hwnd, TdSubclassProc proc, uintptr_t id,
                         intptr_t refData) override;
  bool RemoveWindowSubclass(WindowHandle hwnd, TdSubclassProc proc, uintptr_t id) override;
  intptr_t DefSubclassProc(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                           intptr_t lParam) override;
  bool GetDateTime(WindowHandle picker, TdDateTime* value) override;
  void SetDateTime(WindowHandle picker, const TdDateTime* value) override;
  void SetDateTimeRange(WindowHandle picker, const TdDateTime& min, const TdDateTime& max) override;
  void ComboInsertItem(WindowHandle combo, int32_t index, const std::string& text, int32_t image,
                       int32_t selectedImage, int32_t indent, intptr_t itemData) override;
  float DpiScaleX() override { return dpiX_; }
  float DpiScaleY() override { return dpiY_; }
  intptr_t CreateControlFont() override { return 1; }
  void DeleteObject(intptr_t) override {}
  intptr_t LoadIcon(TdModule, int32_t resource, int32_t) override { return resource; }
  void DestroyIcon(intptr_t) override {}
  intptr_t ContentColourBrush(WindowHandle, int32_t, int32_t) override { return 1; }
  void ShellOpen(const std::string& target) override;
  WindowHandle ModuleHandle(TdModule module) override { return 0x1000 + static_cast<int>(module); }
  bool CommonControlsV6() override { return true; }
  bool ActivateContext() override { return false; }
  void DeactivateContext() override {}
  std::string MinAnimate() override { return ""; }
  std::string ProgramTitle() override;
  void SetProgramTitle(const std::string& title) { programTitle_ = title; }

  // UserPrompts
  int MessageBox(const std::string& text, const std::string& title, uint32_t flags) override;
  void Beep(uint32_t type) override;

  // Messages to a window with the text changes an edit box reports (used by
  // LayerDialog's actions).
  void EditChanged(WindowHandle edit, const std::string& text);
  // Delivers a button click as the platform does (notification, then the
  // dialog closes unless the answer was 1).
  void ClickFrom(LayerDialog& dialog, int32_t id);
  intptr_t Notify(LayerDialog& dialog, uint32_t code, uintptr_t wParam, intptr_t lParam);
  // Lays the dialog out again (after the expando button changed it).
  void Relayout(LayerDialog& dialog);

 private:
  struct Window {
    WindowHandle hwnd = 0;
    WindowHandle parent = 0;
    std::string cls;
    std::string text;
    uint32_t style = 0, exStyle = 0;
    int32_t id = 0;
    TdRect rect;  // in the parent's client coordinates
    struct Sub {
      TdSubclassProc proc;
      uintptr_t id;
      intptr_t ref;
    };
    std::vector<Sub> subclasses;
    // Control state of the injected controls.
    std::string cueBanner;
    int32_t sliderMin = 0, sliderMax = 100, sliderPos = 0;
    std::vector<std::string> comboItems;
    std::vector<intptr_t> comboData;
    int32_t comboSel = -1;
    TdDateTime dateTime;
    bool dateTimeChecked = true;
    uint32_t passwordChar = 0;
  };
  // A message on its way through a window's subclass chain.
  struct Frame {
    WindowHandle hwnd = 0;
    std::vector<Window::Sub> chain;
    size_t next = 0;
  };
  intptr_t CallNext(size_t frame, uint32_t msg, uintptr_t wParam, intptr_t lParam);
  Window* Find(WindowHandle hwnd);
  WindowHandle NewWindow(WindowHandle parent, const std::string& cls, const std::string& text,
                         uint32_t style, int32_t id, TdRect rect);
  void DestroyWindow(WindowHandle hwnd);
  intptr_t Dispatch(WindowHandle hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);
  intptr_t DefaultProc(Window& w, uint32_t msg, uintptr_t wParam, intptr_t lParam);
  LayerDialog* DialogOf(WindowHandle hwnd);
  void BuildWindows(LayerDialog& d);
  void Layout(LayerDialog& d);
  void StartTimer(LayerDialog& d);
  void StopTimer(LayerDialog& d);
  void SyncInput(LayerDialog& d);
  TdPoint ClientOrigin(WindowHandle hwnd);

  DialogRenderer& renderer_;
  float dpiX_, dpiY_;
  std::map<WindowHandle, Window> windows_;
  std::vector<WindowHandle> order_;  // creation order, which is enumeration order
  std::vector<Frame> frames_;
  WindowHandle focus_ = 0;
  EventLoop* timerLoop_ = nullptr;
  WindowHandle nextHandle_ = 0x10010;
  std::vector<LayerDialog*> open_;
  std::string programTitle_;
  int64_t dialogsShown_ = 0;
};

}  // namespace qv
