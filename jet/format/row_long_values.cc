#include "jet/format/row_long_values.h"

namespace jet {

std::vector<RowLongValue> longValuesOf(const TableDef& table, Bytes row, const RowLayout& layout) {
  std::vector<RowLongValue> out;
  for (size_t k = 0; k < table.columns.size() && k < layout.fields.size(); ++k) {
    const FieldLocation& fl = layout.fields[k];
    if (!isLongValueType(table.columns[k].type) || !fl.present) continue;
    RowLongValue v;
    v.column = k;
    v.offset = fl.offset;
    v.ref = parseLongValueRef(slice(row, fl.offset, fl.length, "a long-value field"));
    out.push_back(v);
  }
  return out;
}

}  // namespace jet
