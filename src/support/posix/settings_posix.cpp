// The settings file of an application and scope. Readers never lock: a writer
// replaces the file in one rename, so a reader sees the old or the new file,
// never a mix. Writers take an exclusive lock on a side file for the whole
// read-modify-write, so two programs saving at once both keep their update.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "support/settings_ini.h"
#include "support/settings_store.h"

namespace qv::settings {
namespace {

const char kFileName[] = "Settings.ini";
const char kLockName[] = ".Settings.ini.lock";

std::string ConfigRoot(bool machineWide) {
  if (machineWide) {
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string list = dirs ? dirs : "";
    std::size_t start = 0;
    while (start <= list.size()) {
      std::size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      std::string dir = list.substr(start, end - start);
      if (!dir.empty() && dir[0] == '/') return dir;
      start = end + 1;
    }
    return "/etc/xdg";
  }
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  std::string h = home && home[0] ? home : "";
  if (h.empty()) {
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) h = pw->pw_dir;
  }
  return h + "/.config";
}

// mkdir -p; 0 or errno.
int MakeDirs(const std::string& path, mode_t mode) {
  std::size_t pos = 0;
  for (;;) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (!part.empty() && ::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return errno;
    if (pos == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// Reads the whole file; 0 or errno (ENOENT when it is not there).
int ReadFile(const std::string& path, std::string& text) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  text.clear();
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      return e;
    }
    if (n == 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return 0;
}

int WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Writes `text` to a temporary file beside `path`, flushes it to the disk and
// puts it in place; on any failure the old file stays as it was.
int ReplaceFile(std::string dir, std::string path, const std::string& text, mode_t mode) {
  // A settings file linked from elsewhere (a dotfiles folder) stays a link:
  // the file it points to is the one replaced.
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    path = real;
    std::free(real);
    dir = path.substr(0, path.rfind('/'));
    if (dir.empty()) dir = "/";
  }
  std::string tmp = dir + "/.Settings.ini.XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return errno;
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;
  int rc = 0;
  if (::fchmod(fd, mode) != 0) rc = errno;
  if (rc == 0) rc = WriteAll(fd, text);
  if (rc == 0 && ::fsync(fd) != 0) rc = errno;
  if (::close(fd) != 0 && rc == 0) rc = errno;
  if (rc == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) rc = errno;
  if (rc != 0) {
    ::unlink(tmp.c_str());
    return rc;
  }
  // The rename itself must survive a crash too.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

class FileKey : public Key {
 public:
  FileKey(std::string dir, std::string section, IniDocument doc, int lockFd, bool machineWide)
      : dir_(std::move(dir)), section_(std::move(section)), doc_(std::move(doc)),
        lockFd_(lockFd), machineWide_(machineWide) {}
  ~FileKey() override {
    if (lockFd_ >= 0) ::close(lockFd_);  // releases the lock
  }

  int32_t SetString(const std::string& name, const std::string& value) override {
    doc_.Set(section_, name, 1, value);
    return ReplaceFile(dir_, dir_ + "/" + kFileName, FormatIni(doc_), machineWide_ ? 0644 : 0600);
  }

  int32_t Query(const std::string& name, uint32_t& type, std::string& data) override {
    const IniEntry* e = doc_.Find(section_, name);
    if (!e) return kNotFound;
    type = e->type;
    data = e->data;
    return 0;
  }

 private:
  std::string dir_;
  std::string section_;
  IniDocument doc_;
  int lockFd_;
  bool machineWide_;
};

}  // namespace

int32_t OpenKey(bool machineWide, const std::string& app, const std::string& section,
                bool create, std::unique_ptr<Key>& key) {
  const std::string dir = ConfigRoot(machineWide) + "/" + app;
  const std::string path = dir + "/" + kFileName;
  std::string text;
  int lockFd = -1;
  if (create) {
    if (int rc = MakeDirs(dir, machineWide ? 0755 : 0700)) return rc;
    lockFd = ::open((dir + "/" + kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC,
                    machineWide ? 0644 : 0600);
    if (lockFd < 0) return errno;
    while (::flock(lockFd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int e = errno;
        ::close(lockFd);
        return e;
      }
    }
  }
  int rc = ReadFile(path, text);
  if (rc == ENOENT && create) rc = 0;
  if (rc != 0) {
    if (lockFd >= 0) ::close(lockFd);
    return rc == ENOENT ? kNotFound : rc;
  }
  IniDocument doc = ParseIni(text);
  if (!create && !doc.FindSection(section)) return kNotFound;
  key = std::make_unique<FileKey>(dir, section, std::move(doc), lockFd, machineWide);
  return 0;
}

}  // namespace qv::settings
