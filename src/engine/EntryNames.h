// Portable rules about entry names and times, kept apart from the engine so
// they can be tested on their own: what an entry name from an outside archive
// may become on disk, legacy code pages, name patterns, "newer" with DOS times.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::entrynames {

// The folder parts of a name an archive gives, safe to join under the
// destination folder. Both "/" and "\" separate; a leading drive ("C:"),
// UNC prefix ("\\server\share") or root is dropped, as other unzip tools do;
// "." and empty parts are dropped. Refused (false) when a part is "..", when
// nothing is left, or when a part holds a NUL. With `windowsRules`, the
// characters Windows forbids in names (<>:"|?* and controls) become "_" and
// trailing dots and blanks of a part are removed, so no name can reach an
// alternate data stream or a device.
bool SafeParts(std::string_view name, bool windowsRules, std::vector<std::string>& parts);

// Bytes of a name in one of the legacy code pages to UTF-8. 437, 850 and 1252
// are known; any other page is read as 850.
std::string DecodeCodePage(std::string_view raw, int32_t codePage);
// Strict: overlong forms, surrogates and code points past U+10FFFF are invalid.
bool IsValidUtf8(std::string_view s);

// '*' (any run of characters) and '?' (one character) against a file name;
// `ignoreCase` compares ASCII letters without case.
bool MatchPattern(std::string_view name, std::string_view pattern, bool ignoreCase);

// True when an entry time is newer than the time of the file on disk: zip
// stores DOS times with two-second resolution, so a file extracted earlier
// from the same entry, or the file the entry was made from, never counts as
// older.
bool IsNewer(int64_t entryTime, int64_t diskTime);

// An entry's time as read from its extended-timestamp field (libarchive reads
// its 32 bits unsigned), back in its century: Info-ZIP writes the field
// signed, so a file of 1960 reads as 2096 and would then be "newer" than
// anything on disk forever. Such a time is taken as signed when the entry's
// own DOS date (which no writer can set past its range) is before 2038.
int64_t EntryTime(int64_t readTime, uint16_t dosDate);

// Whether an entry's time is only its DOS date and time read as libarchive
// reads them (`readTime`, through the local `mktime`) while they name no
// real moment: month 0 or above 12, day 0, hour above 23... Zeros are what
// some writers leave for "no date"; such a time is unknown, not 1979 or 2108.
bool UnknownDosTime(int64_t readTime, uint16_t dosDate, uint16_t dosTime);

// Weight of one entry in the byte-weighted progress, so that many small or
// empty files still move the bar.
constexpr int64_t kEntryWeight = 4096;

}  // namespace qv::entrynames
