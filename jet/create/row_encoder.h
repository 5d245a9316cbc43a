// Encodes rows of a new Jet 4 table, and the values that go into them.
//
// Row layout: 2-byte column count, the fixed area (every fixed column at its offset, zeros when null), the data of
// the variable columns one after the other, then their offset table read backwards from the end: 2-byte end of the
// variable data, the start of each variable column from the last to the first, the 2-byte variable column count,
// and the null mask (bit = column number, 1 = present; a Boolean's value is its bit).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "jet/create/table_schema.h"

namespace jet::create {

// One column's value as stored. For Memo and OLE columns the bytes are the value itself; the table writer turns them
// into a long-value definition (and long-value rows) before the row is encoded.
struct FieldValue {
  bool present = false;  // false = null (Boolean: false)
  std::vector<uint8_t> bytes;
};

// The row for the fields (one per column, in schema order). Throws InvalidArgument when a fixed value has the wrong
// size or a variable one is longer than its column allows.
std::vector<uint8_t> encodeRow(const TableSchema& schema, const TableLayout& layout,
                               std::span<const FieldValue> fields);

// Jet 4 text: the one-byte form (FF FE, then one byte per character) when `compressible` and every character is in
// U+0001-U+00FF and that saves space, otherwise UCS-2 little-endian.
std::vector<uint8_t> encodeText(std::u16string_view text, bool compressible);
// Throws InvalidArgument when `utf8` is not well-formed UTF-8.
std::u16string utf8ToUtf16(std::string_view utf8);

FieldValue textField(std::u16string_view text, bool compressible);
FieldValue byteField(uint8_t v);
FieldValue integerField(int16_t v);
FieldValue longField(int32_t v);
FieldValue currencyField(int64_t tenThousandths);
FieldValue singleField(float v);
FieldValue doubleField(double v);
FieldValue dateField(double days);  // days since 1899-12-30
FieldValue booleanField(bool v);
FieldValue guidField(const uint8_t (&bytes)[16]);
FieldValue numericField(bool negative, uint64_t magnitude);  // stored as Jet 4 does: sign byte, 16-byte magnitude
FieldValue bytesField(std::vector<uint8_t> bytes);
inline FieldValue nullField() { return FieldValue{}; }

}  // namespace jet::create
