#include "jet/os/unicode.h"

namespace jet::unicode {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool isEscapedByte(char32_t unit) { return unit >= 0xDC80 && unit <= 0xDCFF; }
bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

void appendUtf16(std::u16string& out, char32_t code) {
  if (code < 0x10000) {
    out.push_back(static_cast<char16_t>(code));
  } else {
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  }
}

std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& code) {
  auto at = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = at(i);
  std::size_t length;
  char32_t minimum;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, code = lead & 0x1Fu;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, code = lead & 0x0Fu;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, code = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if (!isContinuation(at(i + k))) return 0;
    code = (code << 6) | (at(i + k) & 0x3Fu);
  }
  if (code < minimum || code > 0x10FFFF || isHighSurrogate(code) || isLowSurrogate(code)) return 0;
  return length;
}

std::u16string fromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t code = 0;
    if (const std::size_t length = decodeUtf8(text, i, code)) {
      appendUtf16(out, code);
      i += length;
    } else {
      out.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(text[i])));
      ++i;
    }
  }
  return out;
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = text[i];
    if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if (isEscapedByte(unit)) {
      out.push_back(static_cast<char>(static_cast<unsigned char>(unit - 0xDC00)));
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      appendUtf8(out, kReplacementCharacter);
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

std::size_t utf8Prefix(std::string_view text, std::size_t limit) {
  if (limit >= text.size()) return text.size();
  while (limit > 0 && isContinuation(static_cast<unsigned char>(text[limit]))) --limit;
  return limit;
}

}  // namespace jet::unicode
