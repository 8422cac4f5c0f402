// The collection of a folder tree into the entries of an archive, kept apart
// from the writer so its rules are tested on their own:
// - nothing silently omitted: a folder that cannot be listed, a name that
//   cannot be examined fails the collection with a French reason;
// - what cannot be read is left out, by design: links to folders (never
//   followed, so a loop or a link to "/" cannot drag the disk in), dangling
//   links, FIFOs, sockets and devices (reading them would wait or never end);
// - every entry name is readable Unicode: a name on disk that is not UTF-8
//   (left by old archives on Linux) reads as Windows-1252, and when that gives
//   a name already taken in its folder it is numbered ("nom (2).txt") rather
//   than merged into one entry; the data are still read from the real path;
// - a tree that holds the archive's own folder, or a whole disk, is refused.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/TreeAccess.h"

namespace qv::sourcetree {

struct Item {
  std::string path;  // on disk, raw
  std::string name;  // in the archive, "/" separated, UTF-8; folders end with "/"
  bool isDir = false;
  int64_t size = 0;
  int64_t mtime = 0;
};

struct Request {
  std::string folder;  // where the walk starts (the platform's separator)
  std::string prefix;  // entry name of that folder: "" or "a/b"
  std::string mask = "*";
  bool recurse = true;
  // The folder the archive is written to: finding it in the tree fails the walk.
  std::optional<fs::Identity> archiveFolder;
  std::string archivePath;  // for the reason only
};

struct Events {
  // Polled every few names; true stops the walk.
  std::function<bool()> abort;
  // Per file found; false leaves it out (the caller's exclusion).
  std::function<bool(const std::string& path, int64_t size)> include;
};

enum class Outcome { kDone, kFailed, kAborted };

// Appends the entries of the tree to `items` (depth first, names sorted);
// `error` says why when the walk failed.
Outcome Collect(const Request& request, const Events& events, std::vector<Item>& items,
                std::string& error);

// The entry-name form of one name on disk: itself when it is UTF-8, else its
// bytes read as Windows-1252 (on Windows, where names come from UTF-16, a lone
// surrogate becomes U+FFFD).
std::string ReadableName(std::string_view raw);
// The entry names of the names of one folder, in the same order: readable, and
// all different. A name that was UTF-8 keeps its form; one that had to be read
// otherwise and collides is numbered.
std::vector<std::string> EntryNames(const std::vector<std::string>& raw);
// The entry name of `folder` under `root` ("" when it is the root itself or not
// under it), each part made readable.
std::string PrefixUnder(const std::string& folder, const std::string& root);

// "D:\" stays "D:\" and "/" stays "/" (they are not "D:" and ""); any other
// trailing separators go.
std::string WithoutTrailingSeparators(std::string path);
// The folder that holds `path` ("." when none is named; "D:\" for "D:\a.zip").
std::string FolderOf(const std::string& path);

}  // namespace qv::sourcetree
