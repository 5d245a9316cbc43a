#include "platform/text.h"

#include "jet/os/unicode.h"

namespace platform {
namespace {

constexpr char16_t kSpace = u' ';
}  // namespace

std::u16string trimSpaces(std::u16string_view text) {
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::u16string_view::npos) return {};
  const auto last = text.find_last_not_of(kSpace);
  return std::u16string(text.substr(first, last - first + 1));
}

std::u16string leftTrimSpaces(std::u16string_view text) {
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::u16string_view::npos) return {};
  return std::u16string(text.substr(first));
}

std::u16string decimal(std::int32_t number) {
  const std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string fromUtf8(std::string_view text) { return jet::unicode::fromUtf8(text); }

std::string toUtf8(std::u16string_view text) { return jet::unicode::toUtf8(text); }

std::u16string upperCase(std::u16string_view text) { return jet::unicode::upperCase(text); }

}  // namespace platform
