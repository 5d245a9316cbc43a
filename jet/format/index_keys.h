// Index keys of values, as Jet stores them in index entries: the encoders of new databases (Jet 4, ascending order
// only), and the Long key that compaction takes apart and puts back together when it renumbers table Ids.
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

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "jet/format/table_def.h"

namespace jet {

inline constexpr uint8_t kKeyValueFlag = 0x7F;
inline constexpr uint8_t kKeyNullFlag = 0x00;

// A descending key column stores every byte of its segment inverted, the flag byte included.
inline constexpr uint8_t keyNullFlag(bool descending) {
  return descending ? static_cast<uint8_t>(~kKeyNullFlag) : kKeyNullFlag;
}

// True when every character of the text has an established General (Legacy) code.
bool hasGeneralLegacyKey(std::u16string_view text);
// Appends the flag and the key of the text; false (and out unchanged) when a character has no established code.
bool appendGeneralLegacyTextKey(std::u16string_view text, std::vector<uint8_t>& out);

void appendByteKey(uint8_t value, std::vector<uint8_t>& out);
void appendIntegerKey(int16_t value, std::vector<uint8_t>& out);
void appendLongKey(int32_t value, std::vector<uint8_t>& out);
void appendDoubleKey(double value, std::vector<uint8_t>& out);  // also DateTime (days since 1899-12-30)
inline void appendNullKey(std::vector<uint8_t>& out) { out.push_back(kKeyNullFlag); }

// The key bytes of a Long value after its flag byte: big-endian with the sign bit flipped, so that keys sort as the
// numbers do, and every bit inverted in a descending key column.
void encodeLongKey(int32_t value, bool descending, uint8_t* out4);
int32_t decodeLongKey(const uint8_t* in4, bool descending);

// Bytes of a non-null key segment of a fixed-length type after its flag byte; 0 when the length is not fixed. The
// keys of GUID and Numeric columns are not their stored bytes.
size_t fixedKeyLength(ColumnType type);

// Finds the table Ids in a key of an index over `columns` (the index's key columns, of `def`), where `idColumns`
// (indexes into def.columns) hold table Ids: calls at(offset, descending) with the offset in `key` of the 4 key bytes
// of each Id that is not null. Segments are told apart by their types, so every segment up to the last Id must have
// a fixed length. False when the key does not fit the columns that way (a segment before an Id of no fixed length, a
// column the table lacks, a key that ends early).
template <class At>
bool forEachIdInKey(const TableDef& def, const std::vector<RealIndexDef::KeyColumn>& columns,
                    const std::vector<size_t>& idColumns, std::span<const uint8_t> key, At&& at) {
  size_t idLeft = 0;
  for (const RealIndexDef::KeyColumn& kc : columns) {
    for (size_t k : idColumns) idLeft += def.columns[k].number == kc.column ? size_t{1} : size_t{0};
  }
  size_t pos = 0;
  for (const RealIndexDef::KeyColumn& kc : columns) {
    if (idLeft == 0) return true;
    const ColumnDef* col = nullptr;
    bool isId = false;
    for (size_t k = 0; k < def.columns.size(); ++k) {
      if (def.columns[k].number != kc.column) continue;
      col = &def.columns[k];
      for (size_t id : idColumns) isId = isId || id == k;
    }
    if (col == nullptr || pos >= key.size()) return false;
    const bool descending = kc.order == kKeyColumnDescending;
    if (isId) --idLeft;
    if (key[pos] == keyNullFlag(descending)) {
      ++pos;
      continue;
    }
    const size_t length = fixedKeyLength(col->type);
    if (length == 0 || pos + 1 + length > key.size()) return false;
    if (isId) at(pos + 1, descending);
    pos += 1 + length;
  }
  return true;
}

}  // namespace jet
