#include "jet/read/table_scan.h"

#include <string>

#include "jet/format/data_page.h"

namespace jet {

namespace {
// Jet follows one overflow hop; a few more are tolerated, a loop is not.
constexpr int kMaxOverflowHops = 8;
}  // namespace

TableScan::TableScan(PageReader& pages, const TableDef& table, ScanOrder order)
    : reader_(pages), table_(table), order_(order) {
  UsageMap map = readUsageMap(pages, table.ownedPages.at);
  pageList_ = mappedPages(pages, map);
}

bool TableScan::loadNextPage() {
  const Format& f = reader_.format();
  while (nextPage_ < pageList_.size()) {
    uint32_t n = pageList_[nextPage_++];
    PageHandle p = reader_.page(n);
    Bytes b(*p);
    if (b[0] != static_cast<uint8_t>(PageType::Data) || dataPageOwner(f, b) != table_.page) {
      foreign_.push_back(n);
      continue;
    }
    current_ = std::move(p);
    currentPage_ = n;
    rowCount_ = dataPageRowCount(f, b);
    nextRow_ = 0;
    return true;
  }
  current_.reset();
  return false;
}

bool TableScan::next(RowRecord& out) {
  const Format& f = reader_.format();
  for (;;) {
    if (!current_ || nextRow_ >= rowCount_) {
      if (!loadNextPage()) return false;
      continue;
    }
    uint16_t r = nextRow_++;
    Bytes b(*current_);
    RowSlot slot = dataPageRow(f, b, r);
    out.home = {currentPage_, r};
    if (order_ == ScanOrder::WhereStored) {
      // Every slot without the overflow flag is a row, where it sits: a moved row's bytes are flagged deleted there.
      if (slot.overflow()) continue;
      if (slot.deleted()) {
        slot.raw = static_cast<uint16_t>(slot.raw & ~kRowDeletedFlag);
        if (slot.start < f.rowOffsetTable() + 2u * rowCount_ || slot.start > slot.end || slot.end > b.size()) {
          corrupt("an overflow row on page " + std::to_string(currentPage_) + " has impossible bounds");
        }
        ++overflowRows_;
      }
      out.stored = out.home;
      out.page = current_;
      out.bytes = dataPageRowBytes(b, slot);
      return true;
    }
    if (slot.deleted()) continue;
    if (!slot.overflow()) {
      out.stored = out.home;
      out.page = current_;
      out.bytes = dataPageRowBytes(b, slot);
      return true;
    }
    PageHandle page;
    out.bytes = followOverflow(dataPageRowBytes(b, slot), out.home, page, out.stored);
    ++overflowRows_;
    out.page = std::move(page);
    return true;
  }
}

Bytes TableScan::followOverflow(Bytes bytes, RowLocation home, PageHandle& page, RowLocation& stored) {
  // Overflow: the slot holds a (row, page) pointer to where the row now lives.
  const Format& f = reader_.format();
  RowLocation at = home;
  for (int hop = 0;; ++hop) {
    if (bytes.size() < 4) corrupt("an overflow row pointer on page " + std::to_string(at.page) + " is too short");
    RowPointer next = RowPointer::fromRaw(le32(bytes.data()));
    if (hop >= kMaxOverflowHops) corrupt("overflow rows of page " + std::to_string(home.page) + " form a loop");
    if (next.page == 0 || next.page >= reader_.pageCount()) {
      corrupt("an overflow row pointer on page " + std::to_string(at.page) + " leads outside the file");
    }
    page = reader_.page(next.page);
    Bytes pb(*page);
    if (pb[0] != static_cast<uint8_t>(PageType::Data)) {
      corrupt("an overflow row pointer on page " + std::to_string(at.page) + " leads to a page that is not data");
    }
    if (next.row >= dataPageRowCount(f, pb)) {
      corrupt("an overflow row pointer on page " + std::to_string(at.page) + " names a missing row");
    }
    // The target is flagged deleted so that scans skip it where it is stored; read it through the pointer.
    RowSlot live = dataPageRow(f, pb, next.row);
    live.raw = static_cast<uint16_t>(live.raw & ~kRowDeletedFlag);
    if (live.start < f.rowOffsetTable() + 2u * dataPageRowCount(f, pb) || live.start > live.end ||
        live.end > pb.size()) {
      corrupt("an overflow row on page " + std::to_string(next.page) + " has impossible bounds");
    }
    bytes = pb.subspan(live.start, live.length());
    at = {next.page, next.row};
    if (!live.overflow()) break;
  }
  stored = at;
  return bytes;
}

uint64_t countRows(PageReader& pages, const TableDef& table) {
  TableScan scan(pages, table);
  RowRecord r;
  uint64_t n = 0;
  while (scan.next(r)) ++n;
  return n;
}

}  // namespace jet
