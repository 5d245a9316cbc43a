#include "jet/format/row_layout.h"

#include <string>

namespace jet {

uint32_t fixedTypeSize(ColumnType type) {
  switch (type) {
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    default: return 0;
  }
}

uint32_t fixedValueSize(const ColumnDef& c) {
  if (c.type == ColumnType::Boolean) return 0;
  const uint32_t size = fixedTypeSize(c.type);
  return size != 0 ? size : c.length;
}

namespace {

// Offsets of the variable columns (entry varCount is the end of variable data), as stored in Jet 4 rows.
size_t jet4VarOffsets(Bytes row, size_t varLenPos, uint16_t varCount, std::vector<uint32_t>& offsets) {
  // varCount + 1 two-byte entries sit just before the count, first entry nearest to it.
  if (varLenPos < 2u * (varCount + 1u)) corrupt("a row's variable-offset table does not fit the row");
  offsets.resize(varCount + 1u);
  for (uint32_t i = 0; i <= varCount; ++i) offsets[i] = le16(row.data() + varLenPos - 2 - 2 * i);
  return varLenPos - 2u * (varCount + 1u);
}

// Jet 3 offsets are single bytes; a jump table (entries nearest the count) says at which variable column each
// further 256-byte segment of the row begins. Its length follows from the row's size, so it can end in an unused
// entry.
size_t jet3VarOffsets(Bytes row, size_t varLenPos, uint16_t varCount, std::vector<uint32_t>& offsets) {
  size_t jumps = (row.size() - 1) / 256;
  if (varLenPos < jumps + 1 + varCount) corrupt("a row's variable-offset table does not fit the row");
  size_t first = varLenPos - jumps - 1;  // offset entry of variable column 0
  size_t eodPos = first - varCount;
  if (eodPos / 256 < jumps) --jumps;
  offsets.resize(varCount + 1u);
  size_t used = 0;
  for (uint32_t i = 0; i <= varCount; ++i) {
    while (used < jumps && row[varLenPos - used - 1] == i) ++used;
    offsets[i] = row[first - i] + 256u * static_cast<uint32_t>(used);
  }
  return eodPos;
}

}  // namespace

void crackRow(const Format& f, const TableDef& t, Bytes row, RowLayout& out) {
  const size_t countSize = f.rowColumnCountSize;
  if (row.size() < countSize + 1) corrupt("a row is too short to hold its column count");
  out.columnCount = countSize == 1 ? row[0] : le16(row.data());
  const size_t maskSize = (out.columnCount + 7u) / 8u;
  if (row.size() < countSize + maskSize) corrupt("a row is too short for its null mask");
  const size_t maskPos = row.size() - maskSize;
  const uint8_t* mask = row.data() + maskPos;

  thread_local std::vector<uint32_t> varOffsets;
  varOffsets.clear();
  out.varColumnCount = 0;
  size_t varTableStart = maskPos;  // first byte of the trailing tables (nothing may extend into them)
  // Jet writes the tables of variable-length columns only into rows that have such a column: rows of a table that
  // had none when they were written end with the null mask, and keep ending so after one is added (the new column is
  // then past the row's column count).
  bool hasVar = t.varColumnCount > 0 && out.columnCount > t.firstVarColumnNumber;
  if (hasVar) {
    if (maskPos < countSize + f.rowVarOffsetSize) corrupt("a row is too short for its variable-column count");
    size_t varLenPos = maskPos - f.rowVarOffsetSize;
    out.varColumnCount = f.rowVarOffsetSize == 1 ? row[varLenPos] : le16(row.data() + varLenPos);
    varTableStart = f.version == Version::Jet3 ? jet3VarOffsets(row, varLenPos, out.varColumnCount, varOffsets)
                                               : jet4VarOffsets(row, varLenPos, out.varColumnCount, varOffsets);
    uint32_t eod = varOffsets[out.varColumnCount];
    if (eod > varTableStart) corrupt("a row's variable data runs into its offset table");
  }

  out.fields.resize(t.columns.size());
  for (size_t k = 0; k < t.columns.size(); ++k) {
    const ColumnDef& c = t.columns[k];
    FieldLocation& fl = out.fields[k];
    fl = FieldLocation{};
    if (c.number >= out.columnCount) continue;  // added after the row was written
    fl.present = (mask[c.number / 8] >> (c.number % 8)) & 1u;
    if (c.type == ColumnType::Boolean || !fl.present) continue;
    if (c.isFixed()) {
      fl.offset = static_cast<uint32_t>(countSize) + c.fixedOffset;
      fl.length = fixedValueSize(c);
      if (fl.offset + fl.length > varTableStart) {
        corrupt("fixed column " + c.name + " lies outside its row");
      }
    } else {
      if (!hasVar || c.varIndex >= out.varColumnCount) {
        fl.present = false;  // the row predates the column
        continue;
      }
      uint32_t start = varOffsets[c.varIndex];
      uint32_t end = varOffsets[c.varIndex + 1u];
      if (start > end || end > varTableStart) {
        corrupt("variable column " + c.name + " has impossible bounds in its row (" + std::to_string(start) + " to " +
                std::to_string(end) + ")");
      }
      fl.offset = start;
      fl.length = end - start;
    }
  }
}

}  // namespace jet
