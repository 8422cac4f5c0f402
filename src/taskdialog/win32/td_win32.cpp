// The task dialog platform on Windows: comctl32 version 6's TaskDialogIndirect,
// user32 windows and the comctl32 subclass API. Texts cross here between UTF-8
// (inside) and UTF-16 (the Win32 edge); the component's plain callbacks are
// reached through trampolines with the platform's calling convention, which
// never let an exception through.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

// The platform interface has methods named like user32's A/W macros.
#undef SendMessage
#undef CreateWindowEx
#undef GetWindowText
#undef SetWindowText
#undef MessageBox
#undef GetClassName
#undef FindWindowEx
#undef LoadIcon
#undef GetWindowLong
#undef SetWindowLong

#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/text.h"
#include "support/ui.h"
#include "taskdialog/install.h"
#include "taskdialog/mTDHelper.h"
#include "taskdialog/tdplatform.h"

namespace qv {

namespace {

std::wstring W(const std::string& s) {
  std::u16string u = Utf8ToUtf16(s);
  return std::wstring(u.begin(), u.end());
}

std::string U8(const wchar_t* s) {
  if (!s) return "";
  std::u16string u;
  for (; *s; ++s) u.push_back(static_cast<char16_t>(*s));
  return Utf16ToUtf8(u);
}

// A record in the platform's form, with the wide strings it points into; it
// must stay alive, unmoved, while its dialog (or page) is shown.
struct NativeRecord {
  TdCallbackProc proc = nullptr;
  intptr_t ref = 0;
  std::wstring title, mainInstruction, content, verification, expanded, expandedControl,
      collapsedControl, footer;
  std::vector<std::wstring> buttonTexts, radioTexts;
  std::vector<TASKDIALOG_BUTTON> buttons, radios;
  TASKDIALOGCONFIG config{};
  std::string hyperlink;  // the last clicked target, as UTF-8
  NativeRecord* root = nullptr;     // the record the dialog was shown with
  std::list<NativeRecord> pages;    // pages navigated to (root only)
  // Texts set with a relayout (root only): kept alive for as long as the
  // dialog, in case the dialog points to them rather than copying them.
  std::map<uint32_t, std::wstring> setTexts;
};

// The dialog windows and the records they were shown with, for navigation.
std::map<HWND, NativeRecord*> g_roots;

HRESULT CALLBACK CallbackTrampoline(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                    LONG_PTR data) {
  auto* rec = reinterpret_cast<NativeRecord*>(data);
  if (!rec) return S_OK;
  if (msg == TDN_CREATED || msg == TDN_NAVIGATED) g_roots[hwnd] = rec->root ? rec->root : rec;
  if (!rec->proc) return S_OK;
  try {
    if (msg == TDN_HYPERLINK_CLICKED) {
      rec->hyperlink = U8(reinterpret_cast<const wchar_t*>(lParam));
      lParam = reinterpret_cast<LPARAM>(rec->hyperlink.c_str());
    }
    return static_cast<HRESULT>(
        rec->proc(reinterpret_cast<WindowHandle>(hwnd), msg, wParam, lParam, rec->ref));
  } catch (...) {
    return S_OK;
  }
}

void Fill(NativeRecord& n, const TaskDialogConfig& c) {
  n.proc = c.pfCallback;
  n.ref = c.lpCallbackData;
  n.title = W(c.pszWindowTitle);
  n.mainInstruction = W(c.pszMainInstruction);
  n.content = W(c.pszContent);
  n.verification = W(c.pszVerificationText);
  n.expanded = W(c.pszExpandedInformation);
  n.expandedControl = W(c.pszExpandedControlText);
  n.collapsedControl = W(c.pszCollapsedControlText);
  n.footer = W(c.pszFooter);
  n.buttonTexts.clear();
  n.radioTexts.clear();
  for (const auto& b : c.buttons) n.buttonTexts.push_back(W(b.text));
  for (const auto& b : c.radioButtons) n.radioTexts.push_back(W(b.text));
  n.buttons.clear();
  n.radios.clear();
  for (size_t i = 0; i < c.buttons.size(); ++i)
    n.buttons.push_back(TASKDIALOG_BUTTON{c.buttons[i].id, n.buttonTexts[i].c_str()});
  for (size_t i = 0; i < c.radioButtons.size(); ++i)
    n.radios.push_back(TASKDIALOG_BUTTON{c.radioButtons[i].id, n.radioTexts[i].c_str()});

  TASKDIALOGCONFIG& t = n.config;
  t = TASKDIALOGCONFIG{};
  t.cbSize = sizeof(TASKDIALOGCONFIG);
  t.hwndParent = reinterpret_cast<HWND>(c.hwndParent);
  t.hInstance = reinterpret_cast<HINSTANCE>(c.hInstance);
  t.dwFlags = static_cast<TASKDIALOG_FLAGS>(c.dwFlags);
  t.dwCommonButtons = static_cast<TASKDIALOG_COMMON_BUTTON_FLAGS>(c.dwCommonButtons);
  t.pszWindowTitle = n.title.c_str();
  if (c.dwFlags & TDF_USE_HICON_MAIN)
    t.hMainIcon = reinterpret_cast<HICON>(c.mainIcon);
  else
    t.pszMainIcon = reinterpret_cast<PCWSTR>(c.mainIcon);
  t.pszMainInstruction = n.mainInstruction.c_str();
  t.pszContent = n.content.c_str();
  t.cButtons = static_cast<UINT>(n.buttons.size());
  t.pButtons = n.buttons.empty() ? nullptr : n.buttons.data();
  t.nDefaultButton = c.nDefaultButton;
  t.cRadioButtons = static_cast<UINT>(n.radios.size());
  t.pRadioButtons = n.radios.empty() ? nullptr : n.radios.data();
  t.nDefaultRadioButton = c.nDefaultRadioButton;
  t.pszVerificationText = c.pszVerificationText.empty() ? nullptr : n.verification.c_str();
  t.pszExpandedInformation = c.hasExpandedInformation ? n.expanded.c_str() : nullptr;
  t.pszExpandedControlText = c.pszExpandedControlText.empty() ? nullptr : n.expandedControl.c_str();
  t.pszCollapsedControlText =
      c.pszCollapsedControlText.empty() ? nullptr : n.collapsedControl.c_str();
  if (c.dwFlags & TDF_USE_HICON_FOOTER)
    t.hFooterIcon = reinterpret_cast<HICON>(c.footerIcon);
  else
    t.pszFooterIcon = reinterpret_cast<PCWSTR>(c.footerIcon);
  t.pszFooter = n.footer.c_str();
  t.pfCallback = &CallbackTrampoline;
  t.lpCallbackData = reinterpret_cast<LONG_PTR>(&n);
  t.cxWidth = c.cxWidth;
}

// A task dialog drawn with ordinary child windows (Wine's comctl32) updates
// a text in place without a new layout, so its label keeps the size of the
// old text and a longer one is cut: the three blanks a progress footer starts
// with would hide every percentage after them. The label that now shows the
// text is widened up to the dialog's right margin, and made taller when the
// text needs it. A dialog with a content host lays its texts out itself.
void FitUpdatedLabel(HWND dialog, const std::wstring& text) {
  if (text.empty() || FindWindowExW(dialog, nullptr, L"DirectUIHWND", nullptr)) return;
  for (HWND child = FindWindowExW(dialog, nullptr, L"Static", nullptr); child;
       child = FindWindowExW(dialog, child, L"Static", nullptr)) {
    int length = GetWindowTextLengthW(child);
    if (length != static_cast<int>(text.size())) continue;
    std::wstring shown(static_cast<size_t>(length) + 1, L'\0');
    shown.resize(static_cast<size_t>(GetWindowTextW(child, shown.data(), length + 1)));
    if (shown != text) continue;
    RECT label{}, client{};
    GetWindowRect(child, &label);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&label), 2);
    GetClientRect(dialog, &client);
    // The right margin is the one the label's left edge keeps from the
    // dialog's left side, as the dialog's own layout does.
    LONG width = std::max<LONG>(label.right - label.left, client.right - 2 * label.left);
    RECT need{0, 0, width, 0};
    HDC dc = GetDC(child);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(child, dc);
    LONG height = std::max<LONG>(label.bottom - label.top, need.bottom - need.top);
    SetWindowPos(child, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(child, nullptr, TRUE);
    return;
  }
}

struct EnumData {
  TdEnumProc proc;
  intptr_t ref;
};

BOOL CALLBACK EnumTrampoline(HWND hwnd, LPARAM lParam) {
  auto* d = reinterpret_cast<EnumData*>(lParam);
  try {
    return d->proc(reinterpret_cast<WindowHandle>(hwnd), d->ref) ? TRUE : FALSE;
  } catch (...) {
    return TRUE;
  }
}

struct SubclassData {
  TdSubclassProc proc;
  intptr_t ref;
};

LRESULT CALLBACK SubclassTrampoline(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR data) {
  auto* d = reinterpret_cast<SubclassData*>(data);
  try {
    return d->proc(reinterpret_cast<WindowHandle>(hwnd), msg, wParam, lParam, id, d->ref);
  } catch (...) {
    return 0;
  }
}

class Win32Platform : public TaskDialogPlatform, public UserPrompts {
 public:
  Win32Platform() {
    imageres_ = LoadLibraryW(L"imageres.dll");
    if (!CommonControlsV6()) {
      // The version-6 controls through shell32's manifest, for a program
      // started without its own.
      shell32_ = LoadLibraryW(L"shell32.dll");
      wchar_t windir[MAX_PATH] = {};
      GetEnvironmentVariableW(L"windir", windir, MAX_PATH);
      assemblyDir_ = std::wstring(windir) + L"\\System32";
      ACTCTXW ctx{};
      ctx.cbSize = sizeof ctx;
      ctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID |
                    ACTCTX_FLAG_HMODULE_VALID;
      ctx.lpResourceName = MAKEINTRESOURCEW(124);
      ctx.lpAssemblyDirectory = assemblyDir_.c_str();
      ctx.hModule = shell32_;
      if (shell32_) actCtx_ = CreateActCtxW(&ctx);
    }
  }
  ~Win32Platform() override {
    if (actCtx_ != INVALID_HANDLE_VALUE) ReleaseActCtx(actCtx_);
    if (shell32_) FreeLibrary(shell32_);
    if (imageres_) FreeLibrary(imageres_);
  }

