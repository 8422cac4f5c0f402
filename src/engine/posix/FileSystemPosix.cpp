#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <random>

#include "engine/FileSystem.h"

namespace qv::fs {
namespace {
Status FromStat(const struct stat& st) {
  Status s;
  s.exists = true;
  s.isDir = S_ISDIR(st.st_mode);
  s.isLink = S_ISLNK(st.st_mode);
  s.isFile = S_ISREG(st.st_mode);
  s.size = static_cast<int64_t>(st.st_size);
  s.mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
  return s;
}
}  // namespace

Status LinkStatus(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {};
  return FromStat(st);
}

bool NameTooLong(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) != 0 && errno == ENAMETOOLONG;
}

Status TargetStatus(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return FromStat(st);
}

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) return false;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(std::move(n));
  }
  ::closedir(d);
  return true;
}

std::FILE* OpenRead(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) ::close(fd);
  return f;
}

std::FILE* CreateNew(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    ::unlink(path.c_str());
  }
  return f;
}

bool SyncFile(std::FILE* f) { return std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0; }

bool StartWriteBack(std::FILE* f, int64_t offset) {
  if (std::fflush(f) != 0) return false;
#ifdef __linux__
  // A failure only leaves the work to the final fsync.
  ::sync_file_range(::fileno(f), offset, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)offset;
#endif
  return true;
}

bool MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  if (errno != EEXIST) return false;
  Status s = LinkStatus(path);
  return s.isDir;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool SetModificationTime(const std::string& path, int64_t mtime) {
  struct timespec ts[2];
  ts[0].tv_sec = static_cast<time_t>(mtime);
  ts[0].tv_nsec = 0;
  ts[1] = ts[0];
  return ::utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0;
}

int64_t FreeSpace(const std::string& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

std::string NameKey(const std::string& name) { return name; }

std::string RandomTag() {
  static std::mt19937_64 gen{std::random_device{}() ^ static_cast<uint64_t>(::getpid())};
  // Workers name their temporary files at the same time.
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string tag;
  uint64_t v = gen();
  for (int i = 0; i < 8; ++i, v /= 36) tag += digits[v % 36];
  return tag;
}

Utf8LocaleScope::Utf8LocaleScope() {
  static locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8) previous_ = ::uselocale(utf8);
}

Utf8LocaleScope::~Utf8LocaleScope() {
  if (previous_) ::uselocale(static_cast<locale_t>(previous_));
}

Folder::~Folder() {
  if (fd_ >= 0) ::close(fd_);
}
Folder::Folder(Folder&& other) noexcept
    : path_(std::move(other.path_)), open_(other.open_), fd_(other.fd_) {
  other.fd_ = -1;
  other.open_ = false;
}
Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    path_ = std::move(other.path_);
    open_ = other.open_;
    fd_ = other.fd_;
    other.fd_ = -1;
    other.open_ = false;
  }
  return *this;
}

bool Folder::Open(const std::string& path, Folder& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  out = Folder();
  out.path_ = path;
  out.fd_ = fd;
  out.open_ = true;
  return true;
}

bool Folder::Duplicate(Folder& out) const {
  int fd = open_ ? ::fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1;
  if (fd < 0) return false;
  out = Folder();
  out.path_ = path_;
  out.fd_ = fd;
  out.open_ = true;
  return true;
}

Folder::Step Folder::Enter(const std::string& name, Folder& out, bool create) const {
  if (!open_) return Step::failed;
  int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    if (!create) return Step::absent;
    if (::mkdirat(fd_, name.c_str(), 0755) != 0 && errno != EEXIST) return Step::failed;
    fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) {
    struct stat st {};
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
      return S_ISLNK(st.st_mode) ? Step::link : S_ISDIR(st.st_mode) ? Step::failed : Step::notFolder;
    return Step::failed;
  }
  out = Folder();
  out.path_ = path_ + (path_.empty() || path_.back() == '/' ? "" : "/") + name;
  out.fd_ = fd;
  out.open_ = true;
  return Step::ok;
}

Status Folder::StatusOf(const std::string& name) const {
  struct stat st {};
  if (!open_ || ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
  return FromStat(st);
}

std::FILE* Folder::CreateNew(const std::string& name) const {
  if (!open_) return nullptr;
  int fd = ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    ::close(fd);
    ::unlinkat(fd_, name.c_str(), 0);
  }
  return f;
}

bool Folder::Rename(const std::string& from, const std::string& to) const {
  return open_ && ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0;
}

bool Folder::Remove(const std::string& name) const {
  return open_ && ::unlinkat(fd_, name.c_str(), 0) == 0;
}

bool Folder::SetTime(const std::string& name, int64_t mtime) const {
  struct timespec ts[2];
  ts[0].tv_sec = static_cast<time_t>(mtime);
  ts[0].tv_nsec = 0;
  ts[1] = ts[0];
  return open_ && ::utimensat(fd_, name.c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0;
}

int32_t DefaultNameCodePage() { return 850; }

// No zone marks outside Windows.
std::string ReadZone(const std::string&) { return {}; }
void WriteZone(const std::string&, const std::string&) {}

}  // namespace qv::fs

namespace qv::fs {
bool Seek(std::FILE* f, int64_t offset, int whence) {
  return ::fseeko(f, static_cast<off_t>(offset), whence) == 0;
}
int64_t Tell(std::FILE* f) { return static_cast<int64_t>(::ftello(f)); }

int64_t ReadAt(std::FILE* f, int64_t offset, void* buffer, size_t n) {
  int fd = ::fileno(f);
  auto* p = static_cast<char*>(buffer);
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::pread(fd, p + got, n - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(got);
}
}  // namespace qv::fs
