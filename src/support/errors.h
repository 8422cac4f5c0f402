// Numbered errors: the few failures that are raised rather than returned (the
// settings store, the chooser when its caller asks for it). Each carries the
// number the caller may test, the module that raised it and the French text the
// user sees when nobody catches it.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

namespace qv {

// Start of the range of interface-specific error numbers (0x80040000).
constexpr int32_t kErrorBase = static_cast<int32_t>(0x80040000u);

// kErrorBase + offset, wrapping like the 32-bit signed numbers callers compare.
constexpr int32_t ErrorNumber(int64_t offset) {
  return static_cast<int32_t>(static_cast<uint32_t>(0x80040000u) + static_cast<uint32_t>(offset));
}

class NumberedError : public std::runtime_error {
 public:
  NumberedError(int32_t number, std::string source, const std::string& description)
      : std::runtime_error(description), number_(number), source_(std::move(source)) {}

  int32_t Number() const { return number_; }
  const std::string& Source() const { return source_; }
  std::string Description() const { return what(); }

 private:
  int32_t number_;
  std::string source_;
};

}  // namespace qv