  void SetProgramTitle(const std::string& t) { title_ = t; }

  int32_t TaskDialogIndirect(const TaskDialogConfig& config, int32_t* button, int32_t* radio,
                             int32_t* verify) override {
    using Fn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    Fn fn = comctl ? reinterpret_cast<Fn>(reinterpret_cast<void*>(
                         GetProcAddress(comctl, "TaskDialogIndirect")))
                   : nullptr;
    if (!fn) {
      if (comctl) FreeLibrary(comctl);
      return static_cast<int32_t>(E_NOTIMPL);
    }
    // A list: records never move while nested dialogs come and go.
    auto it = records_.emplace(records_.end());
    NativeRecord& rec = *it;
    Fill(rec, config);
    rec.root = &rec;
    int b = 0, r = 0;
    BOOL v = FALSE;
    HRESULT hr = fn(&rec.config, &b, &r, &v);
    for (auto m = g_roots.begin(); m != g_roots.end();)
      m = m->second == &rec ? g_roots.erase(m) : std::next(m);
    records_.erase(it);  // with the pages navigated to from it
    FreeLibrary(comctl);
    if (button) *button = b;
    if (radio) *radio = r;
    if (verify) *verify = v ? 1 : 0;
    return static_cast<int32_t>(hr);
  }

  int32_t TaskDialog(WindowHandle owner, WindowHandle instance, const std::string& title,
                     const std::string& mainInstruction, const std::string& content,
                     uint32_t commonButtons, intptr_t icon, int32_t* button) override {
    using Fn = HRESULT(WINAPI*)(HWND, HINSTANCE, PCWSTR, PCWSTR, PCWSTR,
                                TASKDIALOG_COMMON_BUTTON_FLAGS, PCWSTR, int*);
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    Fn fn = comctl ? reinterpret_cast<Fn>(
                         reinterpret_cast<void*>(GetProcAddress(comctl, "TaskDialog")))
                   : nullptr;
    if (!fn) {
      if (comctl) FreeLibrary(comctl);
      return static_cast<int32_t>(E_NOTIMPL);
    }
    std::wstring t = W(title), m = W(mainInstruction), c = W(content);
    int b = 0;
    HRESULT hr = fn(reinterpret_cast<HWND>(owner), reinterpret_cast<HINSTANCE>(instance), t.c_str(),
                    m.c_str(), c.c_str(),
                    static_cast<TASKDIALOG_COMMON_BUTTON_FLAGS>(commonButtons),
                    reinterpret_cast<PCWSTR>(icon), &b);
    FreeLibrary(comctl);
    if (button) *button = b;
    return static_cast<int32_t>(hr);
  }

