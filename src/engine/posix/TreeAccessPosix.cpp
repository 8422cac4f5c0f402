#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "engine/TreeAccess.h"

namespace qv::fs {
namespace {

std::string Reason(int e) {
  switch (e) {
    case EACCES:
    case EPERM: return "accès refusé";
    case EIO: return "erreur de lecture du disque";
    case ELOOP: return "trop de liens symboliques";
    case ENAMETOOLONG: return "chemin trop long";
    case EMFILE:
    case ENFILE: return "trop de fichiers ouverts";
    case ENOMEM: return "mémoire insuffisante";
    case ENOENT: return "introuvable";
    case ESTALE: return "partage réseau indisponible";
    default: return "erreur système " + std::to_string(e);
  }
}

// Nothing there (or no longer): the name vanished, or a link leads nowhere.
bool Vanished(int e) { return e == ENOENT || e == ENOTDIR; }

}  // namespace

Lookup::Kind WhyNotFound(const std::string& path, bool follow, std::string& reason) {
  struct stat st {};
  if ((follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0) return Lookup::kFound;
  int e = errno;
  if (Vanished(e) || (follow && e == ELOOP)) return Lookup::kAbsent;
  reason = Reason(e);
  return Lookup::kFailed;
}

bool ListNames(const std::string& folder, std::vector<std::string>& names, std::string& reason) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) {
    reason = Reason(errno);
    return false;
  }
  for (;;) {
    errno = 0;
    dirent* e = ::readdir(d);
    if (!e) break;
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(std::move(n));
  }
  // readdir answers null at the end and on an error alike: only errno tells.
  int e = errno;
  ::closedir(d);
  if (e != 0) {
    reason = Reason(e);
    return false;
  }
  return true;
}

bool FolderIdentity(const std::string& folder, Identity& id) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.node = static_cast<uint64_t>(st.st_ino);
  return true;
}

namespace {
// Whether some mount of this process's namespace has `folder` as its mount
// point (the fifth field of /proc/self/mountinfo, with blanks, tabs, line
// feeds and backslashes written as octal escapes). Nothing is known when the
// table cannot be read.
std::optional<bool> ListedAsMountPoint(const struct stat& self) {
  std::FILE* f = std::fopen("/proc/self/mountinfo", "re");
  if (!f) return std::nullopt;
  bool found = false;
  char* line = nullptr;
  size_t cap = 0;
  while (!found && ::getline(&line, &cap, f) > 0) {
    std::string l(line);
    size_t at = 0;
    for (int field = 0; field < 4 && at != std::string::npos; ++field) {
      at = l.find(' ', at);
      if (at != std::string::npos) ++at;
    }
    if (at == std::string::npos) continue;
    std::string point;
    for (size_t i = at; i < l.size() && l[i] != ' ' && l[i] != '\n'; ++i) {
      if (l[i] == '\\' && i + 3 < l.size()) {
        point += static_cast<char>(((l[i + 1] - '0') << 6) | ((l[i + 2] - '0') << 3) | (l[i + 3] - '0'));
        i += 3;
      } else {
        point += l[i];
      }
    }
    struct stat st {};
    // The same folder by identity, whatever path led to it.
    if (::stat(point.c_str(), &st) == 0 && st.st_dev == self.st_dev && st.st_ino == self.st_ino)
      found = true;
  }
  std::free(line);
  std::fclose(f);
  return found;
}
}  // namespace

bool IsVolumeRoot(const std::string& folder) {
  struct stat self {}, parent {};
  if (::stat(folder.c_str(), &self) != 0 || ::stat((folder + "/..").c_str(), &parent) != 0)
    return false;
  // "/" is its own parent.
  if (self.st_ino == parent.st_ino && self.st_dev == parent.st_dev) return true;
  if (self.st_dev == parent.st_dev) return false;
  // Another device than its parent: a mounted drive, or only a btrfs
  // subvolume (each has a device number of its own), which is an ordinary
  // folder to its user. The mount table tells them apart.
  return ListedAsMountPoint(self).value_or(true);
}

std::FILE* OpenRegularFile(const std::string& path, int64_t& size, std::string& reason) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait forever.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    reason = Reason(errno);
    return nullptr;
  }
  struct stat st {};
  bool known = ::fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    reason = !known               ? Reason(errno)
             : S_ISDIR(st.st_mode) ? "c'est maintenant un dossier"
                                   : "ce n'est plus un fichier ordinaire";
    ::close(fd);
    return nullptr;
  }
  // Back to ordinary reads (a regular file never blocks anyway).
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    reason = Reason(errno);
    ::close(fd);
    return nullptr;
  }
  size = static_cast<int64_t>(st.st_size);
  return f;
}

}  // namespace qv::fs
