// Rows on data pages: the row-offset table, row boundaries and their flags, checked against the page.
#pragma once

#include <cstdint>

#include "jet/format/bytes.h"
#include "jet/format/format.h"

namespace jet {

struct RowSlot {
  uint16_t raw = 0;    // the offset-table entry as stored, flags included
  uint16_t start = 0;  // first byte of the row
  uint16_t end = 0;    // one past its last byte
  bool deleted() const { return (raw & kRowDeletedFlag) != 0; }
  bool overflow() const { return (raw & kRowOverflowFlag) != 0; }
  uint16_t length() const { return static_cast<uint16_t>(end - start); }
};

// Number of rows on a data page; throws 3049 when the offset table would not fit the page.
uint16_t dataPageRowCount(const Format& f, Bytes page);

// Owner (TDEF page, or kLongValueOwner) of a data page.
inline uint32_t dataPageOwner(const Format& f, Bytes page) { return u32(page, f.dataOwnerOffset); }

// The slot of row `row` (which must be < dataPageRowCount). Bounds are checked only for live rows (neither flag
// set, or only the overflow flag): deleted rows may keep stale offsets.
RowSlot dataPageRow(const Format& f, Bytes page, uint16_t row);

// A live row's bytes on its page; throws 3049 for a deleted slot.
Bytes dataPageRowBytes(Bytes page, const RowSlot& slot);

}  // namespace jet
