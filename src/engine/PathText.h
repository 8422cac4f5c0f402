// Small helpers the engine's files share: paths joined and trimmed with the
// platform's separator, and stdio streams closed when they go out of scope.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "engine/FileSystem.h"

namespace qv::pathtext {

// Windows rules for names (both separators, case, forbidden characters).
#ifdef _WIN32
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

inline std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == fs::kSep || folder.back() == '/') return folder + name;
  return folder + fs::kSep + name;
}

inline std::string StripTrailingSeparators(std::string s) {
  while (s.size() > 1 && (s.back() == fs::kSep || s.back() == '/')) s.pop_back();
  return s;
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace qv::pathtext