  intptr_t SendMessage(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                       intptr_t lParam) override {
    return ::SendMessageW(reinterpret_cast<HWND>(hwnd), msg, wParam, lParam);
  }

  void SetElementText(WindowHandle dialog, uint32_t element, const std::string& text,
                      bool relayout) override {
    HWND h = reinterpret_cast<HWND>(dialog);
    std::wstring w = W(text);
    auto root = g_roots.find(h);
    if (relayout && root != g_roots.end()) {
      // The dialog lays itself out again: a footer that gained a line makes
      // it grow instead of being clipped (TDM_UPDATE_ELEMENT_TEXT does not).
      std::wstring& slot = root->second->setTexts[element];
      std::wstring previous = std::move(slot);  // freed once the dialog has the new one
      slot = std::move(w);
      ::SendMessageW(h, TDM_SET_ELEMENT_TEXT, element, reinterpret_cast<LPARAM>(slot.c_str()));
      return;
    }
    // The dialog copies an updated text; the wide copy only lives for the call.
    ::SendMessageW(h, TDM_UPDATE_ELEMENT_TEXT, element, reinterpret_cast<LPARAM>(w.c_str()));
    FitUpdatedLabel(h, w);
  }

  void SetCueBanner(WindowHandle edit, const std::string& text) override {
    std::wstring w = W(text);
    ::SendMessageW(reinterpret_cast<HWND>(edit), EM_SETCUEBANNER, 0,
                   reinterpret_cast<LPARAM>(w.c_str()));
  }

