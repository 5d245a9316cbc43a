// A table definition (TDEF) as stored: the decoded fields, and the raw bytes with the offset of every field, so that
// tools which copy or rewrite a definition can patch known fields and carry unknown bytes over unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/format.h"

namespace jet {

class PageReader;

enum class ColumnType : uint8_t {
  Boolean = 0x01,
  Byte = 0x02,
  Integer = 0x03,
  Long = 0x04,
  Currency = 0x05,
  Single = 0x06,
  Double = 0x07,
  DateTime = 0x08,
  Binary = 0x09,
  Text = 0x0A,
  Ole = 0x0B,
  Memo = 0x0C,
  Guid = 0x0F,
  Numeric = 0x10,
};

const char* columnTypeName(ColumnType type);
// MEMO and OLE: the row holds a 12-byte long-value definition. Asked of every column of every row a copy reads, writes
// and reads back, hence inline.
inline bool isLongValueType(ColumnType type) { return type == ColumnType::Memo || type == ColumnType::Ole; }

struct ColumnDef {
  std::string name;  // UTF-8
  ColumnType type{};
  uint16_t number = 0;       // position in the null mask; numbers of deleted columns leave gaps
  uint16_t varIndex = 0;     // slot in the row's variable-offset table (variable-length columns)
  uint16_t fixedOffset = 0;  // offset inside the fixed area (fixed-length columns)
  uint16_t length = 0;       // maximum length in bytes
  uint8_t flags = 0;         // kColumn* flags
  uint8_t extFlags = 0;      // Jet 4 only
  uint16_t locale = 0;       // LCID of text columns
  uint16_t codePage = 0;     // Jet 3 text columns
  uint8_t sortVersion = 0;   // Jet 4 text columns
  uint8_t precision = 0;     // NUMERIC columns
  uint8_t scale = 0;         // NUMERIC columns
  uint32_t blockOffset = 0;  // offset of the column block inside TableDef::raw
  uint32_t nameOffset = 0;   // offset of the name's length field inside TableDef::raw

  bool isFixed() const { return (flags & kColumnFixedLength) != 0; }
  bool compressedUnicode() const { return (extFlags & kColumnExtCompressedUnicode) != 0; }
};

// Where a usage map lives: a row on a data page.
struct MapPointer {
  RowPointer at;
  uint32_t offset = 0;  // offset of the 4-byte pointer inside TableDef::raw
};

// Flags of a real index (RealIndexDef::flags).
inline constexpr uint8_t kIndexUnique = 0x01;
inline constexpr uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr uint8_t kIndexRequired = 0x08;
inline constexpr uint8_t kIndexAlways = 0x80;  // set on every index Jet writes

// Kinds of a logical index (LogicalIndexDef::type); 0 is a plain index.
inline constexpr uint8_t kLogicalIndexPrimaryKey = 1;
inline constexpr uint8_t kLogicalIndexForeignKey = 2;

// Order of a key column (RealIndexDef::KeyColumn::order).
inline constexpr uint8_t kKeyColumnAscending = 0x01;
inline constexpr uint8_t kKeyColumnDescending = 0x02;

struct RealIndexDef {
  struct KeyColumn {
    uint16_t column = 0;  // column number; 0xFFFF marks an unused slot
    uint8_t order = 0;    // kKeyColumnAscending or kKeyColumnDescending
  };
  uint32_t keyCount = 0;           // from the per-index block before the columns (often stale)
  std::vector<KeyColumn> columns;  // used slots only, in key order
  MapPointer usageMap;
  uint32_t rootPage = 0;
  uint8_t flags = 0;         // kIndexUnique, kIndexIgnoreNulls, kIndexRequired, kIndexAlways
  uint32_t countOffset = 0;  // offset of the per-index block inside TableDef::raw
  uint32_t defOffset = 0;    // offset of the index definition inside TableDef::raw
};

struct LogicalIndexDef {
  std::string name;
  uint32_t number = 0;
  uint32_t realIndex = 0;  // the real index whose pages hold the keys
  uint8_t relatedTableType = 0;
  uint32_t relatedIndex = 0;
  uint32_t relatedTablePage = 0;  // TDEF page of the related table (foreign keys)
  uint8_t cascadeUpdates = 0;
  uint8_t cascadeDeletes = 0;
  uint8_t type = 0;  // kLogicalIndexPrimaryKey, kLogicalIndexForeignKey, or 0
  uint32_t defOffset = 0;
  uint32_t nameOffset = 0;
};

// Usage maps of a MEMO or OLE column: the long-value pages it owns and those with free space.
struct LongValueMaps {
  uint16_t column = 0;
  MapPointer owned;
  MapPointer free;
  uint32_t offset = 0;
};

struct TableDef {
  uint32_t page = 0;            // first TDEF page; for local tables also the table's Id in the catalog
  std::vector<uint32_t> pages;  // every TDEF page in chain order
  // The definition as one byte string: the first page whole (header included), then what follows the
  // continuation header of each further page. All offsets in this model index into it.
  std::vector<uint8_t> raw;

  uint32_t definitionLength = 0;
  uint32_t rowCount = 0;  // as stored; may be stale, count rows from the data instead
  uint32_t autoNumber = 0;
  uint8_t tableType = 0;  // kTableType*
  uint16_t maxColumns = 0;
  uint16_t varColumnCount = 0;
  // The lowest number of a column of variable length: a row with no more columns than that (written before the first
  // such column was added) has no tables of variable-length columns. 0 where unknown, and every row is read as having
  // them when varColumnCount says the table has such columns.
  uint16_t firstVarColumnNumber = 0;
  uint16_t columnCount = 0;
  uint32_t logicalIndexCount = 0;
  uint32_t realIndexCount = 0;
  MapPointer ownedPages;
  MapPointer freeSpacePages;

  std::vector<ColumnDef> columns;  // in stored order (the order tools print them in)
  std::vector<RealIndexDef> realIndexes;
  std::vector<LogicalIndexDef> logicalIndexes;
  std::vector<LongValueMaps> longValueMaps;
  uint32_t endOffset = 0;  // first byte after everything parsed

  const ColumnDef* findColumn(const std::string& name) const;
  // The bytes the definition says it has: its stated length, or more when its parts run past that. A copy needs
  // them all, so a definition whose pages hold fewer cannot be copied.
  uint32_t claimedLength() const { return definitionLength > endOffset ? definitionLength : endOffset; }
};

// Reads the definition starting at TDEF page `page`, following its chain of continuation pages.
// Throws 3049 when a page is not a TDEF page, the chain loops, or a count or offset does not fit.
TableDef readTableDef(PageReader& pages, uint32_t page);

// Parses a definition from its assembled bytes (see TableDef::raw).
TableDef parseTableDef(const Format& format, uint16_t codePage, std::vector<uint8_t> raw);

}  // namespace jet
