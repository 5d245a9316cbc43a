#include "jet/compact/rows.h"

#include "jet/format/lean_growth.h"

#include <algorithm>
#include <memory>

#include "jet/read/catalog.h"
#include "jet/compact/digest.h"
#include "jet/read/read_ahead.h"
#include "jet/compact/verify.h"
#include "jet/errors.h"
#include "jet/format/long_value.h"
#include "jet/format/long_value_builder.h"
#include "jet/format/row_layout.h"
#include "jet/read/table_scan.h"

namespace jet {

void RowPointerMap::add(RowPointer from, RowPointer to) {
  if (!slots_.empty() && lastFrom_ >= from.raw()) {
    corrupt("row " + std::to_string(from.row) + " of page " + std::to_string(from.page) +
            " is met out of order (is a page listed twice?)");
  }
  const uint64_t ordinal = slots_.size();
  if (ordinal >= 0xFFFFFFFFu) fail(ErrorCode::InvalidArgument, "a table cannot hold that many rows");
  if (newPages_.empty() || newPages_.back().page != to.page) {
    if (to.row != 0) fail(ErrorCode::InvalidArgument, "a new page's rows must be added from row 0");
    makeRoomForOne(newPages_);
    newPages_.push_back({to.page, static_cast<uint32_t>(ordinal)});
  } else if (to.row != ordinal - newPages_.back().start) {
    fail(ErrorCode::InvalidArgument, "a page's rows must be added in order");
  }
  if (oldPages_.empty()) firstOldPage_ = from.page;
  // Old pages ascend with the pointers: the pages skipped since the last row added hold none.
  const bool newOldPage = firstOldPage_ + oldPages_.size() <= from.page;
  while (firstOldPage_ + oldPages_.size() <= from.page) {
    makeRoomForOne(oldPages_);
    oldPages_.push_back({static_cast<uint32_t>(ordinal), static_cast<uint32_t>(newPages_.size() - 1), 0});
  }
  OldPage& old = oldPages_.back();
  if (newOldPage || (old.sameNewPage == ordinal - old.first && old.newPage == newPages_.size() - 1)) {
    ++old.sameNewPage;
  }
  slots_.push_back(from.row);
  lastFrom_ = from.raw();
}

std::optional<RowPointerMap::Found> RowPointerMap::find(RowPointer from) const {
  if (from.page < firstOldPage_ || from.page - firstOldPage_ >= oldPages_.size()) return std::nullopt;
  const size_t k = from.page - firstOldPage_;
  const OldPage& old = oldPages_[k];
  const uint32_t end = k + 1 < oldPages_.size() ? oldPages_[k + 1].first : static_cast<uint32_t>(slots_.size());
  if (old.first == end) return std::nullopt;
  // Slots ascend, so the row with slot s sits at most s - (first slot) places after the page's first row: exactly
  // there when no slot before it was left out, which is the common case.
  const uint8_t* slots = slots_.data();
  const uint8_t firstSlot = slots[old.first];
  if (from.row < firstSlot) return std::nullopt;
  const uint32_t hi = std::min<uint32_t>(end - 1, old.first + (from.row - firstSlot));
  uint32_t lo = hi;
  if (slots[hi] != from.row) {
    // The last of first..hi whose slot is not above the row's, without branches that depend on the slots: which way
    // a search of deleted rows goes cannot be predicted.
    lo = old.first;
    for (uint32_t n = hi - lo + 1; n > 1;) {
      const uint32_t half = n / 2;
      lo = slots[lo + half] <= from.row ? lo + half : lo;
      n -= half;
    }
  }
  if (slots[lo] != from.row) return std::nullopt;
  const uint32_t ordinal = lo;
  size_t page = old.newPage;
  if (ordinal - old.first >= old.sameNewPage) {
    // The page's rows ran over onto the next new pages: one of the few after its first row's (an old page holds at
    // most a page of rows).
    ++page;
    while (page + 1 < newPages_.size() && newPages_[page + 1].start <= ordinal) ++page;
  }
  const NewPage& to = newPages_[page];
  return Found{{to.page, static_cast<uint8_t>(ordinal - to.start)}, ordinal};
}

namespace {

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string rowName(const TablePlan& t, RowPointer at) {
  return "table " + t.name + ", row " + std::to_string(at.row) + " of page " + std::to_string(at.page);
}

// Rows as the reading half hands them over: their bytes (table Ids already renumbered) and the bytes of their long
// values stored outside them, side by side in one buffer, with the digest the read-back will compare each row with
// (the reading half has the time for it: the placing half is the slower one).
struct RowBatch {
  struct Row {
    RowPointer home;
    bool keep = true;  // false: the row names a table the copy leaves out
    size_t at = 0;
    size_t length = 0;
    size_t firstValue = 0;  // its long values: values[firstValue, endValue), in column order
    size_t endValue = 0;
    uint64_t digest = 0;  // rowDigest of the row as it will be written
  };
  struct Value {
    size_t column = 0;
    size_t at = 0;
    size_t length = 0;
  };
  static constexpr size_t kMaxRows = 1024;
  static constexpr size_t kBytes = size_t{256} << 10;

