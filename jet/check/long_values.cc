// The long values of one table: the maps of each long-value column, and every value stored outside its row, row by
// row along its chain.
#include "jet/check/table_checker.h"

#include <algorithm>

#include "jet/format/lean_growth.h"
#include "jet/format/long_value.h"

namespace jet {

// The pages are looked at after the table's rows: most of them are read anyway by the values that live there, and a
// page read twice at these sizes would no longer be in the cache the second time.
void TableChecker::checkLongValueMaps(PagesByColumn& pagesByColumn, ListedLongValuePages& listed) {
  for (const LongValueMaps& m : def_.longValueMaps) {
    std::vector<uint32_t> pages;
    if (m.owned.at.isNull()) continue;
    std::string what = "map of the long-value pages of column " + std::to_string(m.column);
    if (!maps_.read(m.owned, name_, def_.page, what, pages)) continue;
    for (uint32_t p : pages) listed.emplace_back(p, m.column);
    std::vector<uint32_t> withSpace;
    std::string freeWhat = "map of the long-value pages with free space of column " + std::to_string(m.column);
    if (!m.free.at.isNull() && maps_.read(m.free, name_, def_.page, freeWhat, withSpace)) {
      for (uint32_t p : withSpace) {
        if (!std::binary_search(pages.begin(), pages.end(), p)) {
          add(Severity::Error, p, -1, "the " + freeWhat + " lists a page the column does not own");
        }
      }
    }
    pagesByColumn[m.column] = std::move(pages);
  }
}

// Each page a long-value map lists must be a long-value page. A value read during the scan has already shown that of
// its page (longValueRow); the others are read now.
void TableChecker::checkListedLongValuePages(const ListedLongValuePages& listed) {
  for (const auto& [p, column] : listed) {
    if (!claims_.anyLongValueRowUsed(p)) {
      PageHandle h = pages_.page(p);
      Bytes b(*h);
      if (b[0] != static_cast<uint8_t>(PageType::Data) || dataPageOwner(f_, b) != kLongValueOwner) {
        add(Severity::Error, p, -1,
            "the map of the long-value pages of column " + std::to_string(column) + " lists " + pageTypeName(b[0]) +
                " that holds no long values");
        continue;
      }
    }
    claim(p, Use::LongValue, 0);
  }
}

// One row of a long value: on an LVAL page, present, and not used by any other value.
Bytes TableChecker::longValueRow(RowPointer at, PageHandle& hold, uint16_t column,
                                 const std::vector<uint32_t>* columnPages) {
  // Built only for a message: a compaction's read-back passes here for every row of every long value.
  auto where = [&at] { return "long-value row " + std::to_string(at.row) + " of page " + std::to_string(at.page); };
  if (at.page == 0 || at.page >= pages_.pageCount()) corrupt("the " + where() + " lies outside the file");
  hold = pages_.page(at.page);
  Bytes p(*hold);
  if (p[0] != static_cast<uint8_t>(PageType::Data)) corrupt("the " + where() + " is on " + pageTypeName(p[0]));
  if (dataPageOwner(f_, p) != kLongValueOwner)
    corrupt("the " + where() + " is on a page that is not a long-value page");
  const uint16_t rowsOnPage = dataPageRowCount(f_, p);
  if (at.row >= rowsOnPage) corrupt("the " + where() + " does not exist");
  RowSlot slot = dataPageRow(f_, p, at.row);
  if (slot.deleted()) corrupt("the " + where() + " is deleted");
  if (!claims_.useLongValueRow(at, rowsOnPage)) corrupt("the " + where() + " is used by another value too");
  if (columnPages != nullptr && !std::binary_search(columnPages->begin(), columnPages->end(), at.page)) {
    corrupt("the " + where() + " is on a page the column's long-value map does not list");
  }
  // A table checked while written has no maps yet: the pages are compared with them later. The rows of a value,
  // and the values of a column, mostly follow each other on one page, so a page is noted when the column's last
  // one changes.
  if (streamed_) {
    auto last = std::find_if(lastValuePage_.begin(), lastValuePage_.end(),
                             [column](const std::pair<uint16_t, uint32_t>& c) { return c.first == column; });
    if (last == lastValuePage_.end()) last = lastValuePage_.insert(lastValuePage_.end(), {column, 0});
    if (last->second != at.page) {
      last->second = at.page;
      makeRoomForOne(valuePages_);
      valuePages_.emplace_back(column, at.page);
    }
  }
  claim(at.page, Use::LongValue, 0);
  return dataPageRowBytes(p, slot);
}

void TableChecker::checkLongValue(size_t columnIndex, const ColumnDef& column, Bytes field,
                                  const std::vector<uint32_t>* columnPages) {
  CheckObserver* observer = options_.observer;
  LongValueRef ref = parseLongValueRef(field);
  ++log_.report().longValues;
  switch (ref.kind) {
    case LongValueRef::Kind::Inline:
      if (field.size() - kLongValueDefinitionSize < ref.length) {
        corrupt("the inline value of column " + column.name + " is shorter than its stated length");
      }
      return;
    case LongValueRef::Kind::SingleRow: {
      PageHandle hold;
      Bytes row = longValueRow(ref.first, hold, column.number, columnPages);
      if (row.size() < ref.length) {
        corrupt("the value of column " + column.name + " holds " + std::to_string(row.size()) + " of its " +
                std::to_string(ref.length) + " bytes");
      }
      if (observer != nullptr) observer->longValuePart(columnIndex, row.first(ref.length));
      return;
    }
    case LongValueRef::Kind::Chain: {
      uint64_t total = 0;
      RowPointer at = ref.first;
      if (at.isNull()) corrupt("the value of column " + column.name + " starts nowhere");
      // Every row may appear once (a second visit is reported as shared), so the chain cannot loop for long.
      while (!at.isNull()) {
        PageHandle hold;
        Bytes row = longValueRow(at, hold, column.number, columnPages);
        if (row.size() < 4) corrupt("a row of the value of column " + column.name + " is too short for its link");
        if (observer != nullptr) {
          const uint64_t part = std::min<uint64_t>(row.size() - 4, ref.length - std::min<uint64_t>(total, ref.length));
          observer->longValuePart(columnIndex, row.subspan(4, static_cast<size_t>(part)));
        }
        total += row.size() - 4;
        at = RowPointer::fromRaw(le32(row.data()));
      }
      if (total < ref.length) {
        corrupt("the value of column " + column.name + " ends after " + std::to_string(total) + " of its " +
                std::to_string(ref.length) + " bytes");
      }
      return;
    }
  }
}

}  // namespace jet
