// The platform half of the settings store (registry on Windows, a file
// elsewhere). Every call answers 0 or the platform's result code; the portable
// half turns codes into numbered errors.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace qv::settings {

// Answer of OpenKey when the key does not exist.
constexpr int32_t kNotFound = 2;

class Key {
 public:
  virtual ~Key() = default;
  // Writes `name` as a string value.
  virtual int32_t SetString(const std::string& name, const std::string& value) = 0;
  // Reads the type and data of `name` (non-zero when it is not there). For
  // string types the data is the text without its terminating NUL.
  virtual int32_t Query(const std::string& name, uint32_t& type, std::string& data) = 0;
};

// Opens <app>/Settings/<section> of the scope (names already trimmed);
// `create` creates what is missing and opens for writing.
int32_t OpenKey(bool machineWide, const std::string& app, const std::string& section,
                bool create, std::unique_ptr<Key>& key);

}  // namespace qv::settings
