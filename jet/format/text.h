// Decoding of text stored in a database into UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace jet {

// Jet 4 text: UCS-2 little-endian, or the compressed form that starts FF FE (one byte per character, a 0x00 byte
// switching between one-byte and two-byte characters). An odd trailing byte is ignored.
std::string decodeJet4Text(std::span<const uint8_t> bytes);
void appendJet4Text(std::string& out, std::span<const uint8_t> bytes);

// Plain UCS-2 little-endian (names in Jet 4 table definitions), surrogate pairs combined.
std::string decodeUcs2(std::span<const uint8_t> bytes);

// Jet 3 text in a Windows code page. The code pages of one byte a character (874 and 1250-1258) are decoded by the
// engine's own tables; any other (the East Asian ones, of up to two bytes a character) by the system's converter
// (jet/os), and as 1252 where the system has none for it.
std::string decodeCodePage(std::span<const uint8_t> bytes, uint16_t codePage);

// The upper half (0x80-0xFF) of a supported code page, or nullptr.
const char16_t* codePageHighHalf(uint16_t codePage);

}  // namespace jet
