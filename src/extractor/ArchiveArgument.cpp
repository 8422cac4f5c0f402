#include "extractor/ArchiveArgument.h"

#include "support/text.h"

namespace qv::unpack {

ArchiveArgument ReadArchiveArgument(std::string_view text) {
  ArchiveArgument arg;
  if (!text.empty() && text.front() == '#') {
    arg.DeleteArchiveWhenDone = true;
    text.remove_prefix(1);
  }
  arg.ArchivePath = RemoveCommandQuotes(text);
  return arg;
}

std::optional<std::string> DestinationFolderOf(std::string_view archivePath, char sep) {
  std::string destination = Utf8DropLast(archivePath, 4);
  std::size_t cut = destination.find_last_of(std::string{'/', sep});
  std::string_view last = destination;
  if (cut != std::string::npos) last.remove_prefix(cut + 1);
  if (last.empty() || last == "." || last == "..") return std::nullopt;
  // Windows drops the dots and blanks that end a name: "dir\. .zip" would be
  // "dir" itself.
  if (sep == '\\' && last.find_first_not_of(". ") == std::string_view::npos) return std::nullopt;
  return destination;
}

}  // namespace qv::unpack
