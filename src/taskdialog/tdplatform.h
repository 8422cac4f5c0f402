// What cTaskDialog needs from the platform, reduced to the calls it makes. On
// Windows the implementation is comctl32's task dialog and user32; elsewhere it
// is our own dialog layer (tdlayer.h), which offers the same notifications,
// messages and child windows. Texts are UTF-8 here; the Windows implementation
// converts at its edge.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

using WindowHandle = intptr_t;  // HWND, HICON, HINSTANCE, HFONT... as an integer

// Callback entry points with the platform's shapes (see mTDHelper.h).
using TdCallbackProc = intptr_t (*)(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                                    intptr_t lParam, intptr_t refData);
using TdEnumProc = int32_t (*)(WindowHandle hwnd, intptr_t refData);
using TdSubclassProc = intptr_t (*)(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                                    intptr_t lParam, uintptr_t subclassId, intptr_t refData);

struct TdButton {
  int32_t id = 0;
  std::string text;  // for command links, the text after the first line feed is the note
};

// The platform record (TASKDIALOGCONFIG) as the component fills it.
struct TaskDialogConfig {
  uint32_t cbSize = 96;
  WindowHandle hwndParent = 0;
  WindowHandle hInstance = 0;
  uint32_t dwFlags = 0;
  uint32_t dwCommonButtons = 0;
  std::string pszWindowTitle;
  intptr_t mainIcon = 0;  // handle or 16-bit ordinal
  std::string pszMainInstruction;
  std::string pszContent;
  std::vector<TdButton> buttons;  // cButtons = size(), pButtons = null when empty
  int32_t nDefaultButton = 0;
  std::vector<TdButton> radioButtons;
  int32_t nDefaultRadioButton = 0;
  std::string pszVerificationText;
  bool hasExpandedInformation = false;  // the pointer stays null until ExpandedInfo is set
  std::string pszExpandedInformation;
  std::string pszExpandedControlText;
  std::string pszCollapsedControlText;
  intptr_t footerIcon = 0;
  std::string pszFooter;
  TdCallbackProc pfCallback = nullptr;
  intptr_t lpCallbackData = 0;
  uint32_t cxWidth = 0;
};

struct TdRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
};
struct TdPoint {
  int32_t x = 0, y = 0;
};

// Date-time value of the pickers (SYSTEMTIME fields).
struct TdDateTime {
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool operator==(const TdDateTime&) const = default;
};

enum class TdModule { Program, Shell32, Imageres };

class TaskDialogPlatform {
 public:
  virtual ~TaskDialogPlatform() = default;

  // Modal; 0 (S_OK) on success, else a failure code and no notification.
  virtual int32_t TaskDialogIndirect(const TaskDialogConfig& config, int32_t* button,
                                     int32_t* radio, int32_t* verify) = 0;
  virtual int32_t TaskDialog(WindowHandle owner, WindowHandle instance, const std::string& title,
                             const std::string& mainInstruction, const std::string& content,
                             uint32_t commonButtons, intptr_t icon, int32_t* button) = 0;
  // Messages whose arguments are numbers only. Texts and records travel
  // through the typed calls below, never as pointers in integers: each
  // platform converts them at its own edge (UTF-16 on Windows).
  virtual intptr_t SendMessage(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                               intptr_t lParam) = 0;
  // A text element (TDE_*) of the shown dialog. `relayout`: the dialog lays
  // itself out again around the new text (it may have more lines), as
  // TDM_SET_ELEMENT_TEXT does; otherwise the text is replaced in place
  // (TDM_UPDATE_ELEMENT_TEXT).
  virtual void SetElementText(WindowHandle dialog, uint32_t element, const std::string& text,
                              bool relayout) = 0;
  // The grey hint of an empty edit box (EM_SETCUEBANNER).
  virtual void SetCueBanner(WindowHandle edit, const std::string& text) = 0;
  // Replaces the shown dialog by a new page (TDM_NAVIGATE_PAGE).
  virtual void NavigatePage(WindowHandle dialog, const TaskDialogConfig& page) = 0;

