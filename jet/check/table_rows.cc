// The rows of one table: every data page its map lists, every live row on them, and the rows moved to other pages.
#include "jet/check/table_checker.h"

#include <algorithm>

#include "jet/format/lean_growth.h"
#include "jet/format/row_layout.h"

namespace jet {

void TableChecker::prepareRows(LiveRows& rows, uint64_t mostRows) {
  const TableDef& def = def_;
  // Column position of each key column of each index.
  std::vector<std::vector<int>>& keyColumns = keyColumns_;
  keyColumns.assign(def.realIndexes.size(), {});
  for (size_t k = 0; k < def.realIndexes.size(); ++k) {
    for (const RealIndexDef::KeyColumn& kc : def.realIndexes[k].columns) {
      int at = -1;
      for (size_t c = 0; c < def.columns.size(); ++c) {
        if (def.columns[c].number == kc.column) at = static_cast<int>(c);
      }
      if (at < 0) {
        add(Severity::Error, def.page, -1,
            "index " + std::to_string(k) + " names column " + std::to_string(kc.column) + ", which does not exist");
      }
      keyColumns[k].push_back(at);
    }
  }
  rows.keys.assign(def.realIndexes.size(), {});
  // The stored count is a hint only: it may be stale, or damaged (hence the bound).
  const auto expected = static_cast<size_t>(std::min<uint64_t>(def.rowCount, mostRows));
  rows.home.reserve(expected);
  for (TwoBitsPerRow& k : rows.keys) k.reserve(expected);
}

void TableChecker::scanRows(const std::vector<uint32_t>& owned, const PagesByColumn& longValuePages, LiveRows& rows) {
  const TableDef& def = def_;
  const std::vector<std::vector<int>>& keyColumns = keyColumns_;
  RowLayout layout;
  std::vector<uint8_t> keyBits;
  for (uint32_t page : owned) {
    PageHandle handle = pages_.page(page);
    Bytes b(*handle);
    if (b[0] != static_cast<uint8_t>(PageType::Data)) {
      add(Severity::Error, page, -1, "the table's map lists " + pageTypeName(b[0]) + ", not a data page");
      mapListsOtherPages_ = true;
      continue;
    }
    uint32_t owner = dataPageOwner(f_, b);
    if (owner != def.page) {
      add(Severity::Error, page, -1,
          "the table's map lists a data page of " +
              (owner == kLongValueOwner ? std::string("long values") : "table " + claims_.tableName(owner)));
      mapListsOtherPages_ = true;
      continue;
    }
    claim(page, Use::Data, def.page);
    uint16_t count = 0;
    try {
      count = dataPageRowCount(f_, b);
    } catch (const Error& e) {
      onlyCorruption(e);
      add(Severity::Error, page, -1, e.what());
      continue;
    }
    for (uint16_t r = 0; r < count; ++r) {
      // Liveness comes from the slot's flags alone, so that a live row with damaged bounds still counts as a row
      // (and its index entries are not reported as leading nowhere).
      if (le16(b.data() + f_.rowOffsetTable() + 2u * r) & kRowDeletedFlag) continue;
      bool unreadable = false;
      keyBits.assign(def.realIndexes.size(), 0);
      if (options_.observer != nullptr) options_.observer->beginRow();
      try {
        RowSlot slot = dataPageRow(f_, b, r);
        PageHandle hold;
        Bytes row = slot.overflow() ? followOverflow(b, slot, hold) : dataPageRowBytes(b, slot);
        crackRow(f_, def, row, layout);
        for (size_t c = 0; c < def.columns.size(); ++c) {
          const ColumnDef& col = def.columns[c];
          if (!isLongValueType(col.type) || !layout.fields[c].present) continue;
          auto lv = longValuePages.find(col.number);
          checkLongValue(c, col, row.subspan(layout.fields[c].offset, layout.fields[c].length),
                         lv == longValuePages.end() ? nullptr : &lv->second);
        }
        if (options_.observer != nullptr) options_.observer->row({page, static_cast<uint8_t>(r)}, row, layout);
        for (size_t k = 0; k < keyColumns.size(); ++k) {
          size_t nulls = 0;
          for (int c : keyColumns[k]) {
            bool isNull = c < 0 || (def.columns[static_cast<size_t>(c)].type != ColumnType::Boolean &&
                                    !layout.fields[static_cast<size_t>(c)].present);
            if (isNull) ++nulls;
          }
          if (nulls > 0) keyBits[k] |= kKeyAnyNull;
          if (nulls == keyColumns[k].size()) keyBits[k] |= kKeyAllNull;
        }
      } catch (const Error& e) {
        onlyCorruption(e);
        add(Severity::Error, page, r, e.what());
        unreadable = true;
      }
      if (unreadable) rows.unreadable.push_back(rows.home.size());
      rows.home.add(page, static_cast<uint8_t>(r));
      for (size_t k = 0; k < keyBits.size(); ++k) rows.keys[k].push_back(keyBits[k]);
    }
  }
}

// The bytes of a row moved elsewhere: its home slot holds a (row, page) pointer to them.
Bytes TableChecker::followOverflow(Bytes home, const RowSlot& slot, PageHandle& hold) {
  Bytes at = dataPageRowBytes(home, slot);
  for (int hop = 0; hop < 8; ++hop) {
    if (at.size() < 4) corrupt("an overflow pointer is too short");
    RowPointer next = RowPointer::fromRaw(le32(at.data()));
    if (next.page == 0 || next.page >= pages_.pageCount()) {
      corrupt("the overflow pointer leads to page " + std::to_string(next.page) + ", outside the file");
    }
    hold = pages_.page(next.page);
    Bytes p(*hold);
    if (p[0] != static_cast<uint8_t>(PageType::Data)) corrupt("the overflow pointer leads to " + pageTypeName(p[0]));
    if (next.row >= dataPageRowCount(f_, p)) corrupt("the overflow pointer names a row its page lacks");
    // The moved row is marked deleted so that scans skip it where it lies; its bounds still have to hold.
    RowSlot moved = dataPageRow(f_, p, next.row);
    uint16_t raw = moved.raw;
    moved.raw = static_cast<uint16_t>(moved.raw & ~kRowDeletedFlag);
    if (moved.start < f_.rowOffsetTable() + 2u * dataPageRowCount(f_, p) || moved.start > moved.end) {
      corrupt("the row the overflow pointer leads to has impossible bounds");
    }
    at = dataPageRowBytes(p, moved);
    if ((raw & kRowOverflowFlag) == 0) return at;
  }
  corrupt("overflow pointers form a loop");
}

}  // namespace jet
