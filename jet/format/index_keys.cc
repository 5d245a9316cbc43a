#include "jet/format/index_keys.h"

#include <array>
#include <cstring>

#include "jet/format/row_layout.h"

namespace jet {
namespace {

// General (Legacy) codes of the printable ASCII characters 0x20-0x7E: up to two bytes each, 0 = no established code.
// Upper- and lower-case letters share their code.
struct Code {
  uint8_t first = 0;
  uint8_t second = 0;
};

constexpr std::array<Code, 95> makeCodes() {
  std::array<Code, 95> c{};
  auto set = [&c](char ch, uint8_t a, uint8_t b = 0) { c[static_cast<size_t>(ch - 0x20)] = Code{a, b}; };
  set(' ', 0x07);
  set('!', 0x09);
  set('"', 0x0A);
  set('#', 0x0C);
  set('$', 0x0E);
  set('%', 0x10);
  set('&', 0x12);
  set('(', 0x14);
  set(')', 0x16);
  set('*', 0x18);
  set(',', 0x1A);
  set('.', 0x1C);
  set('/', 0x1E);
  set(':', 0x20);
  set(';', 0x22);
  set('?', 0x24);
  set('@', 0x26);
  set('[', 0x27);
  set('\\', 0x29);
  set(']', 0x2A);
  set('^', 0x2B, 0x02);
  set('_', 0x2B, 0x03);
  set('`', 0x2B, 0x07);
  set('{', 0x2B, 0x09);
  set('|', 0x2B, 0x0B);
  set('}', 0x2B, 0x0D);
  set('~', 0x2B, 0x0F);
  set('+', 0x2C);
  set('<', 0x2E);
  set('=', 0x30);
  set('>', 0x32);
  // Digits: 0x36, 0x38, ... 0x48.
  for (int d = 0; d < 10; ++d) set(static_cast<char>('0' + d), static_cast<uint8_t>(0x36 + 2 * d));
  // Letters: the gaps of one are where Jet places accented and special letters of other languages.
  constexpr uint8_t letters[26] = {0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0x5B, 0x5C, 0x5E, 0x60,
                                   0x62, 0x64, 0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78};
  for (int i = 0; i < 26; ++i) {
    set(static_cast<char>('A' + i), letters[i]);
    set(static_cast<char>('a' + i), letters[i]);
  }
  return c;
}

constexpr std::array<Code, 95> kCodes = makeCodes();
constexpr size_t kMaxKeyCharacters = 255;
constexpr uint8_t kEndOfText = 0x01;
constexpr uint8_t kEndOfExtraCodes = 0x00;

const Code* codeOf(char16_t ch) {
  if (ch < 0x20 || ch > 0x7E) return nullptr;
  const Code& c = kCodes[ch - 0x20];
  return c.first == 0 ? nullptr : &c;
}

void appendBigEndian(uint64_t v, size_t bytes, std::vector<uint8_t>& out) {
  for (size_t i = bytes; i-- > 0;) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

bool hasGeneralLegacyKey(std::u16string_view text) {
  for (char16_t ch : text) {
    if (codeOf(ch) == nullptr) return false;
  }
  return true;
}

bool appendGeneralLegacyTextKey(std::u16string_view text, std::vector<uint8_t>& out) {
  if (!hasGeneralLegacyKey(text)) return false;
  if (text.size() > kMaxKeyCharacters) text = text.substr(0, kMaxKeyCharacters);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  out.push_back(kKeyValueFlag);
  for (char16_t ch : text) {
    const Code* c = codeOf(ch);
    out.push_back(c->first);
    if (c->second != 0) out.push_back(c->second);
  }
  out.push_back(kEndOfText);
  out.push_back(kEndOfExtraCodes);
  return true;
}

void appendByteKey(uint8_t value, std::vector<uint8_t>& out) {
  out.push_back(kKeyValueFlag);
  out.push_back(value);
}

void appendIntegerKey(int16_t value, std::vector<uint8_t>& out) {
  out.push_back(kKeyValueFlag);
  appendBigEndian(static_cast<uint16_t>(value) ^ 0x8000u, 2, out);
}

void appendLongKey(int32_t value, std::vector<uint8_t>& out) {
  out.push_back(kKeyValueFlag);
  uint8_t bytes[4];
  encodeLongKey(value, false, bytes);
  out.insert(out.end(), bytes, bytes + 4);
}

void appendDoubleKey(double value, std::vector<uint8_t>& out) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = (bits >> 63) != 0 ? ~bits : bits ^ 0x8000000000000000ull;
  out.push_back(kKeyValueFlag);
  appendBigEndian(bits, 8, out);
}

void encodeLongKey(int32_t value, bool descending, uint8_t* out4) {
  const uint32_t bits = static_cast<uint32_t>(value) ^ 0x80000000u;
  for (size_t i = 0; i < 4; ++i) {
    const auto b = static_cast<uint8_t>(bits >> (24 - 8 * i));
    out4[i] = descending ? static_cast<uint8_t>(~b) : b;
  }
}

int32_t decodeLongKey(const uint8_t* in4, bool descending) {
  uint32_t bits = 0;
  for (size_t i = 0; i < 4; ++i) bits = (bits << 8) | static_cast<uint8_t>(descending ? ~in4[i] : in4[i]);
  return static_cast<int32_t>(bits ^ 0x80000000u);
}

size_t fixedKeyLength(ColumnType type) {
  if (type == ColumnType::Guid || type == ColumnType::Numeric) return 0;
  return fixedTypeSize(type);
}

}  // namespace jet
