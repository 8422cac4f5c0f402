#include <windows.h>
#include <shellapi.h>

#include "support/shell_platform.h"
#include "support/text.h"

namespace qv {
namespace {

std::wstring Wide(const std::string& s) {
  std::u16string w = Utf8ToUtf16(s);
  return std::wstring(w.begin(), w.end());
}

// Null for an empty string, as the shell expects for "none".
const wchar_t* OrNull(const std::wstring& s) { return s.empty() ? nullptr : s.c_str(); }

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using EnableRedirectionFn = BOOLEAN(WINAPI*)(BOOLEAN);

FARPROC Kernel32(const char* name) {
  HMODULE k = GetModuleHandleW(L"kernel32");
  return k ? GetProcAddress(k, name) : nullptr;
}

}  // namespace

bool IsWow64() {
  auto fn = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(Kernel32("IsWow64Process")));
  if (!fn) return false;
  BOOL wow = FALSE;
  if (!fn(GetCurrentProcess(), &wow)) return false;
  return wow != FALSE;
}

namespace shell {

int32_t PlatformExecute(const ShellRequest& r, void* owner) {
  std::wstring file = Wide(r.file), params = Wide(r.parameters), verb = Wide(r.verb),
               dir = Wide(r.directory);
  auto call = [&] {
    HINSTANCE h = ShellExecuteW(static_cast<HWND>(owner), OrNull(verb), file.c_str(), OrNull(params),
                                OrNull(dir), r.show);
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(h));
  };
  if (!IsWow64()) return call();
  auto enable = reinterpret_cast<EnableRedirectionFn>(
      reinterpret_cast<void*>(Kernel32("Wow64EnableWow64FsRedirection")));
  if (enable) enable(FALSE);
  int32_t result = call();
  if (enable) enable(TRUE);
  return result;
}

intptr_t PlatformExecuteEx(const ShellRequest& r, void* owner) {
  std::wstring file = Wide(r.file), params = Wide(r.parameters), verb = Wide(r.verb),
               dir = Wide(r.directory);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = static_cast<HWND>(owner);
  info.lpVerb = OrNull(verb);
  info.lpFile = file.c_str();
  info.lpParameters = OrNull(params);
  info.lpDirectory = OrNull(dir);
  info.nShow = r.show;
  if (!ShellExecuteExW(&info)) return 0;
  return reinterpret_cast<intptr_t>(info.hProcess);
}

}  // namespace shell
}  // namespace qv
