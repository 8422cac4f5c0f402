#include "filedialog/xdg.h"

#include <sstream>

#include "support/text.h"

namespace qv {

std::string XdgUserDirFromText(const std::string& text, const std::string& key, const std::string& home) {
  std::istringstream lines(text);
  std::string line, found;
  bool seen = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = TrimBlanks(line);
    const auto tab = t.find_first_not_of('\t');
    t = tab == std::string::npos ? "" : t.substr(tab);
    if (t.empty() || t[0] == '#') continue;
    if (t.compare(0, key.size() + 1, key + "=") != 0) continue;
    std::string value = t.substr(key.size() + 1);
    // The file is a shell fragment: a double-quoted value with backslash escapes.
    std::string unquoted;
    if (!value.empty() && value[0] == '"') {
      for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        unquoted += value[i];
      }
    } else {
      unquoted = TrimBlanks(value);
    }
    found = unquoted;
    seen = true;  // the last assignment wins, as in the shell
  }
  if (!seen || found.empty()) return "";
  for (const std::string prefix : {"$HOME", "${HOME}"}) {
    if (found.compare(0, prefix.size(), prefix) == 0 &&
        (found.size() == prefix.size() || found[prefix.size()] == '/')) {
      std::string rest = found.substr(prefix.size());
      if (rest == "/") rest.clear();
      return home + rest;
    }
  }
  return found[0] == '/' ? found : "";
}

}  // namespace qv
