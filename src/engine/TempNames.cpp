#include "engine/TempNames.h"

#include <cstdio>
#include <vector>

#include "engine/FileSystem.h"

namespace qv::tempnames {

std::string New() {
  char pid[24];
  std::snprintf(pid, sizeof pid, "%llx", static_cast<unsigned long long>(CurrentProcess()));
  return ".qv" + std::string(pid) + "-" + fs::RandomTag() + ".tmp";
}

std::optional<uint64_t> OwnerOf(std::string_view name) {
  constexpr std::string_view kPrefix = ".qv", kSuffix = ".tmp";
  if (name.size() < kPrefix.size() + 1 + 1 + 8 + kSuffix.size()) return std::nullopt;
  if (name.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  if (name.substr(name.size() - kSuffix.size()) != kSuffix) return std::nullopt;
  std::string_view body = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  size_t dash = body.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash > 16) return std::nullopt;
  std::string_view tag = body.substr(dash + 1);
  if (tag.size() != 8) return std::nullopt;
  for (char c : tag)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return std::nullopt;
  uint64_t pid = 0;
  for (char c : body.substr(0, dash)) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else return std::nullopt;
    pid = pid * 16 + static_cast<uint64_t>(v);
  }
  return pid;
}

int RemoveStale(const std::string& folder) {
  std::vector<std::string> names;
  if (!fs::ListFolder(folder, names)) return 0;
  int removed = 0;
  const uint64_t self = CurrentProcess();
  for (const std::string& n : names) {
    std::optional<uint64_t> pid = OwnerOf(n);
    if (!pid || *pid == self || ProcessAlive(*pid)) continue;
    std::string path = folder;
    if (!path.empty() && path.back() != fs::kSep && path.back() != '/') path += fs::kSep;
    path += n;
    fs::Status st = fs::LinkStatus(path);
    if (!st.isFile || st.isLink) continue;
    if (fs::RemoveFile(path)) ++removed;
  }
  return removed;
}

}  // namespace qv::tempnames
