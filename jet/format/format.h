// Layout constants of the two on-disk versions of the Jet database format.
//
// Jet 3 (Access 97) and Jet 4 (Access 2000-2003) share one structure and differ in page size and in where fields sit
// inside pages. Every decoder and encoder takes a Format so that the difference lives in one table.
#pragma once

#include <cstdint>

namespace jet {

enum class Version : uint8_t { Jet3, Jet4 };

// Page types, byte 0 of every page.
enum class PageType : uint8_t {
  Header = 0x00,  // page 0; also what freed, zeroed pages read
  Data = 0x01,
  TableDef = 0x02,
  IndexNode = 0x03,
  IndexLeaf = 0x04,
  UsageMap = 0x05,
};

struct Format {
  Version version;
  uint32_t pageSize;

  // Header page (page 0).
  uint32_t maskedAreaOffset;  // start of the RC4-masked area
  uint32_t maskedAreaLength;
  uint32_t sortOrderOffset;  // 2 bytes in Jet 3, 4 in Jet 4
  uint32_t codePageOffset;
  uint32_t encodingKeyOffset;
  uint32_t passwordOffset;
  uint32_t passwordLength;
  uint32_t creationDateOffset;  // Jet 4 only (0 in Jet 3): 8-byte date, also the password's XOR mask
  uint32_t sortVersionOffset;   // Jet 4 only (0 in Jet 3): 0 = General Legacy, 1 = 2010 General

  // Data pages.
  uint32_t dataFreeSpaceOffset;  // 2-byte free space
  uint32_t dataOwnerOffset;      // 4-byte owning TDEF page (or 'LVAL')
  uint32_t dataRowCountOffset;   // 2-byte row count, row offset table follows

  // Table definition pages.
  uint32_t tdefNextPageOffset;
  uint32_t tdefLengthOffset;        // 4-byte length of the definition
  uint32_t tdefBodyOffset;          // where the body starts on the first page (its length field)
  uint32_t tdefContinuationHeader;  // bytes of header on a continuation page
  uint32_t tdefRowCount;
  uint32_t tdefAutonumber;
  uint32_t tdefTableType;
  uint32_t tdefMaxColumns;
  uint32_t tdefVarColumns;
  uint32_t tdefColumnCount;
  uint32_t tdefLogicalIndexCount;
  uint32_t tdefRealIndexCount;
  uint32_t tdefOwnedMap;
  uint32_t tdefFreeMap;
  uint32_t tdefHeaderEnd;       // first per-real-index block
  uint32_t tdefRealIndexBlock;  // per real index: 4 unknown + 4 key count (+ 4 in Jet 4)
  uint32_t columnBlockSize;
  uint32_t realIndexDefSize;
  uint32_t logicalIndexDefSize;

  // Column block fields.
  uint32_t colType;
  uint32_t colNumber;
  uint32_t colVarIndex;
  uint32_t colLocale;    // LCID of text; precision/scale of numerics in Jet 4
  uint32_t colCodePage;  // Jet 3 only (0 in Jet 4)
  uint32_t colPrecision;
  uint32_t colScale;
  uint32_t colSortVersion;  // Jet 4 only (0 in Jet 3)
  uint32_t colFlags;
  uint32_t colExtFlags;  // Jet 4 only (0 in Jet 3): 0x01 = compressed Unicode text
  uint32_t colFixedOffset;
  uint32_t colLength;

  // Index pages.
  uint32_t indexPrevPage;
  uint32_t indexNextPage;
  uint32_t indexTailPage;
  uint32_t indexPrefixLength;
  uint32_t indexBitmask;
  uint32_t indexBitmaskLength;
  uint32_t indexEntriesStart;

  // Rows.
  uint32_t rowColumnCountSize;    // 1 (Jet 3) or 2 (Jet 4)
  uint32_t rowVarOffsetSize;      // 1 (Jet 3, with jump table) or 2 (Jet 4)
  uint32_t usageMapInlineBitmap;  // bytes of bitmap in a type-0 usage map

  uint32_t indexDefColumnSlots() const { return 10; }
  uint32_t maxRowsPerPage() const { return 255; }
  // Bytes of page header before the row-offset table.
  uint32_t rowOffsetTable() const { return dataRowCountOffset + 2; }
};

// Row-offset table entries of data pages.
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr uint16_t kRowOverflowFlag = 0x4000;  // the slot holds a (row, page) pointer to the real row
inline constexpr uint16_t kRowDeletedFlag = 0x8000;   // no row lives here (also set on overflow targets)

// Owner field of long-value data pages.
inline constexpr uint32_t kLongValueOwner = 0x4C41564C;  // 'LVAL'

// Long-value definition stored inside a row for MEMO and OLE columns.
inline constexpr uint32_t kLongValueDefinitionSize = 12;
inline constexpr uint32_t kLongValueInline = 0x80000000u;
inline constexpr uint32_t kLongValueSingleRow = 0x40000000u;
inline constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFFu;

// Column flags (byte colFlags of a column block).
inline constexpr uint8_t kColumnFixedLength = 0x01;
inline constexpr uint8_t kColumnNullable = 0x02;
inline constexpr uint8_t kColumnAutoNumber = 0x04;
inline constexpr uint8_t kColumnExtCompressedUnicode = 0x01;

// Table types (TDEF byte tdefTableType).
inline constexpr uint8_t kTableTypeUser = 0x4E;
inline constexpr uint8_t kTableTypeSystem = 0x53;

extern const Format kJet3Format;
extern const Format kJet4Format;

const Format& formatFor(Version version);

}  // namespace jet
