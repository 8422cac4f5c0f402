// UTF-8 text helpers. Strings are UTF-8 inside the programs; a "character" here
// is one Unicode code point (one UTF-8 sequence), never a byte, so no helper
// ever splits a multi-byte sequence.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// Number of code points in a UTF-8 string (an invalid byte counts as one).
std::size_t Utf8Length(std::string_view s);
// Byte offset of the code point with the given index (s.size() when past the end).
std::size_t Utf8Offset(std::string_view s, std::size_t index);
// The first code point as a string ("" for an empty string).
std::string Utf8First(std::string_view s);
// The string without its first `count` code points.
std::string Utf8DropFirst(std::string_view s, std::size_t count);
// The string without its last `count` code points ("" when it has no more).
std::string Utf8DropLast(std::string_view s, std::size_t count);
// Decodes to code points / encodes one code point.
std::u32string Utf8ToUtf32(std::string_view s);
std::string Utf32ToUtf8(std::u32string_view s);
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// Blanks are the space character only, as the workflows trim them.
std::string TrimLeftBlanks(std::string_view s);
std::string TrimRightBlanks(std::string_view s);
std::string TrimBlanks(std::string_view s);
// ASCII lower case; other bytes unchanged.
std::string AsciiLower(std::string_view s);

// A name from outside (an archive entry, a file on disk) made safe to show:
// C0 and C1 controls, DEL, the bidirectional embeddings, overrides and
// isolates (which can make "gpj.exe" read as "exe.jpg") and bytes that are not
// UTF-8 are shown as escapes ("\x1b", "\u202e"), so nothing reaches a
// terminal or a dialog as a command. A backslash is kept as it is: it is the
// Windows separator. `keepLineFeeds` lets the texts of the programs themselves
// keep their line breaks.
std::string EscapeForDisplay(std::string_view s, bool keepLineFeeds = false);

}  // namespace qv
