// The settings file used where there is no registry.
//
//   # comment lines start with '#' or ';'
//   [Data]                   one group per section
//   LastDir=/home/anne/Dossier à moi
//   Other:2=%HOME%/x         data of another type than a string: name:<type>=data
//
// Names and data are escaped so every byte string round-trips: "\\" is a
// backslash, "\n" "\r" "\t" the control characters, "\xHH" any byte. Names
// escape "=", ":", "[", "]", "#", ";" and control characters; data escapes
// control characters; both escape a blank at either end (raw blanks around a
// name or data are layout and are dropped). Lines that do not parse are ignored,
// later entries of the same name replace earlier ones, and groups of the same
// name are merged.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::settings {

struct IniEntry {
  std::string name;
  uint32_t type;
  std::string data;
};

struct IniSection {
  std::string name;
  std::vector<IniEntry> entries;
};

struct IniDocument {
  std::vector<IniSection> sections;

  const IniSection* FindSection(std::string_view name) const;
  const IniEntry* Find(std::string_view section, std::string_view name) const;
  void Set(const std::string& section, const std::string& name, uint32_t type,
           const std::string& data);
};

IniDocument ParseIni(std::string_view text);
std::string FormatIni(const IniDocument& doc);

std::string EscapeIniName(std::string_view s);
std::string EscapeIniData(std::string_view s);
std::string UnescapeIni(std::string_view s);

}  // namespace qv::settings
