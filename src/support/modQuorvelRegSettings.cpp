#include "support/modQuorvelRegSettings.h"

#include "support/settings_store.h"
#include "support/text.h"

namespace qv {
namespace {

const char kSource[] = "modQuorvelRegSettings";

[[noreturn]] void Raise(int32_t number, const std::string& description) {
  throw NumberedError(number, kSource, description);
}

int32_t StoreError(int64_t code) { return ErrorNumber(2000 + code); }

// Names are checked before anything is touched, in this order.
void Validate(const std::string& app, const std::string& section, const std::string& key,
              const char* keyText) {
  if (TrimBlanks(app).empty()) Raise(kErrAppNameMissing, "AppName doit être renseigné");
  if (TrimBlanks(section).empty()) Raise(kErrSectionMissing, "Section doit être renseigné");
  if (TrimBlanks(key).empty()) Raise(kErrKeyMissing, keyText);
}

}  // namespace

void SaveSettingString(const std::string& appName, const std::string& section,
                       const std::string& key, const std::string& value, bool machineWide) {
  Validate(appName, section, key, "Key doit être renseigné");
  std::unique_ptr<settings::Key> k;
  int32_t rc = settings::OpenKey(machineWide, TrimBlanks(appName), TrimBlanks(section), true, k);
  if (rc != 0) Raise(StoreError(rc), "Impossible d'ouvrir ou de créer la clef de registre");
  rc = k->SetString(key, value);
  k.reset();
  if (rc != 0) Raise(StoreError(rc), "Impossible d'écrire la clef de registre");
}

std::string GetSettingString(const std::string& appName, const std::string& section,
                             const std::string& key, const std::string& defaultValue,
                             bool machineWide) {
  Validate(appName, section, key, "Key  doit être renseigné");
  std::unique_ptr<settings::Key> k;
  int32_t rc = settings::OpenKey(machineWide, TrimBlanks(appName), TrimBlanks(section), false, k);
  if (rc == settings::kNotFound) return defaultValue;
  if (rc != 0) Raise(StoreError(rc), "Impossible d'ouvrir cette clef de registre");
  uint32_t type = 0;
  std::string data;
  if (k->Query(key, type, data) != 0) return defaultValue;
  if (type != kRegSz)
    Raise(StoreError(type), "Les données de la clef de registre ne sont pas une chaine de caractères");
  return data;
}

}  // namespace qv
