#include <windows.h>

#include "support/process.h"
#include "support/text.h"

namespace qv {

// The raw text after the program name, as typed: the argv split would lose the
// quotes and blanks the workflows handle themselves.
std::string CommandLineText(int, char**) {
  const wchar_t* p = GetCommandLineW();
  if (!p) return {};
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  std::u16string rest;
  for (; *p; ++p) rest += static_cast<char16_t>(*p);
  return Utf16ToUtf8(rest);
}

}  // namespace qv
