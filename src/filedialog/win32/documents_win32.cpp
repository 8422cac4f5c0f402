#include <windows.h>

#include "filedialog/CmnDialogEx.h"
#include "support/text.h"

namespace qv {

// The programs' default folder: %USERPROFILE% followed by "\Documents", read
// as text (no shell lookup), so a redirected Documents folder is not followed.
std::string DocumentsFolder() {
  const DWORD needed = ::GetEnvironmentVariableW(L"USERPROFILE", nullptr, 0);
  std::u16string profile;
  if (needed > 0) {
    std::wstring buffer(needed, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(L"USERPROFILE", buffer.data(), needed);
    buffer.resize(got < needed ? got : 0);
    profile.assign(buffer.begin(), buffer.end());
  }
  return Utf16ToUtf8(profile) + "\\Documents";
}

}  // namespace qv
