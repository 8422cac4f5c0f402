// The form of a Windows path that the wide file API takes whatever its length.
// Without it every call stops at 260 characters (MAX_PATH) unless the machine
// opted in to long paths, which most have not. The "\\?\" form switches off
// the API's own normalisation, so it is done here: "/" becomes "\", "." and
// ".." parts are resolved, and a UNC path "\\server\share\x" becomes
// "\\?\UNC\server\share\x". Relative paths, device paths and paths already in
// that form are given back unchanged. Portable so that it is tested anywhere.
#pragma once
#include <string>
#include <string_view>

namespace qv {

std::string LongPathForm(std::string_view windowsPath);

}  // namespace qv
