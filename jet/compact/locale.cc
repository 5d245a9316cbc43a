#include "jet/compact/locale.h"

#include <cctype>

#include "jet/errors.h"

namespace jet {
namespace {

[[noreturn]] void malformed(const std::string& text, const std::string& why) {
  fail(ErrorCode::InvalidArgument, "invalid locale \"" + text + "\": " + why);
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

uint16_t number(const std::string& text, const std::string& key, const std::string& value, bool hexAllowed) {
  int base = 10;
  std::string digits = value;
  if (hexAllowed && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits = digits.substr(2);
  }
  if (digits.empty() || digits.size() > 8) malformed(text, key + " has no valid number");
  uint32_t v = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      d = std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
    } else {
      malformed(text, key + " has no valid number");
    }
    v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
  }
  if (v > 0xFFFF) malformed(text, key + " is out of range");
  return static_cast<uint16_t>(v);
}

}  // namespace

CompactLocale parseCompactLocale(const std::string& text) {
  CompactLocale out;
  if (text.empty()) return out;
  if (text[0] != ';') malformed(text, "it must start with ';'");
  size_t at = 1;
  while (at <= text.size()) {
    size_t end = text.find(';', at);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(at, end - at);
    at = end + 1;
    if (item.empty()) {
      if (end == text.size()) break;  // a trailing ';' is harmless
      malformed(text, "empty item");
    }
    size_t eq = item.find('=');
    if (eq == std::string::npos) malformed(text, "\"" + item + "\" has no '='");
    std::string key = upper(item.substr(0, eq));
    std::string value = item.substr(eq + 1);
    std::optional<uint16_t>* slot = nullptr;
    if (key == "LANGID") {
      slot = &out.langId;
    } else if (key == "CP") {
      slot = &out.codePage;
    } else if (key == "COUNTRY") {
      slot = &out.country;
    } else {
      malformed(text, "unknown key \"" + item.substr(0, eq) + "\"");
    }
    if (slot->has_value()) malformed(text, key + " appears twice");
    *slot = number(text, key, value, key == "LANGID");
  }
  return out;
}

}  // namespace jet
