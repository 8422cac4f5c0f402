#include <windows.h>

#include "support/process.h"
#include "support/text.h"

namespace qv {

// The raw text after the program name, as typed: the argv split would lose the
// quotes and blanks the workflows handle themselves.
std::string CommandLineText(int, char**) {
  const wchar_t* line = GetCommandLineW();
  if (!line) return {};
  std::u16string wide;
  for (; *line; ++line) wide += static_cast<char16_t>(*line);
  return TextAfterProgramName(Utf16ToUtf8(wide));
}

}  // namespace qv
