#include "tools/jetdb/csv_export.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "jet/format/row_layout.h"
#include "jet/read/table_scan.h"

namespace jet {

std::vector<size_t> columnsInNumberOrder(const TableDef& t) {
  std::vector<size_t> order(t.columns.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return t.columns[a].number < t.columns[b].number; });
  return order;
}

namespace {

void appendQuoted(std::string& out, const char* data, size_t size) {
  out.push_back('"');
  const char* end = data + size;
  while (data < end) {
    // Up to and including the next quote, which is then doubled.
    const auto* quote = static_cast<const char*>(std::memchr(data, '"', static_cast<size_t>(end - data)));
    if (quote == nullptr) {
      out.append(data, end);
      break;
    }
    out.append(data, quote + 1);
    out.push_back('"');
    data = quote + 1;
  }
  out.push_back('"');
}

void appendQuoted(std::string& out, const std::string& s) { appendQuoted(out, s.data(), s.size()); }

// mdb-export treats text as a C string and prints '?' for bytes its converter rejects; in UTF-8 the C1 controls
// U+0080-U+009F are exactly what undefined Jet 3 code-page bytes decode to.
std::string mdbExportText(const std::string& text, bool jet3) {
  std::string s = text.substr(0, text.find('\0'));
  if (!jet3) return s;
  std::string out;
  out.reserve(s.size());
  for (size_t k = 0; k < s.size(); ++k) {
    auto c = static_cast<unsigned char>(s[k]);
    if (c == 0xC2 && k + 1 < s.size() && static_cast<unsigned char>(s[k + 1]) >= 0x80 &&
        static_cast<unsigned char>(s[k + 1]) <= 0x9F) {
      out.push_back('?');
      ++k;
    } else {
      out.push_back(s[k]);
    }
  }
  return out;
}

// mdb-export leaves dates before 1899-12-30 or after about 4637 as an all-zero time structure, and rounds the time
// of day without carrying into the next day.
std::string mdbExportDate(double days) {
  if (!(days >= 0.0 && days <= 1e6)) return "01/00/00 00:00:00";
  auto whole = static_cast<int64_t>(days);
  auto seconds = static_cast<int64_t>((days - static_cast<double>(whole)) * 86400.0 + 0.5);
  CivilDateTime t = toCivil(static_cast<double>(whole));
  t.hour = static_cast<int>(seconds / 3600);  // 24 when the rounding reaches midnight
  t.minute = static_cast<int>(seconds / 60 % 60);
  t.second = static_cast<int>(seconds % 60);
  return formatDateTime(t);
}

}  // namespace

void appendCsvField(std::string& out, const Value& v, const CsvStyle& style, bool jet3) {
  if (v.type == ColumnType::Boolean) {
    out.push_back(v.boolean ? '1' : '0');
    return;
  }
  if (v.null) return;
  switch (v.type) {
    case ColumnType::Boolean: break;
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long: out += std::to_string(v.integer); break;
    case ColumnType::Currency: out += formatCurrency(v.integer); break;
    case ColumnType::Single: out += formatSingle(static_cast<float>(v.real)); break;
    case ColumnType::Double: out += formatDouble(v.real); break;
    case ColumnType::DateTime:
      appendQuoted(out, style.mdbExportQuirks ? mdbExportDate(v.real) : formatDateTime(v.real));
      break;
    case ColumnType::Numeric: out += formatNumeric(v.negative, v.bytes.data(), v.scale); break;
    case ColumnType::Guid:
      appendQuoted(out, formatGuid(v.bytes.data(), style.mdbExportQuirks));  // mdb-export joins the last two groups
      break;
    case ColumnType::Text:
    case ColumnType::Memo:
      if (style.mdbExportQuirks) {
        std::string s = mdbExportText(v.text, jet3);
        if (!s.empty()) appendQuoted(out, s);
      } else if (!v.text.empty()) {
        appendQuoted(out, v.text);  // empty text prints like a null
      }
      break;
    case ColumnType::Binary: {
      size_t n = v.bytes.size();
      if (style.mdbExportQuirks) {
        for (n = 0; n < v.bytes.size() && v.bytes[n] != 0;) ++n;
      }
      if (n != 0) appendQuoted(out, reinterpret_cast<const char*>(v.bytes.data()), n);
      break;
    }
    case ColumnType::Ole:
      if (!v.bytes.empty()) appendQuoted(out, reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size());
      break;
    default:
      if (!style.mdbExportQuirks && !v.bytes.empty()) {
        appendQuoted(out, reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size());
      }
      break;
  }
}

uint64_t exportCsv(Database& db, const TableDef& table, std::FILE* out, const CsvStyle& style) {
  return db.withFileName([&]() -> uint64_t {
    const std::vector<size_t> order = columnsInNumberOrder(table);
    std::string buf;
    for (size_t k = 0; k < order.size(); ++k) {
      if (k) buf.push_back(',');
      buf += table.columns[order[k]].name;
    }
    buf.push_back('\n');
    PageReader& pages = db.pages();
    const bool jet3 = pages.format().version == Version::Jet3;
    TableScan scan(pages, table, style.rowOrder);
    RowRecord rec;
    RowLayout layout;
    Value v;
    uint64_t rows = 0;
    while (scan.next(rec)) {
      crackRow(pages.format(), table, rec.bytes, layout);
      for (size_t k = 0; k < order.size(); ++k) {
        if (k) buf.push_back(',');
        decodeValue(pages, table.columns[order[k]], rec.bytes, layout.fields[order[k]], v);
        appendCsvField(buf, v, style, jet3);
      }
      buf.push_back('\n');
      ++rows;
      if (buf.size() >= (1u << 16)) {
        std::fwrite(buf.data(), 1, buf.size(), out);
        buf.clear();
      }
    }
    std::fwrite(buf.data(), 1, buf.size(), out);
    return rows;
  });
}

}  // namespace jet