  void NavigatePage(WindowHandle dialog, const TaskDialogConfig& config) override {
    HWND h = reinterpret_cast<HWND>(dialog);
    auto root = g_roots.find(h);
    if (root == g_roots.end()) return;
    // The page's strings live as long as the dialog shown with the root.
    NativeRecord& page = root->second->pages.emplace_back();
    Fill(page, config);
    page.root = root->second;
    ::SendMessageW(h, TDM_NAVIGATE_PAGE, 0, reinterpret_cast<LPARAM>(&page.config));
  }

  void EnumChildWindows(WindowHandle parent, TdEnumProc proc, intptr_t refData) override {
    EnumData d{proc, refData};
    ::EnumChildWindows(reinterpret_cast<HWND>(parent), &EnumTrampoline,
                       reinterpret_cast<LPARAM>(&d));
  }

  std::string GetClassName(WindowHandle hwnd) override {
    char name[65] = {};
    int n = ::GetClassNameA(reinterpret_cast<HWND>(hwnd), name, 64);
    return std::string(name, n > 0 ? static_cast<size_t>(n) : 0);
  }

  WindowHandle FindWindowEx(WindowHandle parent, WindowHandle after,
                            const std::string& className) override {
    return reinterpret_cast<WindowHandle>(
        ::FindWindowExA(reinterpret_cast<HWND>(parent), reinterpret_cast<HWND>(after),
                      className.empty() ? nullptr : className.c_str(), nullptr));
  }

  TdRect GetWindowRect(WindowHandle hwnd) override {
    RECT r{};
    ::GetWindowRect(reinterpret_cast<HWND>(hwnd), &r);
    return TdRect{r.left, r.top, r.right, r.bottom};
  }

