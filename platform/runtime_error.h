#pragma once
// A numbered failure of a run-time operation. Every failing platform operation throws one; the
// traps in traps.h decide what happens to it. Numbers are the run-time's own (53, 75, 429, ...)
// or the database engine's (3196, 3356, ...), so they can be shown to the user unchanged.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(std::int32_t number, const std::string& description);
  // With the run-time's standard description of the number.
  explicit RuntimeError(std::int32_t number);

  std::int32_t number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }

 private:
  std::int32_t number_;
  std::string description_;
};

// The run-time's standard description of a number, e.g. 53 -> "File not found";
// "Application-defined or object-defined error" for numbers it does not know.
std::string standardDescription(std::int32_t number);

}  // namespace platform