  std::vector<Row> rows;
  std::vector<RowLayout> layouts;  // one per row; kept with their buffers from batch to batch
  std::vector<Value> values;
  std::vector<uint8_t> bytes;
};

}  // namespace

CopiedTable copyTableRows(PageReader& source, const CompactPlan& plan, const TablePlan& table, PageAllocator& allocator,
                          PageWriter& writer, const std::function<void(uint32_t page)>& onDataPage) {
  const Format& f = source.format();
  const TableDef& def = table.def;
  CopiedTable out;

  // One writer per MEMO/OLE column, so that each column's pages can be listed in its own usage map.
  std::vector<std::unique_ptr<LongValueWriter>> lvWriters(def.columns.size());
  std::vector<size_t> lvColumns;
  for (size_t k = 0; k < def.columns.size(); ++k) {
    if (!isLongValueType(def.columns[k].type)) continue;
    lvColumns.push_back(k);
    lvWriters[k] = std::make_unique<LongValueWriter>(f, [&allocator] { return allocator.allocate(); });
  }
  auto flushLongValues = [&](bool all) {
    for (size_t k : lvColumns) {
      auto pages = all ? lvWriters[k]->takePages() : lvWriters[k]->takeFinishedPages();
      for (auto& [number, bytes] : pages) writer.write(number, std::move(bytes));
    }
  };

  DataPageBuilder builder(f, table.newPage);
  size_t dataWritten = 0;
  auto flushData = [&](std::vector<std::vector<uint8_t>> pages) {
    for (std::vector<uint8_t>& p : pages) {
      const uint32_t number = out.dataPages[dataWritten++];
      writer.write(number, std::move(p));
      if (onDataPage) onDataPage(number);
    }
  };

  TableScan scan(source, def);
  const std::vector<uint32_t>& oldPages = scan.pages();
  // Rows live only on the table's own pages, at most the format's most a page: that bounds a stored count a damaged
  // file may inflate.
  const auto expectedRows =
      static_cast<size_t>(std::min<uint64_t>(def.rowCount, uint64_t{oldPages.size()} * f.maxRowsPerPage()));
  size_t oldPageSpan = 0;
  if (!oldPages.empty()) {
    const auto [lowest, highest] = std::minmax_element(oldPages.begin(), oldPages.end());
    oldPageSpan = size_t{*highest} - *lowest + 1;
  }
  out.rows.reserve(expectedRows, oldPageSpan, oldPages.size());
  out.rowBlocks.reserve(expectedRows);

  // The reading half: on the reader's thread, which alone touches the source until the copy is done.
  RowRecord rec;
  auto readRow = [&](RowBatch& batch) {
    if (!scan.next(rec)) return false;
    RowBatch::Row r;
    r.home = RowPointer{rec.home.page, static_cast<uint8_t>(rec.home.row)};
    r.at = batch.bytes.size();
    r.length = rec.bytes.size();
    batch.bytes.insert(batch.bytes.end(), rec.bytes.begin(), rec.bytes.end());
    const size_t k = batch.rows.size();
    if (batch.layouts.size() == k) batch.layouts.emplace_back();
    RowLayout& layout = batch.layouts[k];
    uint8_t* row = batch.bytes.data() + r.at;
    crackRow(f, def, Bytes(row, r.length), layout);
    for (size_t c : table.idColumns) {
      const FieldLocation& field = layout.fields[c];
      if (!field.present || field.length != 4) continue;
      int32_t id = static_cast<int32_t>(le32(row + field.offset));
      if (!TableIdMap::looksLikeTableId(id)) continue;
      std::optional<uint32_t> to = plan.newId(table, static_cast<uint32_t>(id));
      if (to) {
        put32(row + field.offset, *to);
      } else if (def.page == kCatalogPage) {
        corrupt("the catalog entry in " + rowName(table, r.home) + " names table Id " + std::to_string(id) +
                ", which has no definition");
      } else {
        r.keep = false;
      }
    }
    r.firstValue = r.endValue = batch.values.size();
    if (r.keep) {
      for (size_t c : lvColumns) {
        const FieldLocation& field = layout.fields[c];
        if (!field.present || field.length < kLongValueDefinitionSize) continue;
        LongValueRef ref =
            parseLongValueRef(Bytes(batch.bytes.data() + r.at, r.length).subspan(field.offset, field.length));
        if (ref.kind == LongValueRef::Kind::Inline) continue;
        const size_t at = batch.bytes.size();
        readLongValue(source, ref, batch.bytes);  // may move the buffer: nothing above is used after this
        batch.values.push_back({c, at, batch.bytes.size() - at});
      }
      r.endValue = batch.values.size();
      // The digest of the row as the placing half will write it. The definitions of values stored outside it name
      // their new places, which the digest leaves out; an empty value is written inline, and its definition is known
      // now.
      row = batch.bytes.data() + r.at;
      Digest values;
      for (size_t v = r.firstValue; v < r.endValue; ++v) {
        const RowBatch::Value& value = batch.values[v];
        addLongValueDigest(values, value.column, Bytes(batch.bytes.data() + value.at, value.length));
        if (value.length == 0) {
          const std::vector<uint8_t> empty = encodeLongValueDefinition(LongValueKind::Inline, 0, {});
          std::copy_n(empty.begin(), kLongValueDefinitionSize, row + layout.fields[value.column].offset);
        }
      }
      r.digest = rowDigest(def, Bytes(row, r.length), layout, values.value());
    }
    batch.rows.push_back(r);
    return true;
  };
  auto read = [&](RowBatch& batch) {
    if (batch.bytes.capacity() == 0) batch.bytes.reserve(RowBatch::kBytes + (64 << 10));  // no doubling past the limit
    batch.rows.clear();
    batch.values.clear();
    batch.bytes.clear();
    while (batch.rows.size() < RowBatch::kMaxRows && batch.bytes.size() < RowBatch::kBytes) {
      if (!readRow(batch)) return false;
    }
    return true;
  };

  // The placing half, here.
  Digest places;
  ReadAhead<RowBatch> reader(read);
  while (RowBatch* batch = reader.next()) {
    for (size_t i = 0; i < batch->rows.size(); ++i) {
      const RowBatch::Row& scanned = batch->rows[i];
      if (!scanned.keep) {
        out.dropped.push_back(scanned.home.raw());
        continue;
      }
      const RowLayout& layout = batch->layouts[i];
      std::span<uint8_t> row(batch->bytes.data() + scanned.at, scanned.length);
      for (size_t v = scanned.firstValue; v < scanned.endValue; ++v) {
        const RowBatch::Value& value = batch->values[v];
        const Bytes bytes(batch->bytes.data() + value.at, value.length);
        std::vector<uint8_t> definition = lvWriters[value.column]->add(bytes, 0);
        std::copy_n(definition.begin(), kLongValueDefinitionSize, row.data() + layout.fields[value.column].offset);
        ++out.longValues;
      }

      RowPlacement at = builder.add(row);
      while (out.dataPages.size() <= at.pageIndex) out.dataPages.push_back(allocator.allocate());
      const RowPointer to{out.dataPages[at.pageIndex], at.row};
      out.rows.add(scanned.home, to);
      out.rowBlocks.add(scanned.digest);
      places.addNumber(scanned.digest);
      places.addNumber(to.raw());
      flushData(builder.takeFinishedPages());
      flushLongValues(false);
    }
  }
  flushData(builder.takePages());
  flushLongValues(true);

  for (const LongValueMaps& m : def.longValueMaps) {
    std::vector<uint32_t> pages;
    for (size_t k : lvColumns) {
      if (def.columns[k].number == m.column) pages = lvWriters[k]->pageNumbers();
    }
    out.longValuePages.push_back(std::move(pages));
  }
  std::sort(out.dropped.begin(), out.dropped.end());
  out.rowsDigest = places.value();
  return out;
}

}  // namespace jet
