#include "support/settings_ini.h"

#include <cstring>

namespace qv::settings {
namespace {

constexpr uint32_t kString = 1;

void AppendHex(std::string& out, unsigned char c) {
  static const char digits[] = "0123456789ABCDEF";
  out += "\\x";
  out += digits[c >> 4];
  out += digits[c & 0xF];
}

std::string Escape(std::string_view s, const char* special) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    bool edgeBlank = c == ' ' && (i == 0 || i + 1 == s.size());
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c == 0x7F || edgeBlank || (c && std::strchr(special, c))) AppendHex(out, c);
    else out += static_cast<char>(c);
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view TrimLayout(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

IniSection& SectionFor(IniDocument& doc, const std::string& name) {
  for (auto& s : doc.sections)
    if (s.name == name) return s;
  doc.sections.push_back(IniSection{name, {}});
  return doc.sections.back();
}

}  // namespace

std::string EscapeIniName(std::string_view s) { return Escape(s, "=:[]#;"); }
std::string EscapeIniData(std::string_view s) { return Escape(s, ""); }

std::string UnescapeIni(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c != '\\' || i + 1 == s.size()) {
      out += c;
      continue;
    }
    char n = s[i + 1];
    if (n == '\\') out += '\\', ++i;
    else if (n == 'n') out += '\n', ++i;
    else if (n == 'r') out += '\r', ++i;
    else if (n == 't') out += '\t', ++i;
    else if (n == 'x' && i + 3 < s.size() && HexValue(s[i + 2]) >= 0 && HexValue(s[i + 3]) >= 0) {
      out += static_cast<char>(HexValue(s[i + 2]) * 16 + HexValue(s[i + 3]));
      i += 3;
    } else {
      out += c;  // not an escape we write: keep it as it stands
    }
  }
  return out;
}

const IniSection* IniDocument::FindSection(std::string_view name) const {
  for (auto& s : sections)
    if (s.name == name) return &s;
  return nullptr;
}

const IniEntry* IniDocument::Find(std::string_view section, std::string_view name) const {
  const IniSection* s = FindSection(section);
  if (!s) return nullptr;
  for (auto& e : s->entries)
    if (e.name == name) return &e;
  return nullptr;
}

void IniDocument::Set(const std::string& section, const std::string& name, uint32_t type,
                      const std::string& data) {
  IniSection& s = SectionFor(*this, section);
  for (auto& e : s.entries) {
    if (e.name == name) {
      e.type = type;
      e.data = data;
      return;
    }
  }
  s.entries.push_back(IniEntry{name, type, data});
}

IniDocument ParseIni(std::string_view text) {
  IniDocument doc;
  IniSection* current = nullptr;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // an editor's byte-order mark
  while (!text.empty()) {
    auto eol = text.find('\n');
    std::string_view line = TrimLayout(text.substr(0, eol));
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 2) {
        current = nullptr;  // entries under a broken header belong nowhere
        continue;
      }
      current = &SectionFor(doc, UnescapeIni(TrimLayout(line.substr(1, line.size() - 2))));
      continue;
    }
    auto eq = line.find('=');
    if (!current || eq == std::string_view::npos) continue;
    std::string_view left = TrimLayout(line.substr(0, eq));
    std::string_view data = TrimLayout(line.substr(eq + 1));
    uint32_t type = kString;
    auto colon = left.find(':');
    if (colon != std::string_view::npos) {
      std::string_view digits = TrimLayout(left.substr(colon + 1));
      if (digits.empty() || digits.size() > 9) continue;
      type = 0;
      bool ok = true;
      for (char d : digits) {
        if (d < '0' || d > '9') ok = false;
        type = type * 10 + static_cast<uint32_t>(d - '0');
      }
      if (!ok) continue;
      left = TrimLayout(left.substr(0, colon));
    }
    std::string name = UnescapeIni(left);
    std::string value = UnescapeIni(data);
    bool replaced = false;
    for (auto& e : current->entries) {
      if (e.name == name) {
        e.type = type;
        e.data = value;
        replaced = true;
      }
    }
    if (!replaced) current->entries.push_back(IniEntry{std::move(name), type, std::move(value)});
  }
  return doc;
}

std::string FormatIni(const IniDocument& doc) {
  std::string out =
      "# Settings written by the program. Entries are name=text, or name:<type>=data\n"
      "# for data of another type; escapes: \\\\ \\n \\r \\t \\xHH.\n";
  for (auto& s : doc.sections) {
    out += '[' + EscapeIniName(s.name) + "]\n";
    for (auto& e : s.entries) {
      out += EscapeIniName(e.name);
      if (e.type != kString) out += ':' + std::to_string(e.type);
      out += '=' + EscapeIniData(e.data) + '\n';
    }
  }
  return out;
}

}  // namespace qv::settings
