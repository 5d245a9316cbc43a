// Copying a table's rows into the destination: live rows only, packed into full pages in the order they are read,
// overflow rows brought home, long values rewritten onto fresh long-value pages, table Ids renumbered.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "jet/bytes.h"
#include "jet/compact_output.h"
#include "jet/compact_plan.h"
#include "jet/page_reader.h"

namespace jet {

// Where each row of a table went: old home slot -> new slot. Rows are copied in the order of their old slots, so both
// sides ascend and a sorted array answers lookups (8 bytes a row, no hash table).
class RowPointerMap {
 public:
  // Appends a row; old pointers must ascend. Throws Corrupt otherwise (a table that lists a page twice).
  void add(RowPointer from, RowPointer to);
  // The new pointer and the row's ordinal (0-based position in copy order), or nothing when the row was not copied.
  struct Found {
    RowPointer to;
    uint64_t ordinal = 0;
  };
  std::optional<Found> find(RowPointer from) const;
  uint64_t size() const { return pairs_.size(); }

 private:
  std::vector<std::pair<uint32_t, uint32_t>> pairs_;  // raw pointers
};

struct CopiedTable {
  RowPointerMap rows;
  std::vector<uint32_t> dropped;            // raw old pointers of rows left out (sorted)
  std::vector<uint32_t> dataPages;          // new data pages, in order
  std::vector<std::vector<uint32_t>> longValuePages;  // per entry of def.longValueMaps: the column's new pages
  uint64_t longValues = 0;                  // values moved to long-value pages
};


// Copies the rows of one table. Pages are numbered by `allocator` as they are started and written as they fill.
// Rows whose Id columns name no live table are left out (their permissions and navigation entries would otherwise
// attach themselves to whatever table gets that number), except in the catalog itself, where that is damage (3049).
CopiedTable copyTableRows(PageReader& source, const CompactPlan& plan, const TablePlan& table,
                          PageAllocator& allocator, PageWriter& writer);

}  // namespace jet
