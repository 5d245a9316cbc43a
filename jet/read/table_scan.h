// Walks the rows of a table the way readers do: the data pages its owned-pages usage map lists, in page order, each
// page's rows in slot order. Deleted rows are skipped; overflow rows are followed from their home slot (and not
// reported again where they are stored).
//
// mdb-export walks the same slots but skips only slots with the overflow flag: a row that Access moved to another page
// after an update is reported where its bytes now sit (flagged deleted there), and so is the moved part of a row
// whose home slot was deleted later, which Jet no longer counts. ScanOrder::WhereStored reproduces that walk, so that
// the two outputs compare line for line; such a row's `home` is then where it is stored.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/pager/page_reader.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"

namespace jet {

struct RowLocation {
  uint32_t page = 0;
  uint16_t row = 0;
  friend bool operator==(const RowLocation&, const RowLocation&) = default;
};

struct RowRecord {
  RowLocation home;    // the slot indexes point at
  RowLocation stored;  // where the bytes are (differs from home for overflow rows)
  PageHandle page;     // keeps `bytes` alive
  Bytes bytes;
};

enum class ScanOrder : uint8_t { Home, WhereStored };

class TableScan {
 public:
  // Reads the table's owned-pages map; throws 3049 when it is damaged.
  TableScan(PageReader& pages, const TableDef& table, ScanOrder order = ScanOrder::Home);

  // Next live row; false at the end. Throws 3049 on a damaged page or overflow chain.
  bool next(RowRecord& out);

  // Data pages of the map that did not belong to the table (wrong type or owner); they are skipped.
  const std::vector<uint32_t>& foreignPages() const { return foreign_; }
  const std::vector<uint32_t>& pages() const { return pageList_; }
  // Rows read through an overflow pointer so far.
  uint64_t overflowRows() const { return overflowRows_; }

 private:
  bool loadNextPage();
  // Follows the overflow pointer in `bytes` (the home slot at `home`) to the row's bytes; `page` keeps them alive.
  Bytes followOverflow(Bytes bytes, RowLocation home, PageHandle& page, RowLocation& stored);

  PageReader& reader_;
  const TableDef& table_;
  std::vector<uint32_t> pageList_;
  std::vector<uint32_t> foreign_;
  size_t nextPage_ = 0;
  PageHandle current_;
  uint32_t currentPage_ = 0;
  uint16_t rowCount_ = 0;
  uint16_t nextRow_ = 0;
  uint64_t overflowRows_ = 0;
  ScanOrder order_ = ScanOrder::Home;
};

// Number of live rows (counted from the data, not the stored counter).
uint64_t countRows(PageReader& pages, const TableDef& table);

}  // namespace jet
