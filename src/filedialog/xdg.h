// Reading the XDG user-directories file (user-dirs.dirs), as `xdg-user-dir`
// does: shell assignments such as XDG_DOCUMENTS_DIR="$HOME/Documents".
#pragma once
#include <string>

namespace qv {

// The folder assigned to `key` in the text of a user-dirs.dirs file, with a
// leading $HOME (or ${HOME}) replaced by `home`; "" when the key is absent,
// empty, or not an absolute or $HOME-relative path.
std::string XdgUserDirFromText(const std::string& text, const std::string& key, const std::string& home);

}  // namespace qv
