#include "support/text.h"

namespace qv {
namespace {

// Length of the UTF-8 sequence that starts with byte c; 1 for a stray byte.
std::size_t SeqLen(unsigned char c) {
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) return 2;
  if ((c & 0xF0) == 0xE0) return 3;
  if ((c & 0xF8) == 0xF0) return 4;
  return 1;
}

std::size_t NextOffset(std::string_view s, std::size_t i) {
  std::size_t n = SeqLen(static_cast<unsigned char>(s[i]));
  std::size_t j = i + 1;
  // Only continuation bytes may follow; a truncated sequence ends early.
  while (j < s.size() && j < i + n && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80) ++j;
  return j;
}

}  // namespace

std::size_t Utf8Length(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i = NextOffset(s, i)) ++n;
  return n;
}

std::size_t Utf8Offset(std::string_view s, std::size_t index) {
  std::size_t i = 0;
  while (index > 0 && i < s.size()) {
    i = NextOffset(s, i);
    --index;
  }
  return i;
}

std::string Utf8First(std::string_view s) {
  if (s.empty()) return {};
  return std::string(s.substr(0, NextOffset(s, 0)));
}

std::string Utf8DropFirst(std::string_view s, std::size_t count) {
  return std::string(s.substr(Utf8Offset(s, count)));
}

std::string Utf8DropLast(std::string_view s, std::size_t count) {
  std::size_t len = Utf8Length(s);
  if (count >= len) return {};
  return std::string(s.substr(0, Utf8Offset(s, len - count)));
}

std::u32string Utf8ToUtf32(std::string_view s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t j = NextOffset(s, i);
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = SeqLen(c);
    if (n == 1 || j - i != n) {
      out.push_back(c);  // stray byte: keep its value rather than lose it
    } else {
      char32_t cp = c & (0x7F >> n);
      for (std::size_t k = i + 1; k < j; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[k]) & 0x3F);
      out.push_back(cp);
    }
    i = j;
  }
  return out;
}

std::string Utf32ToUtf8(std::u32string_view s) {
  std::string out;
  for (char32_t cp : s) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  for (char32_t cp : Utf8ToUtf32(s)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::u32string cps;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    cps.push_back(c);
  }
  return Utf32ToUtf8(cps);
}

std::string TrimLeftBlanks(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return std::string(s.substr(i));
}

std::string TrimRightBlanks(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return std::string(s.substr(0, n));
}

std::string TrimBlanks(std::string_view s) { return TrimRightBlanks(TrimLeftBlanks(s)); }

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string EscapeForDisplay(std::string_view s, bool keepLineFeeds) {
  static const char* kHex = "0123456789abcdef";
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    std::size_t j = NextOffset(s, i);
    std::string_view seq = s.substr(i, j - i);
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::u32string cp = Utf8ToUtf32(seq);
    bool valid = !(seq.size() == 1 && c >= 0x80) && cp.size() == 1 &&
                 Utf32ToUtf8(cp) == seq && !(cp[0] >= 0xD800 && cp[0] <= 0xDFFF) &&
                 cp[0] <= 0x10FFFF;  // overlong forms, surrogates and beyond read as invalid
    if (!valid) {
      for (unsigned char b : seq) {
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    } else {
      char32_t u = cp[0];
      bool control = u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0);
      bool bidi = (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) ||
                  u == 0x200E || u == 0x200F || u == 0x061C;
      if (keepLineFeeds && u == '\n') {
        out += '\n';
      } else if (u < 0x100 && control) {
        out += "\\x";
        out += kHex[u >> 4];
        out += kHex[u & 15];
      } else if (bidi) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(u >> shift) & 15];
      } else {
        out.append(seq);
      }
    }
    i = j;
  }
  return out;
}

}  // namespace qv
