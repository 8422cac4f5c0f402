// The few file-system operations the engine needs, on UTF-8 paths, with the
// semantics it relies on: status without following links, atomic replacement,
// modification times in whole seconds since 1970 (UTC), and stdio streams so
// every write error (full disk) is seen. One implementation per platform.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// <windows.h> (which libarchive's header may bring in) makes ReplaceFile a
// macro for ReplaceFileW; ours keeps its own name in every file.
#ifdef ReplaceFile
#undef ReplaceFile
#endif

namespace qv::fs {

// The platform's separator in the paths the callers give.
#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif

struct Status {
  bool exists = false;
  bool isDir = false;
  bool isLink = false;  // a symbolic link (or, on Windows, any reparse point)
  bool isFile = false;  // a regular file
  int64_t size = 0;
  int64_t mtime = 0;  // seconds since 1970-01-01 UTC
};

// Status of the path itself (a link is reported as a link, not followed).
Status LinkStatus(const std::string& path);
// Status of what the path designates (links followed).
Status TargetStatus(const std::string& path);
// True when the file system cannot hold a file of that name at all (a name
// longer than its limit), whatever the rest of the path is.
bool NameTooLong(const std::string& path);

// Names in a folder, without "." and "..". False when it cannot be listed.
bool ListFolder(const std::string& folder, std::vector<std::string>& names);

std::FILE* OpenRead(const std::string& path);
// Creates a new file; fails when it exists already (so a temporary name is never
// shared with another run).
std::FILE* CreateNew(const std::string& path);
// Flushes the stream and the operating system's buffers to the disk.
bool SyncFile(std::FILE* f);
// Flushes the stream and asks the system to start writing the bytes from
// `offset` on to the disk, without waiting: the final SyncFile of a large file
// then has little left to wait for. Nothing where the system has no such
// request; false only when the flush failed.
bool StartWriteBack(std::FILE* f, int64_t offset);

bool MakeFolder(const std::string& path);  // true when created or already a folder
bool RemoveFile(const std::string& path);
// Renames `from` to `to`, replacing a file (or link) that `to` names, in one step.
bool ReplaceFile(const std::string& from, const std::string& to);
bool SetModificationTime(const std::string& path, int64_t mtime);

// Bytes a new file in `folder` may still take (what an unprivileged user
// may use); -1 when the system cannot tell.
int64_t FreeSpace(const std::string& folder);

// What a name is compared as by the file system: the name itself where
// names differ by case (POSIX), the system's own upper case on Windows,
// whose file systems take "Lettre.txt" and "LETTRE.TXT" as one file.
std::string NameKey(const std::string& name);

// A short random tag for temporary names.
std::string RandomTag();

// Mark of the Web: the zone a downloaded file carries (Windows keeps it in the
// file's "Zone.Identifier" stream), so that what comes out of a downloaded
// archive is treated as downloaded too. ReadZone answers empty when the file
// has none (and always off Windows, which has no such mark); WriteZone does
// nothing for an empty zone.
std::string ReadZone(const std::string& path);
void WriteZone(const std::string& path, const std::string& zone);

// Makes libarchive's own name conversions (which follow the locale of the
// calling thread on POSIX) work in UTF-8 for the life of the object, without
// touching the locale of the rest of the program.
class Utf8LocaleScope {
 public:
  Utf8LocaleScope();
  ~Utf8LocaleScope();
  Utf8LocaleScope(const Utf8LocaleScope&) = delete;
  Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

 private:
  void* previous_ = nullptr;
};

// A folder held open while names below it are made, so that every step down
// starts from the folder itself and no link on disk, old or planted meanwhile,
// is ever followed: on POSIX a descriptor opened with O_NOFOLLOW, each file
// created, renamed and timed relative to it; on Windows the path, each step
// checked for reparse points. Names are single parts (no separator).
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // The folder at `path` itself, links in that path included (it is the
  // user's own choice).
  static bool Open(const std::string& path, Folder& out);
  // Another handle on the same folder.
  bool Duplicate(Folder& out) const;

  enum class Step { ok, link, notFolder, absent, failed };
  // The subfolder `name`, created when absent (or, without `create`, `absent`
  // then); never through a link. Safe when another thread creates the same
  // folder at the same moment: a folder that appeared meanwhile is entered.
  Step Enter(const std::string& name, Folder& out, bool create = true) const;
  Status StatusOf(const std::string& name) const;  // the name itself, links not followed
  std::FILE* CreateNew(const std::string& name) const;
  bool Rename(const std::string& from, const std::string& to) const;  // replaces `to`
  bool Remove(const std::string& name) const;
  bool SetTime(const std::string& name, int64_t mtime) const;
  const std::string& path() const { return path_; }
  bool isOpen() const { return open_; }

 private:
  std::string path_;
  bool open_ = false;
  int fd_ = -1;  // POSIX only
};

// The OEM code page of the system (850 on French Windows); 850 elsewhere.
int32_t DefaultNameCodePage();

}  // namespace qv::fs

namespace qv::fs {
// 64-bit positioning in a stdio stream.
bool Seek(std::FILE* f, int64_t offset, int whence);
int64_t Tell(std::FILE* f);
// Reads up to `n` bytes at `offset` of an open file without using the
// stream's position or buffer, so several threads may read one file at once.
// The bytes read (fewer only at the end of the file), or -1 on an error.
int64_t ReadAt(std::FILE* f, int64_t offset, void* buffer, size_t n);
}  // namespace qv::fs
