#include "extractor/ArchiveArgument.h"

#include <algorithm>

#include "support/text.h"

namespace qv::unpack {

ArchiveArgument ReadArchiveArgument(std::string_view text) {
  ArchiveArgument arg;
  if (!text.empty() && text.front() == '#') {
    arg.DeleteArchiveWhenDone = true;
    text.remove_prefix(1);
  }
  arg.ArchivePath.reserve(text.size());
  std::copy_if(text.begin(), text.end(), std::back_inserter(arg.ArchivePath),
               [](char c) { return c != '"'; });
  return arg;
}

std::optional<std::string> DestinationFolderOf(std::string_view archivePath) {
  // Four characters or fewer would leave an empty destination, which would
  // mean the current directory: not something the user named.
  if (Utf8Length(archivePath) <= 4) return std::nullopt;
  return Utf8DropLast(archivePath, 4);
}

}  // namespace qv::unpack
