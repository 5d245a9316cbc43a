// The schema of a table to create, and where each column goes in the table's rows.
//
// Columns are numbered in the order given. Fixed-length columns take consecutive places in the fixed area of a row
// (booleans take none: their value is the null-mask bit); variable-length columns (Text, Binary, Memo, OLE) take
// consecutive slots of the variable-offset table. Every index of the schema becomes one real (physical) index and one
// logical index of the same number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/table_def.h"

namespace jet::create {

struct ColumnSpec {
  std::string name;
  ColumnType type{};
  uint16_t length = 0;          // Text and Binary: maximum bytes (Text: two per character); ignored for other types
  bool autoNumber = false;      // Long columns numbered by the engine
  bool compressedText = false;  // Text and Memo: store in Jet 4's one-byte form where possible
  uint8_t precision = 0;        // Numeric
  uint8_t scale = 0;            // Numeric
};

// A column of the given type; length for Text and Binary, compressed for Text and Memo.
ColumnSpec columnSpec(const std::string& name, ColumnType type, uint16_t length = 0, bool compressedText = false);

struct IndexSpec {
  std::string name;
  std::vector<uint16_t> columns;  // positions in TableSchema::columns, in key order, all ascending
  bool unique = false;
  bool primaryKey = false;  // also unique and required
  bool ignoreNulls = false;
  bool required = false;  // no nulls allowed in the key (implied by primaryKey)
};

// One side of a relationship with referential integrity: a logical index of type "foreign key" that uses the real
// index of one of the table's indexes (the primary key on the referenced side, the index on the referencing columns
// on the other) and names the other table and its logical index.
struct ForeignKeySpec {
  std::string name;             // the relationship's name, as in MSysRelationships
  uint16_t index = 0;           // position in TableSchema::indexes whose real index this uses
  bool referencedSide = false;  // the table whose primary key is referenced
  uint32_t relatedIndex = 0;    // number of the other side's logical index
  std::string relatedTable;     // resolved to the other table's definition page when the definition is written
};

struct TableSchema {
  std::string name;
  bool system = false;
  std::vector<ColumnSpec> columns;
  std::vector<IndexSpec> indexes;
  std::vector<ForeignKeySpec> foreignKeys;  // logical indexes numbered after those of `indexes`
};

struct ColumnPlace {
  bool fixed = false;
  uint16_t fixedOffset = 0;  // fixed columns: offset inside the fixed area
  uint16_t varIndex = 0;     // variable columns: slot in the variable-offset table
  uint16_t size = 0;         // fixed columns: bytes in the fixed area
};

struct TableLayout {
  std::vector<ColumnPlace> places;  // one per column
  uint16_t fixedAreaSize = 0;
  uint16_t varColumnCount = 0;
  std::vector<uint16_t> longValueColumns;  // positions of the Memo and OLE columns
};

bool isVariableType(ColumnType type);
// Bytes a fixed column takes in a row (0 for Boolean).
uint16_t fixedColumnSize(ColumnType type);
TableLayout layoutTable(const TableSchema& schema);

}  // namespace jet::create
