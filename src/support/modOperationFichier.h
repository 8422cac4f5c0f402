// Path and file helpers of both programs. The path functions work on the text
// alone (no separator conversion, no dot segments, no case folding) with the
// platform's separator, which tests may pass explicitly to check the other one.
#pragma once
#include <string>
#include <string_view>

// windows.h maps DeleteFile to DeleteFileW; ours is a different function.
#ifdef DeleteFile
#undef DeleteFile
#endif

namespace qv {

#ifdef _WIN32
inline constexpr char kPathSep = '\\';
#else
inline constexpr char kPathSep = '/';
#endif

// Drops the trailing blanks, then one trailing separator if there is one.
// Rewrites `path` and returns the result.
std::string RemoveTrailingBackslash(std::string& path, char sep = kPathSep);
// Drops the trailing blanks, then appends a separator unless one ends the path
// (an empty path becomes a lone separator). Rewrites `path` and returns it.
std::string AddTrailingBackslash(std::string& path, char sep = kPathSep);
// The text before the last separator; empty when there is none.
std::string GetParentFolder(std::string_view path, char sep = kPathSep);
// The text after the last separator; the whole path when there is none.
std::string GetFileName(std::string_view path, char sep = kPathSep);

// The command line's double quotes removed wherever they stand: a path may
// come quoted, whole or in parts. A Windows name cannot hold one; other
// systems' names can, so there a text that names an existing file or folder
// as it stands keeps its quotes.
std::string RemoveCommandQuotes(std::string_view text);

// True when the file's length can be read; every error gives false.
bool FileExists(const std::string& path);
// Deletes one file; every error is ignored.
void DeleteFile(const std::string& path);
// Sends a file or a folder with its content to the recycle bin (the desktop's
// trash off Windows) without asking. False when the bin refused it; in that
// case nothing was deleted.
bool DeleteToRecycleBin(const std::string& path, bool silent = false);

}  // namespace qv