  virtual void EnumChildWindows(WindowHandle parent, TdEnumProc proc, intptr_t refData) = 0;
  virtual std::string GetClassName(WindowHandle hwnd) = 0;
  virtual WindowHandle FindWindowEx(WindowHandle parent, WindowHandle after,
                                    const std::string& className) = 0;
  virtual TdRect GetWindowRect(WindowHandle hwnd) = 0;
  virtual TdRect GetClientRect(WindowHandle hwnd) = 0;
  virtual TdPoint ScreenToClient(WindowHandle hwnd, TdPoint p) = 0;
  virtual void SetWindowPos(WindowHandle hwnd, int32_t x, int32_t y, int32_t cx, int32_t cy,
                            bool move, bool size) = 0;
  virtual void InvalidateRect(WindowHandle hwnd, bool erase) = 0;
  virtual intptr_t GetWindowLong(WindowHandle hwnd, int32_t index) = 0;
  virtual void SetWindowLong(WindowHandle hwnd, int32_t index, intptr_t value) = 0;
  virtual void SetFocus(WindowHandle hwnd) = 0;
  virtual WindowHandle CreateWindowEx(uint32_t exStyle, const std::string& className,
                                      const std::string& text, uint32_t style, int32_t x,
                                      int32_t y, int32_t cx, int32_t cy, WindowHandle parent,
                                      int32_t id) = 0;
  virtual std::string GetWindowText(WindowHandle hwnd) = 0;
  virtual void SetWindowText(WindowHandle hwnd, const std::string& text) = 0;

  virtual bool SetWindowSubclass(WindowHandle hwnd, TdSubclassProc proc, uintptr_t id,
                                 intptr_t refData) = 0;
  virtual bool RemoveWindowSubclass(WindowHandle hwnd, TdSubclassProc proc, uintptr_t id) = 0;
  virtual intptr_t DefSubclassProc(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                                   intptr_t lParam) = 0;

  // Date-time pickers and the combo box (messages with structured arguments).
  virtual bool GetDateTime(WindowHandle picker, TdDateTime* value) = 0;  // false: unchecked
  virtual void SetDateTime(WindowHandle picker, const TdDateTime* value) = 0;  // null: unchecked
  virtual void SetDateTimeRange(WindowHandle picker, const TdDateTime& min,
                                const TdDateTime& max) = 0;
  virtual void ComboInsertItem(WindowHandle combo, int32_t index, const std::string& text,
                               int32_t image, int32_t selectedImage, int32_t indent,
                               intptr_t itemData) = 0;

  // Screen pixels per logical inch / 96.
  virtual float DpiScaleX() = 0;
  virtual float DpiScaleY() = 0;
  // The 9-point message font (0 when none); freed with DeleteObject.
  virtual intptr_t CreateControlFont() = 0;
  virtual void DeleteObject(intptr_t object) = 0;
  virtual intptr_t LoadIcon(TdModule module, int32_t resource, int32_t size) = 0;
  virtual void DestroyIcon(intptr_t icon) = 0;
  virtual intptr_t ContentColourBrush(WindowHandle host, int32_t x, int32_t y) = 0;
  virtual void ShellOpen(const std::string& target) = 0;

  // Modules and the version-6 activation context.
  virtual WindowHandle ModuleHandle(TdModule module) = 0;
  virtual bool CommonControlsV6() = 0;
  virtual bool ActivateContext() = 0;  // false when there is no context to use
  virtual void DeactivateContext() = 0;
  virtual std::string MinAnimate() = 0;
  virtual std::string ProgramTitle() = 0;
};

// The platform of this process: the Windows implementation, or the dialog
// layer off Windows. Tests install their own (a layer with a scripted renderer).
TaskDialogPlatform& TdPlatform();
void SetTdPlatform(TaskDialogPlatform* platform);

}  // namespace qv
