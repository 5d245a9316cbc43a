// Index keys of values, as Jet 4 stores them in index entries (ascending order only).
//
// Every key starts with a flag byte: 0x7F for a value, 0x00 alone for a null. After it:
//   integers (Byte, Integer, Long, Currency): big-endian, the sign bit flipped (Byte has no sign);
//   Double and DateTime: the IEEE bits big-endian, with the sign bit flipped for positive values and every bit
//     inverted for negative ones, so that the bytes compare like the numbers;
//   Text: one or more bytes per character from the "General" (Legacy) sort order of LCID 0x409, then 0x01 and a
//     0x00 that closes the (here empty) part of accent and case codes. The sort order ignores case for ASCII letters,
//     drops trailing spaces and looks at no more than 255 characters.
// Only the characters whose codes are established are supported: ASCII letters, digits, space and the punctuation
// listed in index_keys.cc. The hyphen and the apostrophe are not among them: the sort order treats them specially.
// Text with any other character has no key here (generalLegacyTextKey returns false), so it must not be indexed.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace jet::create {

inline constexpr uint8_t kKeyValueFlag = 0x7F;
inline constexpr uint8_t kKeyNullFlag = 0x00;

// True when every character of the text has an established General (Legacy) code.
bool hasGeneralLegacyKey(std::u16string_view text);
// Appends the flag and the key of the text; false (and out unchanged) when a character has no established code.
bool appendGeneralLegacyTextKey(std::u16string_view text, std::vector<uint8_t>& out);

void appendByteKey(uint8_t value, std::vector<uint8_t>& out);
void appendIntegerKey(int16_t value, std::vector<uint8_t>& out);
void appendLongKey(int32_t value, std::vector<uint8_t>& out);
void appendDoubleKey(double value, std::vector<uint8_t>& out);  // also DateTime (days since 1899-12-30)
inline void appendNullKey(std::vector<uint8_t>& out) { out.push_back(kKeyNullFlag); }

}  // namespace jet::create
