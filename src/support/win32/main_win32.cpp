#include <windows.h>
#include <commctrl.h>
#include <sddl.h>

#include <string>
#include <vector>

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

// The user's SID as text, or the user name where the token cannot be read.
std::wstring UserKey() {
  std::wstring key;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    // 8-byte cells: TOKEN_USER holds a pointer.
    std::vector<unsigned long long> buffer(size / 8 + 1);
    wchar_t* text = nullptr;
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
      key = text;
      LocalFree(text);
    }
    CloseHandle(token);
  }
  if (key.empty()) {
    wchar_t name[257] = {};
    DWORD n = 257;
    if (GetUserNameW(name, &n)) key = name;
  }
  return key;
}

// Explorer starts one process per selected item, all at once: each run waits
// here for the one before it, so the user answers one run's dialogs at a time.
// The mutex is never released: the process's end hands it to the next run
// (WAIT_ABANDONED then means ours, also when the holder was killed). This
// comes before any window exists, so a waiting run holds up no broadcast.
void WaitForOurTurn() {
  std::wstring name = L"Local\\Quorvel-" + ProgramTitle() + L"-" + UserKey();
  HANDLE turn = CreateMutexW(nullptr, FALSE, name.c_str());
  // Without the mutex (a name taken by another kind of object) runs overlap
  // as they did before, which is better than not running at all.
  if (turn) WaitForSingleObject(turn, INFINITE);
}

}  // namespace

namespace mainplatform {

void* Startup() {
  WaitForOurTurn();
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