  TdRect GetClientRect(WindowHandle hwnd) override {
    RECT r{};
    ::GetClientRect(reinterpret_cast<HWND>(hwnd), &r);
    return TdRect{r.left, r.top, r.right, r.bottom};
  }

  TdPoint ScreenToClient(WindowHandle hwnd, TdPoint p) override {
    POINT pt{p.x, p.y};
    ::ScreenToClient(reinterpret_cast<HWND>(hwnd), &pt);
    return TdPoint{pt.x, pt.y};
  }

  void SetWindowPos(WindowHandle hwnd, int32_t x, int32_t y, int32_t cx, int32_t cy, bool move,
                    bool size) override {
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (!move) flags |= SWP_NOMOVE;
    if (!size) flags |= SWP_NOSIZE;
    ::SetWindowPos(reinterpret_cast<HWND>(hwnd), nullptr, x, y, cx, cy, flags);
  }

  void InvalidateRect(WindowHandle hwnd, bool erase) override {
    ::InvalidateRect(reinterpret_cast<HWND>(hwnd), nullptr, erase ? TRUE : FALSE);
    ::UpdateWindow(reinterpret_cast<HWND>(hwnd));
  }

  intptr_t GetWindowLong(WindowHandle hwnd, int32_t index) override {
    return ::GetWindowLongPtrW(reinterpret_cast<HWND>(hwnd), index);
  }

  void SetWindowLong(WindowHandle hwnd, int32_t index, intptr_t value) override {
    ::SetWindowLongPtrW(reinterpret_cast<HWND>(hwnd), index, value);
  }

  void SetFocus(WindowHandle hwnd) override { ::SetFocus(reinterpret_cast<HWND>(hwnd)); }

  WindowHandle CreateWindowEx(uint32_t exStyle, const std::string& className,
                              const std::string& text, uint32_t style, int32_t x, int32_t y,
                              int32_t cx, int32_t cy, WindowHandle parent, int32_t id) override {
    std::wstring cls = W(className), t = W(text);
    HWND h = ::CreateWindowExW(exStyle, cls.c_str(), t.c_str(), style, x, y, cx, cy,
                             reinterpret_cast<HWND>(parent),
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleW(nullptr), nullptr);
    return reinterpret_cast<WindowHandle>(h);
  }

  std::string GetWindowText(WindowHandle hwnd) override {
    HWND h = reinterpret_cast<HWND>(hwnd);
    int len = ::GetWindowTextLengthW(h);
    if (len <= 0) return "";
    std::wstring buf(static_cast<size_t>(len) + 1, L'\0');
    int n = ::GetWindowTextW(h, buf.data(), len + 1);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return U8(buf.c_str());
  }

  void SetWindowText(WindowHandle hwnd, const std::string& text) override {
    std::wstring w = W(text);
    ::SetWindowTextW(reinterpret_cast<HWND>(hwnd), w.c_str());
  }

  bool SetWindowSubclass(WindowHandle hwnd, TdSubclassProc proc, uintptr_t id,
                         intptr_t refData) override {
    auto key = std::make_pair(hwnd, id);
    auto& slot = subclasses_[key];
    if (!slot) slot = std::make_unique<SubclassData>();
    slot->proc = proc;
    slot->ref = refData;
    return ::SetWindowSubclass(reinterpret_cast<HWND>(hwnd), &SubclassTrampoline, id,
                               reinterpret_cast<DWORD_PTR>(slot.get())) != FALSE;
  }

  bool RemoveWindowSubclass(WindowHandle hwnd, TdSubclassProc, uintptr_t id) override {
    BOOL ok = ::RemoveWindowSubclass(reinterpret_cast<HWND>(hwnd), &SubclassTrampoline, id);
    // The data is still read by the trampoline that runs now: freed later.
    auto it = subclasses_.find(std::make_pair(hwnd, id));
    if (it != subclasses_.end()) {
      retired_.push_back(std::move(it->second));
      subclasses_.erase(it);
    }
    return ok != FALSE;
  }

  intptr_t DefSubclassProc(WindowHandle hwnd, uint32_t msg, uintptr_t wParam,
                           intptr_t lParam) override {
    return ::DefSubclassProc(reinterpret_cast<HWND>(hwnd), msg, wParam, lParam);
  }

