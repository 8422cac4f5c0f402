#include "support/modOperationFichier.h"

#include "support/text.h"

namespace qv {

std::string RemoveTrailingBackslash(std::string& path, char sep) {
  path = TrimRightBlanks(path);
  if (!path.empty() && path.back() == sep) path.pop_back();
  return path;
}

std::string AddTrailingBackslash(std::string& path, char sep) {
  path = TrimRightBlanks(path);
  if (path.empty() || path.back() != sep) path += sep;
  return path;
}

std::string GetParentFolder(std::string_view path, char sep) {
  auto pos = path.rfind(sep);
  if (pos == std::string_view::npos) return {};
  return std::string(path.substr(0, pos));
}

std::string GetFileName(std::string_view path, char sep) {
  auto pos = path.rfind(sep);
  if (pos == std::string_view::npos) return std::string(path);
  return std::string(path.substr(pos + 1));
}

}  // namespace qv
