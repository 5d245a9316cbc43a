// Writes the table definition (TDEF) of a new Jet 4 table from its schema and the places of its usage maps and
// index roots.
//
// Layout of the definition (offsets from the start of the page):
//   0   0x02 0x01, 2-byte free space of the page, 4-byte next definition page (0: one page)
//   8   4-byte length of the whole definition, 12: 4-byte constant 1625 (Jet repeats it in every column block and
//       logical index as a check), 16: row count, 20: last autonumber, 24: 0x01 then 15 zero bytes
//   40  table type (0x4E user, 0x53 system), 41: columns a row can have, 43: variable columns, 45: columns,
//   47  logical indexes, 51: real indexes, 55: owned-pages map, 59: pages-with-free-space map
//   63  per real index 12 bytes: 0, distinct key count, 0
//       per column 25 bytes: type, 1625, number, variable slot, 0, LCID (text) or precision/scale (numeric), 0, sort
//       version, flags, extended flags (0x01 compressed text), 4 zero bytes, fixed offset, length
//       column names: 2-byte byte count + UCS-2
//       per real index 52 bytes: constant 1923, ten (column number, order) slots (unused: 0xFFFF, 0), usage map,
//       root page, 0, flags (0x80 always; 0x01 unique, 0x02 ignore nulls, 0x08 required), five zero bytes
//       per logical index 28 bytes: 1625, number, real index, related table type, related index (-1: none),
//       related table's definition page, cascade updates, cascade deletes, type (1 primary key, 2 foreign key,
//       0 other), 0. A foreign key marks the referenced side with related table type 1 and the referencing side
//       with 2, as the samples with relationships show.
//       logical index names, then per Memo/OLE column: number, owned map, free map; closed by 0xFFFF
// Jet writes the free space as page size - 8 - length; every sample file does.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/create/table_schema.h"
#include "jet/format/format.h"

namespace jet::create {

struct IndexState {
  RowPointer usageMap;
  uint32_t rootPage = 0;
  uint32_t distinctKeys = 0;
};

struct LongValueMapState {
  RowPointer owned;
  RowPointer free;
};

struct TableDefState {
  uint32_t rowCount = 0;
  uint32_t autoNumber = 0;  // last number given out
  RowPointer ownedPages;
  RowPointer freeSpacePages;
  std::vector<IndexState> indexes;            // one per schema index
  std::vector<LongValueMapState> longValues;  // one per Memo/OLE column, in column order
  std::vector<uint32_t> foreignKeyTables;     // definition page of the related table of each foreign key
};

inline constexpr uint16_t kGeneralSortOrder = 0x0409;

// The definition as one page. Throws InvalidArgument when it does not fit one page (no table made here needs more).
std::vector<uint8_t> encodeTableDef(const TableSchema& schema, const TableDefState& state);

}  // namespace jet::create
