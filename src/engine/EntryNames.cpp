#include "engine/EntryNames.h"

#include <cstdint>
#include <ctime>

#include "support/text.h"

namespace qv::entrynames {
namespace {
const char16_t kCp850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
    0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
    0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1,
    0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD,
    0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2,
    0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514, 0x2534,
    0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4,
    0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD,
    0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8, 0x00B0,
    0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};
const char16_t kCp437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
    0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
    0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
    0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
    0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
    0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
    0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
    0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
    0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
    0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// Windows-1252: Latin-1 with printable characters in 0x80..0x9F. The five
// bytes it leaves undefined read as the C1 controls of the same value, as
// Windows itself reads them, so no two bytes give the same character.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsSep(char c) { return c == '/' || c == '\\'; }

char Lower(char c);

// CON, NUL, COM1... open a device on Windows whatever extension follows.
bool IsDeviceName(const std::string& part) {
  std::string base = part.substr(0, part.find('.'));
  for (char& c : base) c = Lower(c);
  static const char* kNames[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (const char* n : kNames)
    if (base == n) return true;
  return base.size() == 4 && (base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool SafeParts(std::string_view name, bool windowsRules, std::vector<std::string>& parts) {
  parts.clear();
  size_t i = 0;
  // "\\server\share\..." or "//server/share/...": the server and share go.
  if (name.size() >= 2 && IsSep(name[0]) && IsSep(name[1])) {
    i = 2;
    for (int skip = 0; skip < 2; ++skip) {
      while (i < name.size() && !IsSep(name[i])) ++i;
      while (i < name.size() && IsSep(name[i])) ++i;
    }
  }
  // A drive ("C:" or "C:\"), wherever a Windows tool may have left it.
  if (name.size() >= i + 2 && name[i + 1] == ':' &&
      ((name[i] >= 'A' && name[i] <= 'Z') || (name[i] >= 'a' && name[i] <= 'z')))
    i += 2;
  while (i <= name.size()) {
    size_t j = i;
    while (j < name.size() && !IsSep(name[j])) ++j;
    std::string part(name.substr(i, j - i));
    i = j + 1;
    if (part.find('\0') != std::string::npos) return false;
    if (part == "..") return false;
    if (windowsRules) {
      for (char& c : part) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' ||
            c == '*')
          c = '_';
      }
      // A part made only of dots and blanks ("...") ends up empty and is dropped.
      while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
      if (IsDeviceName(part)) part.insert(part.begin(), '_');
    }
    if (part.empty() || part == ".") continue;
    parts.push_back(std::move(part));
  }
  return !parts.empty();
}

std::string DecodeCodePage(std::string_view raw, int32_t codePage) {
  const char16_t* table = codePage == 437 ? kCp437 : kCp850;
  std::u32string out;
  out.reserve(raw.size());
  for (char c : raw) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 128)
      out.push_back(u);
    else if (codePage == 1252)
      out.push_back(u < 0xA0 ? kCp1252High[u - 0x80] : u);
    else
      out.push_back(table[u - 128]);
  }
  return Utf32ToUtf8(out);
}

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    if (c < 0x80) n = 0;
    else if (c >= 0xC2 && c <= 0xDF) n = 1;
    else if (c >= 0xE0 && c <= 0xEF) n = 2;
    else if (c >= 0xF0 && c <= 0xF4) n = 3;
    else return false;
    if (s.size() - i - 1 < n) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    // Overlong forms, UTF-16 surrogates and code points past U+10FFFF are
    // not UTF-8 either (the C library refuses to convert them).
    unsigned char d = n > 0 ? static_cast<unsigned char>(s[i + 1]) : 0;
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) ||
        (c == 0xF4 && d >= 0x90))
      return false;
    i += n + 1;
  }
  return true;
}

bool MatchPattern(std::string_view name, std::string_view pattern, bool ignoreCase) {
  // Iterative match with one backtrack point: linear enough for file names.
  size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  auto eq = [&](char a, char b) { return ignoreCase ? Lower(a) == Lower(b) : a == b; };
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || eq(pattern[p], name[n]))) {
      // '?' takes one whole UTF-8 sequence.
      if (pattern[p] == '?') {
        ++n;
        while (n < name.size() && (static_cast<unsigned char>(name[n]) >> 6) == 2) ++n;
      } else {
        ++n;
      }
      ++p;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsNewer(int64_t entryTime, int64_t diskTime) { return entryTime > diskTime + 2; }

int64_t EntryTime(int64_t readTime, uint16_t dosDate) {
  const int dosYear = 1980 + (dosDate >> 9);
  if (readTime > INT32_MAX && readTime <= static_cast<int64_t>(UINT32_MAX) && dosYear < 2038)
    return readTime - (int64_t{1} << 32);
  return readTime;
}

bool UnknownDosTime(int64_t readTime, uint16_t dosDate, uint16_t dosTime) {
  const int month = (dosDate >> 5) & 0x0F, day = dosDate & 0x1F;
  const int hour = dosTime >> 11, minute = (dosTime >> 5) & 0x3F, second = (dosTime & 0x1F) * 2;
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month >= 1 && month <= 12 && day >= 1 && day <= kDays[month - 1] && hour <= 23 &&
      minute <= 59 && second <= 59)
    return false;
  // The same arithmetic as libarchive's: an equal result means the time
  // came from these fields rather than from an extended-timestamp field.
  std::tm ts{};
  ts.tm_year = ((dosDate >> 9) & 0x7F) + 80;
  ts.tm_mon = month - 1;
  ts.tm_mday = day;
  ts.tm_hour = hour;
  ts.tm_min = minute;
  ts.tm_sec = second;
  ts.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&ts)) == readTime;
}

}  // namespace qv::entrynames
