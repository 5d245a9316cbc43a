// Copying a table's rows into the destination: live rows only, packed into full pages in the order they are read,
// overflow rows brought home, long values rewritten onto fresh long-value pages, table Ids renumbered.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/pager/page_writer.h"
#include "jet/compact/plan.h"
#include "jet/compact/verify.h"
#include "jet/pager/page_reader.h"

namespace jet {

// Where each row of a table went: old home slot -> new slot. Rows are copied in the order of their old slots and
// fill the new pages in that same order, row 0 upwards, so both sides ascend. Index entries look rows up in key
// order, that is all over the table, so a lookup must touch as little memory as it can: it reads the entry of the
// row's old page (its first row's ordinal and new page), the old slot numbers of that page's rows, which lie side by
// side (one byte a row) and are found from the slot itself, and the entry of that new page (its number and first
// ordinal); when the page's rows ran over onto further new pages, the entries of the few that follow. About 1 byte a
// row, 12 bytes an old page and 8 bytes a new one.
class RowPointerMap {
 public:
  // Appends a row. Old pointers must ascend (Corrupt otherwise: a table that lists a page twice), and each new row
  // must be the next row of the current new page or row 0 of a new one (InvalidArgument otherwise).
  void add(RowPointer from, RowPointer to);
  // The new pointer and the row's ordinal (0-based position in copy order), or nothing when the row was not copied.
  struct Found {
    RowPointer to;
    uint64_t ordinal = 0;
  };
  std::optional<Found> find(RowPointer from) const;
  // Lookups come in the order of an index's keys, so each one waits for memory. A caller that knows its next lookups
  // asks for their memory ahead, in two steps: the old page's entry some lookups before, then (once that entry is
  // likely in the cache) the page's slots and its first row's new page a few lookups before. Both only hint; neither
  // changes anything.
  void prefetchPage(RowPointer from) const {
    if (from.page >= firstOldPage_ && from.page - firstOldPage_ < oldPages_.size()) {
      __builtin_prefetch(&oldPages_[from.page - firstOldPage_]);
    }
  }
  void prefetchSlots(RowPointer from) const {
    if (from.page >= firstOldPage_ && from.page - firstOldPage_ < oldPages_.size()) {
      const OldPage& old = oldPages_[from.page - firstOldPage_];
      if (old.first + size_t{from.row} < slots_.size()) __builtin_prefetch(slots_.data() + old.first + from.row);
      if (old.newPage < newPages_.size()) __builtin_prefetch(&newPages_[old.newPage]);
    }
  }
  uint64_t size() const { return slots_.size(); }
  // Takes room at once for about `rows` rows on old pages that span `oldPageSpan` page numbers and fill about
  // `newPages` new ones: growing a large table's vectors an eighth at a time copied each of them about eight times
  // over, into memory the system had to hand out anew every time. Only a hint: more may be added.
  void reserve(size_t rows, size_t oldPageSpan, size_t newPages) {
    slots_.reserve(rows);
    oldPages_.reserve(oldPageSpan);
    newPages_.reserve(newPages);
  }

 private:
  struct OldPage {
    uint32_t first;        // ordinal of the page's first row (= the next page's when it has none)
    uint32_t newPage;      // the new page of that row, as an index into newPages_
    uint32_t sameNewPage;  // how many of the page's rows went to that new page (the rest to the pages after it)
  };
  struct NewPage {
    uint32_t page;
    uint32_t start;  // ordinal of its row 0
  };
  std::vector<uint8_t> slots_;     // old slot of each row, in copy order
  std::vector<NewPage> newPages_;  // new pages in order
  std::vector<OldPage> oldPages_;  // old pages firstOldPage_, firstOldPage_ + 1, ... up to the last one added
  uint32_t firstOldPage_ = 0;
  uint32_t lastFrom_ = 0;  // raw old pointer of the last row added
};

struct CopiedTable {
  RowPointerMap rows;
  std::vector<uint32_t> dropped;                      // raw old pointers of rows left out (sorted)
  std::vector<uint32_t> dataPages;                    // new data pages, in order
  std::vector<std::vector<uint32_t>> longValuePages;  // per entry of def.longValueMaps: the column's new pages
  uint64_t longValues = 0;                            // values moved to long-value pages
  // What the read-back compares with, so that it need not read the source again: the rows' digests by blocks, and
  // one digest over every row's full digest and new place, in copy order (see rowDigest in verify.h).
  RowBlocks rowBlocks;
  uint64_t rowsDigest = 0;
};

// Copies the rows of one table. Pages are numbered by `allocator` as they are started and written as they fill.
// Rows whose Id columns name no live table are left out (their permissions and navigation entries would otherwise
// attach themselves to whatever table gets that number), except in the catalog itself, where that is damage (3049).
// `onDataPage` (when given) is told of each data page as it is handed to `writer`, in order.
CopiedTable copyTableRows(PageReader& source, const CompactPlan& plan, const TablePlan& table, PageAllocator& allocator,
                          PageWriter& writer, const std::function<void(uint32_t page)>& onDataPage = {});

}  // namespace jet