  bool GetDateTime(WindowHandle picker, TdDateTime* value) override {
    SYSTEMTIME st{};
    LRESULT r = ::SendMessageW(reinterpret_cast<HWND>(picker), DTM_GETSYSTEMTIME, 0,
                             reinterpret_cast<LPARAM>(&st));
    if (value) *value = TdDateTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
    return r == GDT_VALID;
  }

  void SetDateTime(WindowHandle picker, const TdDateTime* value) override {
    if (!value) {
      ::SendMessageW(reinterpret_cast<HWND>(picker), DTM_SETSYSTEMTIME, GDT_NONE, 0);
      return;
    }
    SYSTEMTIME st = ToSystemTime(*value);
    ::SendMessageW(reinterpret_cast<HWND>(picker), DTM_SETSYSTEMTIME, GDT_VALID,
                 reinterpret_cast<LPARAM>(&st));
  }

  void SetDateTimeRange(WindowHandle picker, const TdDateTime& min,
                        const TdDateTime& max) override {
    SYSTEMTIME st[2] = {ToSystemTime(min), ToSystemTime(max)};
    ::SendMessageW(reinterpret_cast<HWND>(picker), DTM_SETRANGE, GDTR_MIN | GDTR_MAX,
                 reinterpret_cast<LPARAM>(st));
  }

  void ComboInsertItem(WindowHandle combo, int32_t index, const std::string& text, int32_t image,
                       int32_t selectedImage, int32_t indent, intptr_t itemData) override {
    std::wstring w = W(text);
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_INDENT | CBEIF_LPARAM;
    item.iItem = index;
    item.pszText = w.data();
    item.iImage = image;
    item.iSelectedImage = selectedImage;
    item.iIndent = indent;
    item.lParam = itemData;
    ::SendMessageW(reinterpret_cast<HWND>(combo), CBEM_INSERTITEMW, 0,
                 reinterpret_cast<LPARAM>(&item));
  }

  float DpiScaleX() override { return Dpi(LOGPIXELSX) / 96.0f; }
  float DpiScaleY() override { return Dpi(LOGPIXELSY) / 96.0f; }

