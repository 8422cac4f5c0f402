#include "support/longpath.h"

#include <vector>

namespace qv {
namespace {
bool IsSep(char c) { return c == '\\' || c == '/'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Joins the parts after a root, resolving "." and ".." (which never climb
// above the root, as Windows itself treats them).
std::string Resolve(std::string root, std::string_view rest) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = i;
    while (j < rest.size() && !IsSep(rest[j])) ++j;
    std::string_view part = rest.substr(i, j - i);
    i = j + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) root += '\\';
    root.append(parts[k]);
  }
  // A path that ended with a separator keeps it (a folder given as such).
  if (!rest.empty() && IsSep(rest.back()) && !parts.empty()) root += '\\';
  return root;
}
}  // namespace

std::string LongPathForm(std::string_view p) {
  // Already in the long form, or a device path ("\\.\"): untouched.
  if (p.size() >= 4 && IsSep(p[0]) && IsSep(p[1]) && (p[2] == '?' || p[2] == '.') && IsSep(p[3]))
    return std::string(p);
  // "X:\..." (a drive and a root).
  if (p.size() >= 3 && IsLetter(p[0]) && p[1] == ':' && IsSep(p[2]))
    return Resolve(std::string("\\\\?\\") + p[0] + ":\\", p.substr(3));
  // "\\server\share\...".
  if (p.size() >= 3 && IsSep(p[0]) && IsSep(p[1]) && !IsSep(p[2])) {
    size_t server = 2;
    while (server < p.size() && !IsSep(p[server])) ++server;
    if (server >= p.size()) return std::string(p);
    size_t share = server + 1;
    while (share < p.size() && !IsSep(p[share])) ++share;
    std::string root = "\\\\?\\UNC\\" + std::string(p.substr(2, server - 2)) + "\\" +
                       std::string(p.substr(server + 1, share - server - 1));
    if (share >= p.size()) return root;
    return Resolve(root + "\\", p.substr(share + 1));
  }
  return std::string(p);
}

}  // namespace qv
