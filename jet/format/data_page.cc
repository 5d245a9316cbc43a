#include "jet/format/data_page.h"

#include <string>

namespace jet {

uint16_t dataPageRowCount(const Format& f, Bytes page) {
  uint16_t count = u16(page, f.dataRowCountOffset, "the row count");
  if (count > f.maxRowsPerPage() || f.rowOffsetTable() + 2u * count > page.size()) {
    corrupt("a data page claims " + std::to_string(count) + " rows, more than it can hold");
  }
  return count;
}

RowSlot dataPageRow(const Format& f, Bytes page, uint16_t row) {
  RowSlot s;
  s.raw = u16(page, f.rowOffsetTable() + 2u * row, "a row offset");
  s.start = static_cast<uint16_t>(s.raw & kRowOffsetMask);
  if (row == 0) {
    s.end = static_cast<uint16_t>(page.size());
  } else {
    s.end = static_cast<uint16_t>(u16(page, f.rowOffsetTable() + 2u * (row - 1u), "a row offset") & kRowOffsetMask);
  }
  if (!s.deleted()) {
    uint32_t tableEnd = f.rowOffsetTable() + 2u * dataPageRowCount(f, page);
    if (s.start < tableEnd || s.start > s.end || s.end > page.size()) {
      corrupt("row " + std::to_string(row) + " of a data page has impossible bounds (" + std::to_string(s.start) +
              " to " + std::to_string(s.end) + ")");
    }
  }
  return s;
}

Bytes dataPageRowBytes(Bytes page, const RowSlot& slot) {
  if (slot.deleted()) corrupt("a reference points at a deleted row");
  return slice(page, slot.start, slot.length(), "a row");
}

}  // namespace jet
