// Writes page 0 of a new Jet 4 database.
//
// Unmasked layout: 00 01 00 00, "Standard Jet DB" and a NUL at 4, the version 1 (Jet 4) at 0x14. From 0x18 the
// masked area: a constant run of numbers 0-5 that every Jet 4 file carries at 0x18-0x2F, the code page at 0x3C, the
// encoding key at 0x3E (0: pages are stored in the clear), the 40-byte password at 0x42 XORed with the whole days of
// the creation date repeated as a 4-byte number (an empty password therefore stores the mask itself), the sort order
// at 0x6E (LCID, a zero byte, then the version byte at 0x71: 0 = General Legacy), and the creation date (a Jet date,
// days since 1899-12-30) at 0x72. After the masked area, at 0x98: the number 1620 and the text "4.0". The masked area
// is XORed with the RC4 key stream of C7 DA 39 6B.
#pragma once

#include <cstdint>
#include <vector>

namespace jet::create {

struct HeaderSettings {
  uint16_t sortOrder = 0x0409;  // General
  uint8_t sortVersion = 0;      // Legacy
  uint16_t codePage = 1252;
  double creationDate = 0;
};

std::vector<uint8_t> buildJet4HeaderPage(const HeaderSettings& settings);

}  // namespace jet::create
