// How Quorvelunpack reads the archive it is given: one unparsed string, with an
// optional leading "#" (delete the archive after a successful extraction) and
// double quotes that may stand anywhere, and the destination folder named after
// the archive.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "support/modOperationFichier.h"

namespace qv::unpack {

struct ArchiveArgument {
  std::string ArchivePath;  // no double-quote character left, unless the name holds them
  bool DeleteArchiveWhenDone = false;
};

// The "#" is looked at before the quotes go, so only a "#" in first position is
// the prefix: a quote before it makes it part of the path.
ArchiveArgument ReadArchiveArgument(std::string_view text);

// The archive path without its last four characters (the extension, whatever
// it is). A character is a code point, so an accented name never loses half a
// UTF-8 sequence. No destination (nullopt) when the name would not be a folder
// of its own beside the archive: nothing left, or a last component that is
// empty, "." or ".." (".zip", "dir/.zip", "dir/..zip"), which would extract
// into the archive's own folder or above it; with the Windows separator also a
// component of dots and blanks alone, which Windows reads as empty. `sep` is
// the platform's separator; "/" separates too.
std::optional<std::string> DestinationFolderOf(std::string_view archivePath,
                                               char sep = kPathSep);

}  // namespace qv::unpack