  intptr_t CreateControlFont() override {
    NONCLIENTMETRICSW m{};
    m.cbSize = sizeof m;
    HFONT font = nullptr;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof m, &m, 0)) {
      m.lfMessageFont.lfHeight = -(Dpi(LOGPIXELSY) * 9 / 72);
      font = CreateFontIndirectW(&m.lfMessageFont);
    }
    if (!font) return reinterpret_cast<intptr_t>(GetStockObject(DEFAULT_GUI_FONT));
    return reinterpret_cast<intptr_t>(font);
  }

  void DeleteObject(intptr_t object) override {
    if (object) ::DeleteObject(reinterpret_cast<HGDIOBJ>(object));
  }

  intptr_t LoadIcon(TdModule module, int32_t resource, int32_t size) override {
    HMODULE m = reinterpret_cast<HMODULE>(ModuleHandle(module));
    if (!m) return 0;
    return reinterpret_cast<intptr_t>(::LoadImageW(m, MAKEINTRESOURCEW(resource), IMAGE_ICON, size,
                                                 size, LR_DEFAULTCOLOR));
  }

  void DestroyIcon(intptr_t icon) override {
    if (icon) ::DestroyIcon(reinterpret_cast<HICON>(icon));
  }

  intptr_t ContentColourBrush(WindowHandle host, int32_t x, int32_t y) override {
    HWND h = reinterpret_cast<HWND>(host);
    HDC dc = GetDC(h);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(h, dc);
    return reinterpret_cast<intptr_t>(CreateSolidBrush(c));
  }

  void ShellOpen(const std::string& target) override {
    std::wstring w = W(target);
    ShellExecuteW(nullptr, nullptr, w.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }

  WindowHandle ModuleHandle(TdModule module) override {
    switch (module) {
      case TdModule::Program: return reinterpret_cast<WindowHandle>(GetModuleHandleW(nullptr));
      case TdModule::Shell32: return reinterpret_cast<WindowHandle>(shell32_);
      case TdModule::Imageres: return reinterpret_cast<WindowHandle>(imageres_);
    }
    return 0;
  }

  bool CommonControlsV6() override {
    if (v6Checked_) return v6_;
    v6Checked_ = true;
    HMODULE comctl = LoadLibraryW(L"comctl32.dll");
    if (!comctl) return v6_;
    auto get = reinterpret_cast<HRESULT(CALLBACK*)(DLLVERSIONINFO*)>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;  // 20 bytes
    if (get && SUCCEEDED(get(&info))) v6_ = info.dwMajorVersion > 5;
    // The version number alone is not to be trusted: some version-6 libraries
    // (Wine's) report 5.81. The library the program's manifest bound is
    // version 6 when it can show task dialogs, which only version 6 exports.
    if (!v6_) v6_ = GetProcAddress(comctl, "TaskDialogIndirect") != nullptr;
    FreeLibrary(comctl);
    return v6_;
  }

  bool ActivateContext() override {
    if (actCtx_ == INVALID_HANDLE_VALUE) return false;
    ULONG_PTR cookie = 0;
    if (!ActivateActCtx(actCtx_, &cookie)) return false;
    cookies_.push_back(cookie);
    return true;
  }

  void DeactivateContext() override {
    if (cookies_.empty()) return;
    DeactivateActCtx(0, cookies_.back());
    cookies_.pop_back();
  }

  std::string MinAnimate() override {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
      return "";
    wchar_t value[64] = {};
    DWORD size = sizeof value - sizeof(wchar_t), type = 0;
    LONG r = RegQueryValueExW(key, L"MinAnimate", nullptr, &type, reinterpret_cast<BYTE*>(value),
                              &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return "";
    value[size / sizeof(wchar_t)] = 0;
    return U8(value);
  }

  std::string ProgramTitle() override {
    if (!title_.empty()) return title_;
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    size_t slash = p.find_last_of(L"\\/");
    if (slash != std::wstring::npos) p = p.substr(slash + 1);
    size_t dot = p.rfind(L'.');
    if (dot != std::wstring::npos) p = p.substr(0, dot);
    return U8(p.c_str());
  }

  // UserPrompts
  int MessageBox(const std::string& text, const std::string& title, uint32_t flags) override {
    std::wstring t = W(text), c = W(title);
    int r = ::MessageBoxW(GetActiveWindow(), t.c_str(), c.c_str(), flags);
    if (r == IDYES || r == IDNO) return r;
    return (flags & MB_DEFBUTTON2) ? IDNO : IDYES;
  }
  void Beep(uint32_t type) override { MessageBeep(type); }

 private:
  static SYSTEMTIME ToSystemTime(const TdDateTime& v) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(v.year);
    st.wMonth = static_cast<WORD>(v.month);
    st.wDay = static_cast<WORD>(v.day);
    st.wHour = static_cast<WORD>(v.hour);
    st.wMinute = static_cast<WORD>(v.minute);
    st.wSecond = static_cast<WORD>(v.second);
    return st;
  }
  static int Dpi(int which) {
    HDC dc = GetDC(nullptr);
    int v = dc ? GetDeviceCaps(dc, which) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return v > 0 ? v : 96;
  }

  std::string title_;
  HMODULE imageres_ = nullptr, shell32_ = nullptr;
  std::wstring assemblyDir_;
  HANDLE actCtx_ = INVALID_HANDLE_VALUE;
  std::vector<ULONG_PTR> cookies_;
  bool v6Checked_ = false, v6_ = false;
  std::list<NativeRecord> records_;
  std::map<std::pair<WindowHandle, uintptr_t>, std::unique_ptr<SubclassData>> subclasses_;
  std::vector<std::unique_ptr<SubclassData>> retired_;
};

Win32Platform& Platform() {
  static Win32Platform p;
  return p;
}

}  // namespace

TaskDialogPlatform& DefaultTdPlatform() { return Platform(); }

void InstallDialogLayer() {
  SetTdPlatform(&Platform());
  SetPrompts(&Platform());
}

}  // namespace qv
