// What reading a folder tree into an archive needs from the disk beyond
// FileSystem.h: why a look-up failed (a file that cannot be examined fails the
// run, it never silently drops out of the archive), folder identities (the
// archive's own folder is recognised inside the tree whatever path leads to
// it), the roots of whole disks, and opening a file to read without ever
// waiting on something that is not a regular file. Reasons are short French
// phrases ("accès refusé") that the engine puts into its error texts.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/FileSystem.h"

namespace qv::fs {

struct Lookup {
  enum Kind { kFound, kAbsent, kFailed };
  Kind kind = kAbsent;
  Status status;
  std::string reason;  // when kFailed
};
// The status of `path` itself (a link reported as a link) or, with `follow`,
// of what it designates. kAbsent when nothing is there (for a followed link: a
// dangling one); kFailed when it is there but cannot be examined.
Lookup Look(const std::string& path, bool follow);
// The platform's half of Look, asked only when the status was not found:
// kAbsent, kFailed with a reason, or kFound when the path appeared since.
Lookup::Kind WhyNotFound(const std::string& path, bool follow, std::string& reason);

// Names in a folder, without "." and ".."; false with a reason when it cannot
// be listed completely.
bool ListNames(const std::string& folder, std::vector<std::string>& names, std::string& reason);

// What a folder is, whatever path names it: a volume and a file number.
struct Identity {
  uint64_t volume = 0;
  uint64_t node = 0;
  friend bool operator==(const Identity&, const Identity&) = default;
};
bool FolderIdentity(const std::string& folder, Identity& id);

// True when `folder` is the root of a whole file system: "/" or a mount point
// (its device differs from its parent's) elsewhere; a drive ("D:\"), a share
// ("\\server\share") or a volume mounted in a folder on Windows.
bool IsVolumeRoot(const std::string& folder);

// Opens a regular file to read, never waiting: a FIFO, a device, a socket or a
// folder put in its place is refused (nullptr and a reason) without a byte
// being read. `size` is the size of what was opened.
std::FILE* OpenRegularFile(const std::string& path, int64_t& size, std::string& reason);

}  // namespace qv::fs
