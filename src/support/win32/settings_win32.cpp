// The registry through the wide API: values are UTF-16 there, so any path the
// file system accepts round-trips, whatever the ANSI code page.
#include <windows.h>

#include "support/settings_store.h"
#include "support/text.h"

namespace qv::settings {
namespace {

std::wstring Wide(const std::string& s) {
  std::u16string w = Utf8ToUtf16(s);
  return std::wstring(w.begin(), w.end());
}

std::string Narrow(const wchar_t* s, std::size_t n) {
  return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(s), n));
}

class RegistryKey : public Key {
 public:
  explicit RegistryKey(HKEY key) : key_(key) {}
  ~RegistryKey() override { RegCloseKey(key_); }

  int32_t SetString(const std::string& name, const std::string& value) override {
    std::wstring data = Wide(value);
    DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));  // with its NUL
    return static_cast<int32_t>(RegSetValueExW(key_, Wide(name).c_str(), 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(data.c_str()), bytes));
  }

  int32_t Query(const std::string& name, uint32_t& type, std::string& data) override {
    std::wstring wname = Wide(name);
    DWORD t = 0, bytes = 0;
    LONG rc = RegQueryValueExW(key_, wname.c_str(), nullptr, &t, nullptr, &bytes);
    if (rc != ERROR_SUCCESS) return static_cast<int32_t>(rc);
    type = t;
    data.clear();
    if (t != REG_SZ || bytes == 0) return 0;
    std::wstring buf(bytes / sizeof(wchar_t) + 1, L'\0');
    rc = RegQueryValueExW(key_, wname.c_str(), nullptr, &t, reinterpret_cast<BYTE*>(buf.data()),
                          &bytes);
    if (rc != ERROR_SUCCESS) return static_cast<int32_t>(rc);
    // The text ends at its first NUL; a value stored without one keeps its
    // last character.
    std::size_t n = bytes / sizeof(wchar_t);
    std::size_t end = 0;
    while (end < n && buf[end] != L'\0') ++end;
    data = Narrow(buf.data(), end);
    return 0;
  }

 private:
  HKEY key_;
};

}  // namespace

int32_t OpenKey(bool machineWide, const std::string& app, const std::string& section, bool create,
                std::unique_ptr<Key>& key) {
  HKEY root = machineWide ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  std::wstring path = L"SOFTWARE\\" + Wide(app) + L"\\Settings\\" + Wide(section);
  HKEY h = nullptr;
  LONG rc;
  if (create) {
    rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                         nullptr, &h, nullptr);
  } else {
    rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &h);
  }
  if (rc != ERROR_SUCCESS) return static_cast<int32_t>(rc);
  key = std::make_unique<RegistryKey>(h);
  return 0;
}

}  // namespace qv::settings
