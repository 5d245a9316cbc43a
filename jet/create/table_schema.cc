#include "jet/create/table_schema.h"

namespace jet::create {

bool isVariableType(ColumnType type) {
  return type == ColumnType::Text || type == ColumnType::Binary || type == ColumnType::Memo ||
         type == ColumnType::Ole;
}

uint16_t fixedColumnSize(ColumnType type) {
  switch (type) {
    case ColumnType::Boolean: return 0;
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long:
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    default: return 0;
  }
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
