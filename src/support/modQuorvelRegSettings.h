// Named string settings of an application, per user or machine-wide. Failures
// are raised as NumberedError with the numbers and French texts below; a missing
// setting is not a failure (the default comes back).
//
// Where they live:
//   Windows: the registry, HKCU (or HKLM) SOFTWARE\<app>\Settings\<section>,
//            value <key> of type REG_SZ.
//   Elsewhere: one file per application and scope, <root>/<app>/Settings.ini,
//            group [<section>], entry <key>; <root> is $XDG_CONFIG_HOME
//            (default ~/.config) per user, the first entry of $XDG_CONFIG_DIRS
//            (default /etc/xdg) machine-wide. The file format is described in
//            settings_ini.h.
// Application and section names are trimmed of blanks; the key name is used
// exactly as given.
//
// The code that follows kSettingsErrorBase (+2000) in the numbers of store
// failures is the platform's own: the registry's result code on Windows, the
// errno of the failing file operation elsewhere (EACCES 13, ENOTDIR 20, EISDIR
// 21, ENOSPC 28, EROFS 30...). ENOENT (2) on reading means "not there" and gives
// the default, as the registry's ERROR_FILE_NOT_FOUND (2) does.
#pragma once
#include <cstdint>
#include <string>

#include "support/errors.h"

namespace qv {

constexpr int32_t kErrAppNameMissing = ErrorNumber(1000);  // 0x800403E8
constexpr int32_t kErrSectionMissing = ErrorNumber(1001);  // 0x800403E9
constexpr int32_t kErrKeyMissing = ErrorNumber(1002);      // 0x800403EA
// Store failures: kErrStoreBase + platform code, or + value type.
constexpr int32_t kErrStoreBase = ErrorNumber(2000);  // 0x800407D0

// Value types of the store, with the registry's numbers.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;

// Stores `value` (an empty string is a value). The flag is only read.
void SaveSettingString(const std::string& appName, const std::string& section,
                       const std::string& key, const std::string& value,
                       bool machineWide = false);

// The stored string, or `defaultValue` when the setting or its group does not
// exist. A stored empty string comes back empty, not as the default.
std::string GetSettingString(const std::string& appName, const std::string& section,
                             const std::string& key, const std::string& defaultValue = {},
                             bool machineWide = false);

}  // namespace qv
