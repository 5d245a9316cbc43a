#include "tools/jetdb/csv_export.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <exception>
#include <numeric>

#include "jet/format/long_value.h"
#include "jet/format/row_layout.h"
#include "jet/read/read_ahead.h"
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

// mdb-export treats text as a C string and prints '?' for what its converter rejects: in Jet 3 text a code-page byte
// the code page leaves undefined (which decodes to a C1 control, U+0080-U+009F, or to U+FFFD), in Jet 4 text each
// half of a character outside the Basic Multilingual Plane (four bytes of UTF-8).
std::string mdbExportText(const std::string& text, bool jet3) {
  std::string s = text.substr(0, text.find('\0'));
  std::string out;
  out.reserve(s.size());
  for (size_t k = 0; k < s.size(); ++k) {
    auto at = [&](size_t i) { return static_cast<unsigned char>(i < s.size() ? s[i] : 0); };
    const unsigned char c = at(k);
    if (jet3 && c == 0xC2 && at(k + 1) >= 0x80 && at(k + 1) <= 0x9F) {
      out.push_back('?');
      k += 1;
    } else if (jet3 && c == 0xEF && at(k + 1) == 0xBF && at(k + 2) == 0xBD) {
      out.push_back('?');
      k += 2;
    } else if (!jet3 && c >= 0xF0 && k + 3 < s.size()) {
      out += "??";
      k += 3;
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
    case ColumnType::Long: {
      char b[24];
      out.append(b, std::to_chars(b, b + sizeof b, v.integer).ptr);
      break;
    }
    case ColumnType::Currency: out += formatCurrency(v.integer); break;
    case ColumnType::Single: out += formatSingle(static_cast<float>(v.real)); break;
    case ColumnType::Double: out += formatDouble(v.real); break;
    case ColumnType::DateTime:
      // Neither form holds a quote to double.
      out.push_back('"');
      if (style.mdbExportQuirks) {
        out += mdbExportDate(v.real);
      } else {
        appendDateTime(out, v.real);
      }
      out.push_back('"');
      break;
    case ColumnType::Numeric: out += formatNumeric(v.negative, v.bytes.data(), v.scale); break;
    case ColumnType::Guid:
      out.push_back('"');
      appendGuid(out, v.bytes.data(), style.mdbExportQuirks);  // mdb-export joins the last two groups
      out.push_back('"');
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
      // mdb-export prints an OLE value that is there but empty as "", and a null as nothing.
      if (!v.bytes.empty() || style.mdbExportQuirks) {
        appendQuoted(out, reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size());
      }
      break;
    default:
      if (!style.mdbExportQuirks && !v.bytes.empty()) {
        appendQuoted(out, reinterpret_cast<const char*>(v.bytes.data()), v.bytes.size());
      }
      break;
  }
}

namespace {

// Cracks rows and formats them as CSV lines. Each thread that formats keeps its own.
class RowFormatter {
 public:
  RowFormatter(const PageReader& pages, const TableDef& table, const std::vector<size_t>& order, const CsvStyle& style)
      : pages_(pages), table_(table), order_(order), style_(style), jet3_(pages.format().version == Version::Jet3) {}
  const RowLayout& crack(Bytes row) {
    crackRow(pages_.format(), table_, row, layout_);
    return layout_;
  }
  // Appends one row and its line end to `out`; decode(c, value) decodes column c (an index into table.columns).
  template <class Decode>
  void row(std::string& out, Decode&& decode) {
    for (size_t k = 0; k < order_.size(); ++k) {
      if (k) out.push_back(',');
      decode(order_[k], value_);
      appendCsvField(out, value_, style_, jet3_);
    }
    out.push_back('\n');
  }

 private:
  const PageReader& pages_;
  const TableDef& table_;
  const std::vector<size_t>& order_;
  const CsvStyle& style_;
  const bool jet3_;
  RowLayout layout_;
  Value value_;
};

// Prints a table's rows as they come, into a buffer written out every 64 KB.
class CsvPrinter {
 public:
  CsvPrinter(const PageReader& pages, const TableDef& table, const std::vector<size_t>& order, std::FILE* out,
             const CsvStyle& style)
      : formatter_(pages, table, order, style), out_(out) {
    for (size_t k = 0; k < order.size(); ++k) {
      if (k) buf_.push_back(',');
      buf_ += table.columns[order[k]].name;
    }
    buf_.push_back('\n');
  }
  const RowLayout& crack(Bytes row) { return formatter_.crack(row); }
  RowFormatter& formatter() { return formatter_; }
  // Prints one row; decode(c, value) decodes column c (an index into table.columns) of it.
  template <class Decode>
  void row(Decode&& decode) {
    formatter_.row(buf_, decode);
    rowDone();
  }
  // Prints rows formatted elsewhere: `text` holds them one after the other, `ends` where each ends. They go out as if
  // printed one by one, so that what is written before an error does not depend on which thread formatted them.
  void rows(const std::string& text, const std::vector<size_t>& ends) {
    size_t at = 0;
    for (size_t end : ends) {
      buf_.append(text, at, end - at);
      at = end;
      rowDone();
    }
  }
  uint64_t finish() {
    std::fwrite(buf_.data(), 1, buf_.size(), out_);
    buf_.clear();
    return rows_;
  }

 private:
  void rowDone() {
    ++rows_;
    if (buf_.size() >= (1u << 16)) {
      std::fwrite(buf_.data(), 1, buf_.size(), out_);
      buf_.clear();
    }
  }

  RowFormatter formatter_;
  std::FILE* out_;
  std::string buf_;
  uint64_t rows_ = 0;
};

// Rows as the reading thread hands them to the printing one: each row's bytes and the bytes of its long values (or
// the error met reading one), side by side. Where the fields are is found again by the printing (cheaper than
// handing it over: fresh memory costs a page fault per page, and a batch is touched afresh by each of its users).
struct RowBatch {
  struct Row {
    size_t at = 0;
    size_t length = 0;
  };
  struct LongValue {
    size_t at = 0;
    size_t length = 0;
    std::exception_ptr error;  // thrown when the printing reaches the field, as reading it in place would have
  };
  std::vector<Row> rows;
  std::vector<LongValue> longValues;  // the table's long-value columns for each row
  std::vector<uint8_t> bytes;
  // Set when the reading thread has also formatted the rows: their lines, where each ends, and what stopped the
  // formatting (the rows before it are in `text`).
  bool formatted = false;
  std::string text;
  std::vector<size_t> lineEnds;
  std::exception_ptr formatError;
};

// Past this a batch is handed over; a row with a larger long value makes a larger batch, given back afterwards.
constexpr size_t kBatchBytes = size_t{128} << 10;
constexpr size_t kBatchRows = 1024;

// Calls emit(decode) for each row of the batch in turn, where decode(c, value) decodes column c of that row (an index
// into table.columns). `formatter` cracks the rows; the thread calling this must be the only one using it.
template <class Emit>
void forEachRow(RowFormatter& formatter, const PageReader& pages, const TableDef& table, const RowBatch& batch,
                size_t longColumns, const std::vector<size_t>& longSlot, Emit&& emit) {
  const uint8_t* base = batch.bytes.data();
  for (size_t r = 0; r < batch.rows.size(); ++r) {
    const Bytes row(base + batch.rows[r].at, batch.rows[r].length);
    const RowLayout& fields = formatter.crack(row);
    const RowBatch::LongValue* longValues = batch.longValues.data() + r * longColumns;
    emit([&](size_t c, Value& v) {
      Bytes longValue;
      if (longSlot[c] != SIZE_MAX) {
        const RowBatch::LongValue& value = longValues[longSlot[c]];
        if (value.error) std::rethrow_exception(value.error);
        longValue = Bytes(base + value.at, value.length);
      }
      decodeValue(pages, table.columns[c], row, fields.fields[c], longValue, v);
    });
  }
}

// The rows read on a thread of their own while the caller prints the ones read before. Formatting the rows takes
// longer than reading them, so when the caller has fallen behind (a batch read before is still waiting for it), the
// reading thread formats the batch it has just read as well, and the caller only copies its lines out: the two cores
// share the formatting as well as the reading.
void printReadAhead(PageReader& pages, const TableDef& table, TableScan& scan, const std::vector<size_t>& order,
                    CsvPrinter& printer, const CsvStyle& style) {
  // The long-value columns (indexes into table.columns) in the order they are printed, so that of two damaged values
  // the reading stops at the one the printing meets first.
  std::vector<size_t> longColumns;
  std::vector<size_t> longSlot(table.columns.size(), SIZE_MAX);
  for (size_t k : order) {
    if (!isLongValueType(table.columns[k].type)) continue;
    longSlot[k] = longColumns.size();
    longColumns.push_back(k);
  }
  RowRecord rec;
  RowLayout layout;
  auto fill = [&](RowBatch& batch) {
    if (batch.bytes.capacity() > 4 * kBatchBytes) std::vector<uint8_t>().swap(batch.bytes);  // after a huge value
    if (batch.bytes.capacity() == 0) {
      // Grown once to their size, not by doubling: each step of that copies and faults in fresh memory.
      batch.bytes.reserve(kBatchBytes + 4096);
      batch.rows.reserve(kBatchRows);
      batch.longValues.reserve(kBatchRows * longColumns.size());
    }
    batch.rows.clear();
    batch.longValues.clear();
    batch.bytes.clear();
    while (batch.rows.size() < kBatchRows && batch.bytes.size() < kBatchBytes) {
      if (!scan.next(rec)) return false;
      crackRow(pages.format(), table, rec.bytes, layout);
      const size_t at = batch.bytes.size();
      batch.bytes.insert(batch.bytes.end(), rec.bytes.begin(), rec.bytes.end());
      bool failed = false;
      for (size_t k : longColumns) {
        RowBatch::LongValue& value = batch.longValues.emplace_back();
        const FieldLocation& field = layout.fields[k];
        if (!field.present || failed) continue;
        value.at = batch.bytes.size();
        try {
          readLongValue(pages, parseLongValueRef(slice(rec.bytes, field.offset, field.length, "a column value")),
                        batch.bytes);
        } catch (...) {
          value.error = std::current_exception();
          failed = true;  // the printing stops at this row: nothing after it is read
        }
        value.length = batch.bytes.size() - value.at;
      }
      batch.rows.push_back({at, rec.bytes.size()});
      if (failed) return false;
    }
    return true;
  };
  // Batches handed over by the reading thread and taken by the caller: while the caller has not taken every batch
  // handed over before, it is behind.
  std::atomic<uint64_t> taken{0};
  uint64_t handedOver = 0;
  RowFormatter readerFormatter(pages, table, order, style);
  auto read = [&](RowBatch& batch) {
    batch.formatted = false;
    batch.formatError = nullptr;
    const bool more = fill(batch);  // a throw leaves the batch unformatted, for the caller
    const bool behind = taken.load(std::memory_order_acquire) < handedOver;
    if (style.formatAhead == FormatAhead::Always || (style.formatAhead == FormatAhead::WhenBehind && behind)) {
      if (batch.text.capacity() > 4 * kBatchBytes) std::string().swap(batch.text);
      batch.text.clear();
      batch.lineEnds.clear();
      batch.formatted = true;
      try {
        forEachRow(readerFormatter, pages, table, batch, longColumns.size(), longSlot, [&](const auto& decode) {
          readerFormatter.row(batch.text, decode);
          batch.lineEnds.push_back(batch.text.size());
        });
      } catch (...) {
        batch.formatError = std::current_exception();
      }
    }
    ++handedOver;
    return more;
  };
  ReadAhead<RowBatch> reader(read);
  while (RowBatch* batch = reader.next()) {
    taken.fetch_add(1, std::memory_order_release);
    if (batch->formatted) {
      printer.rows(batch->text, batch->lineEnds);
      if (batch->formatError) std::rethrow_exception(batch->formatError);
    } else {
      forEachRow(printer.formatter(), pages, table, *batch, longColumns.size(), longSlot,
                 [&](const auto& decode) { printer.row(decode); });
    }
  }
}

}  // namespace

uint64_t exportCsv(Database& db, const TableDef& table, std::FILE* out, const CsvStyle& style) {
  return db.withFileName([&]() -> uint64_t {
    const std::vector<size_t> order = columnsInNumberOrder(table);
    PageReader& pages = db.pages();
    CsvPrinter printer(pages, table, order, out, style);
    TableScan scan(pages, table, style.rowOrder);
    if (scan.pages().size() >= style.readAheadPages) {
      printReadAhead(pages, table, scan, order, printer, style);
    } else {
      RowRecord rec;
      while (scan.next(rec)) {
        const RowLayout& layout = printer.crack(rec.bytes);
        printer.row([&](size_t c, Value& v) { decodeValue(pages, table.columns[c], rec.bytes, layout.fields[c], v); });
      }
    }
    return printer.finish();
  });
}

}  // namespace jet
