#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "filedialog/CmnDialogEx.h"
#include "filedialog/xdg.h"

namespace qv {

std::string DocumentsFolder() {
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) {
    home = h;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    home = pw->pw_dir;
  }
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  std::string config;
  if (const char* c = std::getenv("XDG_CONFIG_HOME"); c && *c == '/') {
    config = c;
  } else {
    config = home + "/.config";
  }
  std::ifstream in(config + "/user-dirs.dirs");
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    const std::string documents = XdgUserDirFromText(text.str(), "XDG_DOCUMENTS_DIR", home);
    if (!documents.empty()) return documents;
  }
  return home.empty() ? "/" : home;
}

}  // namespace qv
