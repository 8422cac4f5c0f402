#include <windows.h>
#include <commctrl.h>

#include "support/main_platform.h"
#include "support/modMain.h"
#include "support/owner.h"
#include "support/text.h"

namespace qv {
namespace {

using InitExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

std::wstring ProgramTitle() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  auto slash = p.find_last_of(L"\\/");
  if (slash != std::wstring::npos) p.erase(0, slash + 1);
  auto dot = p.rfind(L'.');
  if (dot != std::wstring::npos) p.erase(dot);
  return p;
}

}  // namespace

namespace mainplatform {

void* Startup() {
  HMODULE shell32 = LoadLibraryW(L"shell32.dll");
  // Every class from ICC_LISTVIEW_CLASSES to ICC_STANDARD_CLASSES but
  // ICC_USEREX_CLASSES; comctl32 versions without the Ex entry get the basic set.
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  if (!comctl) comctl = LoadLibraryW(L"comctl32.dll");
  auto initEx = comctl ? reinterpret_cast<InitExFn>(reinterpret_cast<void*>(
                             GetProcAddress(comctl, "InitCommonControlsEx")))
                       : nullptr;
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;  // 8
  icc.dwICC = 0xFDFF;
  if (!initEx || !initEx(&icc)) InitCommonControls();
  HiddenOwnerWindow();
  return shell32;
}

void Shutdown(void* token) {
  if (token) FreeLibrary(static_cast<HMODULE>(token));
}

}  // namespace mainplatform

void ShowUncaughtError(const NumberedError& error) {
  std::u16string text = Utf8ToUtf16(error.what());
  std::wstring wtext(text.begin(), text.end());
  MessageBoxW(nullptr, wtext.c_str(), ProgramTitle().c_str(), MB_OK | MB_ICONHAND);
}

}  // namespace qv
