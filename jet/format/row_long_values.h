// The long-value definitions inside a row: what a relocating tool must find (and may patch in place, at the same
// length) when long-value pages move.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/format/long_value.h"
#include "jet/format/row_layout.h"
#include "jet/format/table_def.h"

namespace jet {

struct RowLongValue {
  size_t column = 0;    // index into TableDef::columns
  uint32_t offset = 0;  // of the 12-byte definition inside the row
  LongValueRef ref;
};

// Every non-null MEMO/OLE value of a cracked row. Throws 3049 on a malformed definition.
std::vector<RowLongValue> longValuesOf(const TableDef& table, Bytes row, const RowLayout& layout);

}  // namespace jet
