#include <windows.h>
#include <shellapi.h>

#include "support/modOperationFichier.h"
#include "support/longpath.h"
#include "support/text.h"

namespace qv {
namespace {
std::wstring Wide(const std::string& s) {
  std::u16string w = Utf8ToUtf16(s);
  return std::wstring(w.begin(), w.end());
}
}  // namespace

std::string RemoveCommandQuotes(std::string_view text) {
  std::string path(text);
  std::erase(path, '"');
  return path;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExW(Wide(LongPathForm(path)).c_str(), GetFileExInfoStandard, &data) != 0;
}

void DeleteFile(const std::string& path) {
  if (!path.empty()) ::DeleteFileW(Wide(LongPathForm(path)).c_str());
}

bool DeleteToRecycleBin(const std::string& path, bool silent) {
  if (path.empty()) return false;
  // The source list ends with two NULs: the string's own and one more.
  std::wstring from = Wide(path);
  // A folder named with its trailing backslash (as the compressor holds it
  // after the run) is reported deleted by some shells that leave it in place;
  // only a drive's root keeps its backslash.
  while (from.size() > 1 && (from.back() == L'\\' || from.back() == L'/') &&
         !(from.size() == 3 && from[1] == L':'))
    from.pop_back();
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.hwnd = nullptr;
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  // Without the nuke warning the shell would delete an item the bin cannot
  // take for good, without a word.
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_WANTNUKEWARNING;
  if (silent) op.fFlags |= FOF_SILENT;
  return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

}  // namespace qv
