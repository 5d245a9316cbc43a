// Where each column's value sits inside a row, as the table definition and the row's own tables say.
//
// A row records how many columns existed when it was written; columns added later read as null, and bytes of
// deleted columns stay inside old rows untouched.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/table_def.h"

namespace jet {

struct FieldLocation {
  bool present = false;  // null-mask bit: not null (for Boolean columns: the value itself)
  uint32_t offset = 0;   // inside the row
  uint32_t length = 0;
};

struct RowLayout {
  uint16_t columnCount = 0;           // columns the row was written with
  uint16_t varColumnCount = 0;        // entries of its variable-offset table
  std::vector<FieldLocation> fields;  // one per TableDef::columns entry, same order
};

// Bytes a value of the type takes when the type has a fixed size; 0 for Boolean (kept in the null mask) and for types
// whose length the column declares.
uint32_t fixedTypeSize(ColumnType type);
// Fixed size of a fixed-length column's value (the declared length for types without one).
uint32_t fixedValueSize(const ColumnDef& column);

// Locates every column of `row`. Throws 3049 when a table or offset of the row points outside it.
void crackRow(const Format& format, const TableDef& table, Bytes row, RowLayout& out);

}  // namespace jet
