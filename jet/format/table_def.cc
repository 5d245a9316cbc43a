#include "jet/format/table_def.h"

#include <algorithm>
#include <unordered_set>

#include "jet/pager/page_reader.h"
#include "jet/format/text.h"

namespace jet {

const char* columnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::Boolean: return "Boolean";
    case ColumnType::Byte: return "Byte";
    case ColumnType::Integer: return "Integer";
    case ColumnType::Long: return "Long Integer";
    case ColumnType::Currency: return "Currency";
    case ColumnType::Single: return "Single";
    case ColumnType::Double: return "Double";
    case ColumnType::DateTime: return "DateTime";
    case ColumnType::Binary: return "Binary";
    case ColumnType::Text: return "Text";
    case ColumnType::Ole: return "OLE";
    case ColumnType::Memo: return "Memo";
    case ColumnType::Guid: return "Replication ID";
    case ColumnType::Numeric: return "Numeric";
  }
  return "Unknown";
}

const ColumnDef* TableDef::findColumn(const std::string& name) const {
  for (const ColumnDef& c : columns) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

// 255 columns with long names and the largest index set fill a few dozen pages; far more means a damaged chain, and
// the cap keeps the memory a definition takes bounded.
constexpr size_t kMaxDefinitionPages = 256;

TableDef readTableDef(PageReader& pages, uint32_t first) {
  const Format& f = pages.format();
  std::vector<uint8_t> raw;
  std::vector<uint32_t> chain;
  std::unordered_set<uint32_t> seen;
  uint32_t n = first;
  while (n != 0) {
    if (!seen.insert(n).second) {
      corrupt("the definition of table " + std::to_string(first) + " loops back to page " + std::to_string(n));
    }
    if (chain.size() >= kMaxDefinitionPages) {
      corrupt("the definition of table " + std::to_string(first) + " runs over more than " +
              std::to_string(kMaxDefinitionPages) + " pages");
    }
    if (n >= pages.pageCount()) {
      corrupt("the definition of table " + std::to_string(first) + " continues on page " + std::to_string(n) +
              ", past the end of the file");
    }
    PageHandle p = pages.page(n);
    if ((*p)[0] != static_cast<uint8_t>(PageType::TableDef)) {
      corrupt("page " + std::to_string(n) + " should hold the definition of table " + std::to_string(first) +
              " but is of type " + std::to_string((*p)[0]));
    }
    if (chain.empty()) {
      raw.assign(p->begin(), p->end());
    } else {
      raw.insert(raw.end(), p->begin() + static_cast<std::ptrdiff_t>(f.tdefContinuationHeader), p->end());
    }
    chain.push_back(n);
    n = le32(p->data() + f.tdefNextPageOffset);
  }
  TableDef def = parseTableDef(f, pages.header().codePage, std::move(raw));
  def.page = first;
  def.pages = std::move(chain);
  return def;
}

namespace {

// Reads fields of a definition in order, checking each against the bytes that exist.
class Cursor {
 public:
  Cursor(Bytes bytes, uint32_t at) : b_(bytes), at_(at) {}
  uint32_t at() const { return at_; }
  void need(size_t n, const char* what) const { requireFits(b_, at_, n, what); }
  void skip(size_t n, const char* what) {
    need(n, what);
    at_ += static_cast<uint32_t>(n);
  }

 private:
  Bytes b_;
  uint32_t at_;
};

MapPointer mapAt(Bytes b, uint32_t offset) {
  return {RowPointer::fromRaw(u32(b, offset, "a usage-map pointer")), offset};
}

std::string readName(const Format& f, uint16_t codePage, Bytes b, Cursor& c, uint32_t& nameOffset) {
  nameOffset = c.at();
  if (f.version == Version::Jet3) {
    uint8_t len = u8(b, c.at(), "a name length");
    c.skip(1, "a name length");
    Bytes text = slice(b, c.at(), len, "a name");
    c.skip(len, "a name");
    return decodeCodePage(text, codePage);
  }
  uint16_t len = u16(b, c.at(), "a name length");
  c.skip(2, "a name length");
  Bytes text = slice(b, c.at(), len, "a name");
  c.skip(len, "a name");
  return decodeUcs2(text);
}

void requireArray(Bytes b, uint32_t at, uint64_t count, uint32_t size, const char* what) {
  if (count * size > b.size()) corrupt(std::string("the table definition claims more ") + what + " than it holds");
  requireFits(b, at, static_cast<size_t>(count * size), what);
}

}  // namespace

TableDef parseTableDef(const Format& f, uint16_t codePage, std::vector<uint8_t> rawBytes) {
  TableDef d;
  d.raw = std::move(rawBytes);
  Bytes b(d.raw);
  requireFits(b, 0, f.tdefHeaderEnd, "the table definition header");
  if (b[0] != static_cast<uint8_t>(PageType::TableDef)) corrupt("a table definition page has the wrong type");
  d.definitionLength = u32(b, f.tdefLengthOffset);
  d.rowCount = u32(b, f.tdefRowCount);
  d.autoNumber = u32(b, f.tdefAutonumber);
  d.tableType = u8(b, f.tdefTableType);
  d.maxColumns = u16(b, f.tdefMaxColumns);
  d.varColumnCount = u16(b, f.tdefVarColumns);
  d.columnCount = u16(b, f.tdefColumnCount);
  d.logicalIndexCount = u32(b, f.tdefLogicalIndexCount);
  d.realIndexCount = u32(b, f.tdefRealIndexCount);
  d.ownedPages = mapAt(b, f.tdefOwnedMap);
  d.freeSpacePages = mapAt(b, f.tdefFreeMap);

  Cursor c(b, f.tdefHeaderEnd);
  requireArray(b, c.at(), d.realIndexCount, f.tdefRealIndexBlock, "index counters");
  d.realIndexes.resize(d.realIndexCount);
  for (RealIndexDef& ix : d.realIndexes) {
    ix.countOffset = c.at();
    ix.keyCount = u32(b, c.at() + 4);
    c.skip(f.tdefRealIndexBlock, "an index counter");
  }

  requireArray(b, c.at(), d.columnCount, f.columnBlockSize, "columns");
  d.columns.resize(d.columnCount);
  for (ColumnDef& col : d.columns) {
    uint32_t o = c.at();
    col.blockOffset = o;
    col.type = static_cast<ColumnType>(b[o + f.colType]);
    col.number = le16(&b[o + f.colNumber]);
    col.varIndex = le16(&b[o + f.colVarIndex]);
    col.locale = le16(&b[o + f.colLocale]);
    col.precision = b[o + f.colPrecision];
    col.scale = b[o + f.colScale];
    col.flags = b[o + f.colFlags];
    col.fixedOffset = le16(&b[o + f.colFixedOffset]);
    col.length = le16(&b[o + f.colLength]);
    if (f.version == Version::Jet3) {
      col.codePage = le16(&b[o + f.colCodePage]);
    } else {
      col.sortVersion = b[o + f.colSortVersion];
      col.extFlags = b[o + f.colExtFlags];
    }
    c.skip(f.columnBlockSize, "a column");
  }
  d.firstVarColumnNumber = 0xFFFF;
  for (const ColumnDef& col : d.columns) {
    if (!col.isFixed()) d.firstVarColumnNumber = std::min(d.firstVarColumnNumber, col.number);
  }
  if (d.firstVarColumnNumber == 0xFFFF) d.firstVarColumnNumber = 0;  // none found: read as before
  for (ColumnDef& col : d.columns) col.name = readName(f, codePage, b, c, col.nameOffset);

  // Real indexes: Jet 4 puts 4 unknown bytes before the key columns.
  const uint32_t keyStart = f.version == Version::Jet4 ? 4 : 0;
  const uint32_t slots = f.indexDefColumnSlots();
  requireArray(b, c.at(), d.realIndexCount, f.realIndexDefSize, "indexes");
  for (RealIndexDef& ix : d.realIndexes) {
    uint32_t o = c.at();
    ix.defOffset = o;
    for (uint32_t k = 0; k < slots; ++k) {
      uint16_t column = le16(&b[o + keyStart + 3 * k]);
      if (column != 0xFFFF) ix.columns.push_back({column, b[o + keyStart + 3 * k + 2]});
    }
    uint32_t after = o + keyStart + 3 * slots;
    ix.usageMap = mapAt(b, after);
    ix.rootPage = le32(&b[after + 4]);
    // Jet 4 keeps 4 more bytes between the root page and the flags (0x80 is always set there).
    ix.flags = b[after + 8 + (f.version == Version::Jet4 ? 4u : 0u)];
    c.skip(f.realIndexDefSize, "an index");
  }

  const uint32_t logicalStart = f.version == Version::Jet4 ? 4 : 0;
  requireArray(b, c.at(), d.logicalIndexCount, f.logicalIndexDefSize, "logical indexes");
  d.logicalIndexes.resize(d.logicalIndexCount);
  for (LogicalIndexDef& li : d.logicalIndexes) {
    uint32_t o = c.at() + logicalStart;
    li.defOffset = c.at();
    li.number = le32(&b[o]);
    li.realIndex = le32(&b[o + 4]);
    li.relatedTableType = b[o + 8];
    li.relatedIndex = le32(&b[o + 9]);
    li.relatedTablePage = le32(&b[o + 13]);
    li.cascadeUpdates = b[o + 17];
    li.cascadeDeletes = b[o + 18];
    li.type = b[o + 19];
    c.skip(f.logicalIndexDefSize, "a logical index");
  }
  for (LogicalIndexDef& li : d.logicalIndexes) li.name = readName(f, codePage, b, c, li.nameOffset);

  // Usage maps of MEMO and OLE columns, ended by 0xFFFF. Tolerate a definition that stops before the end marker.
  while (fits(b, c.at(), 2)) {
    uint16_t column = le16(&b[c.at()]);
    if (column == 0xFFFF) {
      c.skip(2, "the end of the long-value maps");
      break;
    }
    if (!fits(b, c.at(), 10)) corrupt("the long-value maps of a table definition are cut short");
    LongValueMaps m;
    m.offset = c.at();
    m.column = column;
    m.owned = mapAt(b, c.at() + 2);
    m.free = mapAt(b, c.at() + 6);
    d.longValueMaps.push_back(m);
    c.skip(10, "long-value maps");
  }
  d.endOffset = c.at();

  for (const ColumnDef& col : d.columns) {
    if (col.isFixed() && col.type != ColumnType::Boolean && col.fixedOffset > 0x2000) {
      corrupt("column " + col.name + " has a fixed offset beyond any row");
    }
  }
  return d;
}

}  // namespace jet
