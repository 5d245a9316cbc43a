#include "jet/create/table_def_writer.h"

#include <string>

#include "jet/create/row_encoder.h"
#include "jet/errors.h"
#include "jet/format/put_bytes.h"

namespace jet::create {
namespace {

constexpr uint32_t kTableMagic = 1625;
constexpr uint32_t kRealIndexMagic = 1923;
constexpr size_t kIndexColumnSlots = 10;
constexpr uint8_t kReferencedSide = 1;
constexpr uint8_t kReferencingSide = 2;

void appendName(std::vector<uint8_t>& out, const std::string& utf8) {
  const std::u16string ucs = utf8ToUtf16(utf8);
  appendLe16(out, static_cast<uint32_t>(2 * ucs.size()));
  for (char16_t c : ucs) appendLe16(out, c);
}

uint8_t columnFlags(const ColumnSpec& c) {
  // 0x10 and 0x02 are set on every column of every sample file, whether it takes nulls or not (whether a column is
  // required is a property kept elsewhere).
  uint8_t flags = 0x10 | kColumnNullable;
  if (!isVariableType(c.type)) flags |= kColumnFixedLength;
  if (c.autoNumber) flags |= kColumnAutoNumber;
  return flags;
}

uint16_t storedLength(const ColumnSpec& c) {
  if (isLongValueType(c.type)) return 0;
  if (isVariableType(c.type)) return c.length;
  return c.type == ColumnType::Boolean ? 1 : fixedColumnSize(c.type);
}

}  // namespace

std::vector<uint8_t> encodeTableDef(const TableSchema& schema, const TableDefState& state) {
  const Format& f = kJet4Format;
  const TableLayout layout = layoutTable(schema);
  const auto columnCount = static_cast<uint16_t>(schema.columns.size());
  const auto indexCount = static_cast<uint32_t>(schema.indexes.size());
  const auto logicalCount = static_cast<uint32_t>(indexCount + schema.foreignKeys.size());
  if (state.indexes.size() != indexCount || state.longValues.size() != layout.longValueColumns.size() ||
      state.foreignKeyTables.size() != schema.foreignKeys.size()) {
    fail(ErrorCode::InvalidArgument, "table " + schema.name + ": the state does not match the schema");
  }

  std::vector<uint8_t> d(f.tdefHeaderEnd, 0);
  d[0] = static_cast<uint8_t>(PageType::TableDef);
  d[1] = 0x01;
  putLe32(&d[12], kTableMagic);
  putLe32(&d[f.tdefRowCount], state.rowCount);
  putLe32(&d[f.tdefAutonumber], state.autoNumber);
  d[24] = 0x01;
  d[f.tdefTableType] = schema.system ? kTableTypeSystem : kTableTypeUser;
  putLe16(&d[f.tdefMaxColumns], columnCount);
  putLe16(&d[f.tdefVarColumns], layout.varColumnCount);
  putLe16(&d[f.tdefColumnCount], columnCount);
  putLe32(&d[f.tdefLogicalIndexCount], logicalCount);
  putLe32(&d[f.tdefRealIndexCount], indexCount);
  putLe32(&d[f.tdefOwnedMap], state.ownedPages.raw());
  putLe32(&d[f.tdefFreeMap], state.freeSpacePages.raw());

  for (const IndexState& ix : state.indexes) {
    appendLe32(d, 0);
    appendLe32(d, ix.distinctKeys);
    appendLe32(d, 0);
  }

  for (uint16_t i = 0; i < columnCount; ++i) {
    const ColumnSpec& c = schema.columns[i];
    const ColumnPlace& p = layout.places[i];
    std::vector<uint8_t> block(f.columnBlockSize, 0);
    block[f.colType] = static_cast<uint8_t>(c.type);
    putLe32(&block[1], kTableMagic);
    putLe16(&block[f.colNumber], i);
    putLe16(&block[f.colVarIndex], p.fixed ? 0 : p.varIndex);
    if (c.type == ColumnType::Text || c.type == ColumnType::Memo) {
      putLe16(&block[f.colLocale], kGeneralSortOrder);
      block[f.colSortVersion] = 0;  // General Legacy
    } else if (c.type == ColumnType::Numeric) {
      block[f.colPrecision] = c.precision;
      block[f.colScale] = c.scale;
    }
    block[f.colFlags] = columnFlags(c);
    if (c.compressedText && (c.type == ColumnType::Text || c.type == ColumnType::Memo)) {
      block[f.colExtFlags] = kColumnExtCompressedUnicode;
    }
    putLe16(&block[f.colFixedOffset], p.fixed ? p.fixedOffset : 0);
    putLe16(&block[f.colLength], storedLength(c));
    d.insert(d.end(), block.begin(), block.end());
  }
  for (const ColumnSpec& c : schema.columns) appendName(d, c.name);

  for (uint32_t k = 0; k < indexCount; ++k) {
    const IndexSpec& ix = schema.indexes[k];
    if (ix.columns.empty() || ix.columns.size() > kIndexColumnSlots) {
      fail(ErrorCode::InvalidArgument, "index " + ix.name + " must have 1 to 10 columns");
    }
    appendLe32(d, kRealIndexMagic);
    for (size_t s = 0; s < kIndexColumnSlots; ++s) {
      if (s < ix.columns.size()) {
        appendLe16(d, ix.columns[s]);
        d.push_back(kKeyColumnAscending);
      } else {
        appendLe16(d, 0xFFFF);
        d.push_back(0);
      }
    }
    appendLe32(d, state.indexes[k].usageMap.raw());
    appendLe32(d, state.indexes[k].rootPage);
    appendLe32(d, 0);
    uint8_t flags = kIndexAlways;
    if (ix.unique || ix.primaryKey) flags |= kIndexUnique;
    if (ix.ignoreNulls) flags |= kIndexIgnoreNulls;
    if (ix.primaryKey || ix.required) flags |= kIndexRequired;
    d.push_back(flags);
    d.insert(d.end(), 5, 0);
  }
  for (uint32_t k = 0; k < indexCount; ++k) {
    appendLe32(d, kTableMagic);
    appendLe32(d, k);
    appendLe32(d, k);
    d.push_back(0);
    appendLe32(d, 0xFFFFFFFFu);
    appendLe32(d, 0);
    d.push_back(0);
    d.push_back(0);
    d.push_back(schema.indexes[k].primaryKey ? kLogicalIndexPrimaryKey : 0);
    appendLe32(d, 0);
  }
  for (size_t j = 0; j < schema.foreignKeys.size(); ++j) {
    const ForeignKeySpec& fk = schema.foreignKeys[j];
    if (fk.index >= indexCount) fail(ErrorCode::InvalidArgument, "foreign key " + fk.name + " names no index");
    appendLe32(d, kTableMagic);
    appendLe32(d, static_cast<uint32_t>(indexCount + j));
    appendLe32(d, fk.index);
    d.push_back(fk.referencedSide ? kReferencedSide : kReferencingSide);
    appendLe32(d, fk.relatedIndex);
    appendLe32(d, state.foreignKeyTables[j]);
    d.push_back(0);  // no cascading updates
    d.push_back(0);  // no cascading deletes
    d.push_back(kLogicalIndexForeignKey);
    appendLe32(d, 0);
  }
  for (const IndexSpec& ix : schema.indexes) appendName(d, ix.name);
  for (const ForeignKeySpec& fk : schema.foreignKeys) appendName(d, fk.name);

  for (size_t k = 0; k < layout.longValueColumns.size(); ++k) {
    appendLe16(d, layout.longValueColumns[k]);
    appendLe32(d, state.longValues[k].owned.raw());
    appendLe32(d, state.longValues[k].free.raw());
  }
  appendLe16(d, 0xFFFF);

  if (d.size() + 8 > f.pageSize) {
    fail(ErrorCode::InvalidArgument, "the definition of table " + schema.name + " does not fit one page");
  }
  putLe32(&d[f.tdefLengthOffset], static_cast<uint32_t>(d.size()));
  putLe16(&d[2], static_cast<uint32_t>(f.pageSize - 8 - d.size()));
  d.resize(f.pageSize, 0);
  return d;
}

}  // namespace jet::create
