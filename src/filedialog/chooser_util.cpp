#include <cstdio>

#include "filedialog/chooser_internals.h"
#include "support/text.h"

namespace qv {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in the platform's byte order
// (first three fields little-endian).
std::optional<std::array<uint8_t, 16>> ParseBracedGuid(const std::string& text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  const std::string body = text.substr(1, 36);
  for (std::size_t i : {8u, 13u, 18u, 23u})
    if (body[i] != '-') return std::nullopt;
  std::string hex;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) continue;
    if (HexValue(body[i]) < 0) return std::nullopt;
    hex += body[i];
  }
  uint8_t raw[16];
  for (int i = 0; i < 16; ++i)
    raw[i] = static_cast<uint8_t>(HexValue(hex[2 * i]) * 16 + HexValue(hex[2 * i + 1]));
  std::array<uint8_t, 16> g{};
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) g[static_cast<std::size_t>(order[i])] = raw[i];
  return g;
}

std::string FormatGuid(const std::array<uint8_t, 16>& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g[3],
                g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return buf;
}

// Reflected polynomial 0xEDB88320, start 0xFFFFFFFF and no final inversion, so
// the GUIDs made from it stay those the item dialog has remembered state under.
uint32_t Crc32Utf16(const std::string& utf8) {
  uint32_t crc = 0xFFFFFFFFu;
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(unit & 0xFF), static_cast<uint8_t>(unit >> 8)};
    for (uint8_t b : bytes) {
      crc ^= b;
      for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
  }
  return crc;
}

std::optional<int32_t> ParseInt32(const std::string& text) {
  const std::string t = TrimBlanks(text);
  if (t.empty()) return std::nullopt;
  std::size_t i = 0;
  bool negative = false;
  if (t[0] == '+' || t[0] == '-') {
    negative = t[0] == '-';
    i = 1;
  }
  if (i == t.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return std::nullopt;
    value = value * 10 + (t[i] - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::size_t Utf16Units(const std::string& utf8) { return Utf8ToUtf16(utf8).size(); }

std::string ReplaceAll(std::string text, char from, char to) {
  for (char& c : text)
    if (c == from) c = to;
  return text;
}

std::string ChooserSource(const std::string& operation) { return "Common Dialog " + operation; }

void ChooserErrorEntry(uint32_t code, int32_t& number, std::string& description) {
  number = static_cast<int32_t>(code);
  switch (code) {
    case 0:
    case kChooserCancelled:
      number = static_cast<int32_t>(kChooserCancelled);
      description = "Cancel was selected";
      return;
    case 1:
      description =
          "The lStructSize member of the initialization structure for the corresponding common dialog box "
          "is invalid.";
      return;
    case 2:
      description = "The common dialog box function failed during initialization.";
      return;
    case 3:
      description =
          "The ENABLETEMPLATE flag was set in the Flags member of the initialization structure for the "
          "corresponding common dialog box, but you failed to provide a corresponding template.";
      return;
    case 4:
      description =
          "The ENABLETEMPLATE flag was set in the Flags member of the initialization structure for the "
          "corresponding common dialog box, but you failed to provide a corresponding instance handle.";
      return;
    case 5:
      description = "The common dialog box function failed to load a specified string.";
      return;
    case 6:
    case 7:
      description = "The common dialog box function failed to find a specified resource.";
      return;
    case 8:
      description = "The common dialog box function failed to lock a specified resource.";
      return;
    case 9:
      description = "The common dialog box function was unable to allocate memory for internal structures.";
      return;
    case 10:
      description = "The common dialog box function was unable to lock the memory associated with a handle.";
      return;
    case 12:
      description =
          "The RegisterWindowMessage function returned an error code when it was called by the common "
          "dialog box function.";
      return;
    case 0x3001:
      description = "An attempt to subclass a list box failed because sufficient memory was not available.";
      return;
    case 0x3002:
      description = "A file name is invalid.";
      return;
    case 0x3003:
      description = "The PathFileBufferSize is too small for the file name(s) specified by the user.";
      return;
    case kChooserDialogFailure:
      description = "The dialog box could not be created";
      return;
    default:
      description = "Unknown error code of " + std::to_string(number);
      return;
  }
}

std::string UpToFirstNul(const std::string& text) {
  const auto nul = text.find('\0');
  return nul == std::string::npos ? text : text.substr(0, nul);
}

std::string CmnDialogEx::CreateClientDataGUID(const std::string& DialogID, const std::string& AppID,
                                              const std::string& ClientID) const {
  if (DialogID.empty()) return "";
  const std::string app = AppID.empty() ? platform_->ProgramTitle() : AppID;
  std::array<uint8_t, 16> g{};
  const uint32_t words[4] = {0x9F9A6617u, Crc32Utf16(ClientID), Crc32Utf16(app), Crc32Utf16(DialogID)};
  for (int w = 0; w < 4; ++w)
    for (int b = 0; b < 4; ++b)
      g[static_cast<std::size_t>(w * 4 + b)] = static_cast<uint8_t>(words[w] >> (8 * b));
  return FormatGuid(g);
}

}  // namespace qv
