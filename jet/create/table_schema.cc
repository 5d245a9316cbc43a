#include "jet/create/table_schema.h"

#include "jet/format/row_layout.h"

namespace jet::create {

bool isVariableType(ColumnType type) {
  return type == ColumnType::Text || type == ColumnType::Binary || type == ColumnType::Memo || type == ColumnType::Ole;
}

uint16_t fixedColumnSize(ColumnType type) {
  // The reader's sizes, so that the rows written are the rows it reads.
  ColumnDef c;
  c.type = type;
  return static_cast<uint16_t>(fixedValueSize(c));
}

ColumnSpec columnSpec(const std::string& name, ColumnType type, uint16_t length, bool compressedText) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.compressedText = compressedText;
  return c;
}

TableLayout layoutTable(const TableSchema& schema) {
  TableLayout layout;
  for (size_t i = 0; i < schema.columns.size(); ++i) {
    const ColumnSpec& c = schema.columns[i];
    ColumnPlace place;
    if (isVariableType(c.type)) {
      place.varIndex = layout.varColumnCount++;
      if (isLongValueType(c.type)) layout.longValueColumns.push_back(static_cast<uint16_t>(i));
    } else {
      place.fixed = true;
      place.size = fixedColumnSize(c.type);
      place.fixedOffset = layout.fixedAreaSize;
      layout.fixedAreaSize = static_cast<uint16_t>(layout.fixedAreaSize + place.size);
    }
    layout.places.push_back(place);
  }
  return layout;
}

}  // namespace jet::create
