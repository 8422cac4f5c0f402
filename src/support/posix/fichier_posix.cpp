#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/modOperationFichier.h"

namespace qv {

std::string RemoveCommandQuotes(std::string_view text) {
  std::string asGiven(text);
  struct stat st {};
  if (asGiven.find('"') != std::string::npos && ::lstat(asGiven.c_str(), &st) == 0)
    return asGiven;
  std::erase(asGiven, '"');
  return asGiven;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

void DeleteFile(const std::string& path) {
  struct stat st {};
  // One file only: unlink would also remove a symlink to a folder, but never a
  // folder itself, which is what we want.
  if (path.empty() || ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return;
  ::unlink(path.c_str());
}

bool DeleteToRecycleBin(const std::string& path, bool /*silent: no progress window here*/) {
  if (path.empty()) return false;
  // g_file_trash moves the item into the FreeDesktop trash or fails; it never
  // falls back to deleting for good.
  GFile* file = g_file_new_for_path(path.c_str());
  GError* error = nullptr;
  gboolean ok = g_file_trash(file, nullptr, &error);
  if (error) g_error_free(error);
  g_object_unref(file);
  return ok != FALSE;
}

}  // namespace qv
