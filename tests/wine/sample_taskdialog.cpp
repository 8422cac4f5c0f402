// A small GUI program for proving the Wine harness: it shows one task dialog
// titled "Essai Quorvel" through comctl32 version 6 (bound by the manifest of
// qv_add_windows_resources) and ends with 100 + the id of the button that
// closed it. 2 means the common controls could not be prepared, 3 that
// comctl32 has no TaskDialogIndirect (version 5 was bound), 4 that the dialog
// failed to show.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <string>

namespace {

constexpr wchar_t kExpected[] = L"Mot de passe é§";
constexpr int kEditId = 1000;
bool g_expectedText = false;
bool g_question = false;
int g_questions = 0;
// "footer": OK puts a two-line footer in place, first as an update, then as
// a set, and notes the dialog's height after each.
bool g_footer = false;
LONG g_heightUpdated = 0, g_heightSet = 0;

LONG Height(HWND dialog) {
  RECT r{};
  GetWindowRect(dialog, &r);
  return r.bottom - r.top;
}

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

std::wstring ComctlVersion(HMODULE comctl) {
  // Reported as a fact only: Wine's comctl32 answers 5.81 even when it is the
  // version 6 library, so the dialog below trusts the export, not this number.
  auto get = reinterpret_cast<HRESULT(CALLBACK*)(DLLVERSIONINFO*)>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
  if (!get) return L"?";
  DLLVERSIONINFO info{};
  info.cbSize = sizeof info;
  if (FAILED(get(&info))) return L"?";
  return std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion);
}

HRESULT CALLBACK Callback(HWND dialog, UINT notification, WPARAM wparam, LPARAM, LONG_PTR) {
  if (notification == TDN_CREATED) {
    // In the button row, left of OK, clear of the texts the driver reads.
    RECT ok{};
    GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&ok), 2);
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                10, ok.top, ok.left - 20, ok.bottom - ok.top, dialog,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)),
                                GetModuleHandleW(nullptr), nullptr);
    SendMessageW(edit, WM_SETFONT, SendMessageW(dialog, WM_GETFONT, 0, 0), TRUE);
  } else if (notification == TDN_BUTTON_CLICKED && g_footer && wparam == IDOK) {
    static const wchar_t kTwoLines[] =
        L"La décompression a échoué.\nLe disque est plein : libérez de la place et réessayez.";
    SendMessageW(dialog, TDM_UPDATE_ELEMENT_TEXT, TDE_FOOTER, reinterpret_cast<LPARAM>(kTwoLines));
    g_heightUpdated = Height(dialog);
    SendMessageW(dialog, TDM_SET_ELEMENT_TEXT, TDE_FOOTER, reinterpret_cast<LPARAM>(kTwoLines));
    g_heightSet = Height(dialog);
    return S_FALSE;  // stays open for the screenshot
  } else if (notification == TDN_BUTTON_CLICKED) {
    wchar_t text[64] = {};
    GetDlgItemTextW(dialog, kEditId, text, 64);
    g_expectedText = wcscmp(text, kExpected) == 0;
    if (g_question && wparam == IDOK) {
      ++g_questions;
      if (MessageBoxW(dialog, L"Voulez-vous vraiment terminer l'essai ?", L"Essai Quorvel",
                      MB_YESNO | MB_ICONQUESTION) == IDNO)
        return S_FALSE;  // the dialog stays open
    }
  }
  return S_OK;
}

int Chooser(const std::wstring& expected) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 123;
  int result = 123;
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_PPV_ARGS(&dialog)))) {
    dialog->SetTitle(L"Essai Quorvel : choisir");
    HRESULT shown = dialog->Show(nullptr);
    IShellItem* item = nullptr;
    if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
      result = 122;
    } else if (SUCCEEDED(shown) && SUCCEEDED(dialog->GetResult(&item))) {
      PWSTR path = nullptr;
      if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        result = _wcsicmp(path, expected.c_str()) == 0 ? 120 : 121;
        CoTaskMemFree(path);
      }
      item->Release();
    }
    dialog->Release();
  }
  CoUninitialize();
  return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  g_question = wcsstr(commandLine, L"question") != nullptr;
  g_footer = wcsstr(commandLine, L"footer") != nullptr;
  if (wcsncmp(commandLine, L"chooser ", 8) == 0) return Chooser(commandLine + 8);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  if (!InitCommonControlsEx(&icc)) return 2;
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  auto taskDialogIndirect = comctl ? reinterpret_cast<TaskDialogIndirectFn>(
                                         reinterpret_cast<void*>(GetProcAddress(comctl, "TaskDialogIndirect")))
                                   : nullptr;
  if (!taskDialogIndirect) return 3;

  std::wstring content = L"Contenu accentué : é è à ç § — comctl32 " + ComctlVersion(comctl);
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hInstance = instance;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
  config.dwCommonButtons = TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON;
  config.pszWindowTitle = L"Essai Quorvel";
  config.pszMainIcon = TD_INFORMATION_ICON;
  config.pszMainInstruction = L"Instruction principale de l'essai";
  config.pszContent = content.c_str();
  config.pszFooter = L"Pied de page de l'essai";
  config.pfCallback = Callback;
  int button = 0;
  if (FAILED(taskDialogIndirect(&config, &button, nullptr, nullptr))) return 4;
  if (g_question) return 200 + 10 * g_questions + button;
  // 160 + Cancel when the set made the dialog taller than the update did.
  if (g_footer) return (g_heightSet > g_heightUpdated ? 160 : 170) + button;
  return (g_expectedText ? 150 : 100) + button;
}
