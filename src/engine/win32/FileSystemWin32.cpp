#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <mutex>
#include <random>

#include "engine/FileSystem.h"
#include "support/longpath.h"
#include "support/text.h"

namespace qv::fs {
namespace {
// Every path goes to the wide API in its long form, so names above U+00FF and
// paths over 260 characters work alike.
std::wstring Wide(const std::string& s) {
  std::u16string u = Utf8ToUtf16(LongPathForm(s));
  return std::wstring(u.begin(), u.end());
}

// FILETIME counts 100 ns steps since 1601-01-01.
constexpr int64_t kEpochDiff = 116444736000000000LL;
int64_t ToUnix(const FILETIME& ft) {
  int64_t v = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (v - kEpochDiff) / 10000000LL;
}
FILETIME FromUnix(int64_t t) {
  int64_t v = t * 10000000LL + kEpochDiff;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

Status FromData(const WIN32_FILE_ATTRIBUTE_DATA& d) {
  Status s;
  s.exists = true;
  s.isLink = (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  s.isDir = !s.isLink && (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  s.isFile = !s.isLink && !s.isDir;
  s.size = (static_cast<int64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  s.mtime = ToUnix(d.ftLastWriteTime);
  return s;
}
}  // namespace

// NTFS, FAT and ReFS take 255 UTF-16 units in one name.
bool NameTooLong(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  return Utf8ToUtf16(name).size() > 255;
}

Status LinkStatus(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &d)) return {};
  Status s = FromData(d);
  if (s.isLink) {
    // Only symbolic links and junctions lead elsewhere. Other reparse points
    // (cloud placeholders, deduplicated files) are ordinary files and folders
    // that must be archived like any other.
    WIN32_FIND_DATAW fd{};
    HANDLE h = FindFirstFileW(Wide(path).c_str(), &fd);
    DWORD tag = 0;
    if (h != INVALID_HANDLE_VALUE) {
      tag = fd.dwReserved0;
      FindClose(h);
    }
    if (tag != IO_REPARSE_TAG_SYMLINK && tag != IO_REPARSE_TAG_MOUNT_POINT) {
      s.isLink = false;
      s.isDir = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      s.isFile = !s.isDir;
    }
  }
  return s;
}

Status TargetStatus(const std::string& path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION info{};
  Status s;
  if (GetFileInformationByHandle(h, &info)) {
    s.exists = true;
    s.isDir = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    s.isFile = !s.isDir;
    s.size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    s.mtime = ToUnix(info.ftLastWriteTime);
  }
  CloseHandle(h);
  return s;
}

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
  WIN32_FIND_DATAW fd{};
  HANDLE h = FindFirstFileW(Wide(folder + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  do {
    std::wstring w = fd.cFileName;
    if (w == L"." || w == L"..") continue;
    names.push_back(Utf16ToUtf8(std::u16string(w.begin(), w.end())));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return true;
}

std::FILE* OpenRead(const std::string& path) { return _wfopen(Wide(path).c_str(), L"rb"); }

std::FILE* CreateNew(const std::string& path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    DeleteFileW(Wide(path).c_str());
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "wb");
  if (!f) {
    _close(fd);
    DeleteFileW(Wide(path).c_str());
  }
  return f;
}

bool SyncFile(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
}

// Windows has no request that starts the writing without waiting for it:
// the system's lazy writer does it on its own.
bool StartWriteBack(std::FILE* f, int64_t) { return std::fflush(f) == 0; }

bool MakeFolder(const std::string& path) {
  if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
  return LinkStatus(path).isDir;
}

bool RemoveFile(const std::string& path) { return DeleteFileW(Wide(path).c_str()) != 0; }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool SetModificationTime(const std::string& path, int64_t mtime) {
  HANDLE h = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME ft = FromUnix(mtime);
  BOOL ok = SetFileTime(h, nullptr, nullptr, &ft);
  CloseHandle(h);
  return ok != 0;
}

int64_t FreeSpace(const std::string& folder) {
  // The call wants a folder name that ends with a separator (UNC names must).
  std::wstring w = Wide(folder);
  if (!w.empty() && w.back() != L'\\') w += L'\\';
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(w.c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(available.QuadPart);
}

// The wide API has no calls relative to a folder handle: the folder is held
// by its path and each step down refuses a reparse point that leads elsewhere.
Folder::~Folder() = default;
Folder::Folder(Folder&& other) noexcept : path_(std::move(other.path_)), open_(other.open_) {
  other.open_ = false;
}
Folder& Folder::operator=(Folder&& other) noexcept {
  path_ = std::move(other.path_);
  open_ = other.open_;
  other.open_ = false;
  return *this;
}

namespace {
std::string Below(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  return (last == '\\' || last == '/') ? folder + name : folder + "\\" + name;
}
}  // namespace

bool Folder::Open(const std::string& path, Folder& out) {
  // "D:" alone names the drive's current folder, not its root.
  std::string p = path.size() == 2 && path[1] == ':' ? path + "\\" : path;
  if (!TargetStatus(p).isDir) return false;
  out = Folder();
  out.path_ = p;
  out.open_ = true;
  return true;
}

bool Folder::Duplicate(Folder& out) const {
  if (!open_) return false;
  out = Folder();
  out.path_ = path_;
  out.open_ = true;
  return true;
}

Folder::Step Folder::Enter(const std::string& name, Folder& out, bool create) const {
  if (!open_) return Step::failed;
  std::string p = Below(path_, name);
  Status st = LinkStatus(p);
  if (!st.exists && !create) return Step::absent;
  // MakeFolder also answers true for a folder another worker made meanwhile.
  if (!st.exists && !MakeFolder(p)) return Step::failed;
  st = LinkStatus(p);
  if (st.isLink) return Step::link;
  if (!st.isDir) return st.exists ? Step::notFolder : Step::failed;
  out = Folder();
  out.path_ = p;
  out.open_ = true;
  return Step::ok;
}

Status Folder::StatusOf(const std::string& name) const {
  return open_ ? LinkStatus(Below(path_, name)) : Status{};
}
std::FILE* Folder::CreateNew(const std::string& name) const {
  return open_ ? fs::CreateNew(Below(path_, name)) : nullptr;
}
bool Folder::Rename(const std::string& from, const std::string& to) const {
  return open_ && ReplaceFile(Below(path_, from), Below(path_, to));
}
bool Folder::Remove(const std::string& name) const {
  return open_ && RemoveFile(Below(path_, name));
}
bool Folder::SetTime(const std::string& name, int64_t mtime) const {
  return open_ && SetModificationTime(Below(path_, name), mtime);
}

std::string NameKey(const std::string& name) {
  std::u16string w = Utf8ToUtf16(name);
  if (w.empty()) return name;
  std::u16string upper(w.size(), u'\0');
  int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, reinterpret_cast<LPCWSTR>(w.c_str()),
                        static_cast<int>(w.size()), reinterpret_cast<LPWSTR>(upper.data()),
                        static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (n <= 0) return name;
  upper.resize(static_cast<size_t>(n));
  return Utf16ToUtf8(upper);
}

std::string RandomTag() {
  static std::mt19937_64 gen{std::random_device{}() ^ GetCurrentProcessId() ^ GetTickCount64()};
  // Workers name their temporary files at the same time.
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string tag;
  uint64_t v = gen();
  for (int i = 0; i < 8; ++i, v /= 36) tag += digits[v % 36];
  return tag;
}

std::string ReadZone(const std::string& path) {
  HANDLE h = CreateFileW(Wide(path + ":Zone.Identifier").c_str(), GENERIC_READ, FILE_SHARE_READ,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  // A zone is a few lines of text; an archive from outside may carry anything,
  // so a stream too large to be one is not copied.
  constexpr DWORD kMax = 64 * 1024;
  std::string zone(kMax + 1, '\0');
  DWORD got = 0, total = 0;
  while (total <= kMax && ReadFile(h, zone.data() + total, kMax + 1 - total, &got, nullptr) && got)
    total += got;
  CloseHandle(h);
  zone.resize(total > kMax ? 0 : total);
  return zone;
}

void WriteZone(const std::string& path, const std::string& zone) {
  if (zone.empty()) return;
  HANDLE h = CreateFileW(Wide(path + ":Zone.Identifier").c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, zone.data(), static_cast<DWORD>(zone.size()), &written, nullptr);
  CloseHandle(h);
}

// Names go through wide strings on Windows: nothing depends on the locale.
Utf8LocaleScope::Utf8LocaleScope() {}
Utf8LocaleScope::~Utf8LocaleScope() {}

int32_t DefaultNameCodePage() { return static_cast<int32_t>(GetOEMCP()); }

}  // namespace qv::fs

namespace qv::fs {
bool Seek(std::FILE* f, int64_t offset, int whence) { return _fseeki64(f, offset, whence) == 0; }
int64_t Tell(std::FILE* f) { return _ftelli64(f); }

// ReadFile with the offset in an OVERLAPPED reads at that place whatever the
// handle's own position (which it moves, but nothing else uses it).
int64_t ReadAt(std::FILE* f, int64_t offset, void* buffer, size_t n) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  if (h == INVALID_HANDLE_VALUE) return -1;
  auto* p = static_cast<char*>(buffer);
  size_t got = 0;
  while (got < n) {
    OVERLAPPED at{};
    uint64_t where = static_cast<uint64_t>(offset) + got;
    at.Offset = static_cast<DWORD>(where & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(where >> 32);
    DWORD want = static_cast<DWORD>(std::min<size_t>(n - got, size_t{1} << 30));
    DWORD read = 0;
    if (!ReadFile(h, p + got, want, &read, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (read == 0) break;
    got += read;
  }
  return static_cast<int64_t>(got);
}
}  // namespace qv::fs
