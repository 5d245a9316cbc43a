// Rebuilding one index of a table in the destination from the source's own key bytes.
//
// Keys depend on the collation tables, which are not public, so they are never recomputed: each leaf entry of the
// old tree is read in key order, its row pointer replaced by the row's new place, and the entries are laid out afresh
// as full leaves plus node levels. Because rows keep their relative order, entries stay in order and can be streamed.
// Indexes over columns holding table Ids are the exception: those integer keys are re-encoded and re-sorted (such
// tables are small system tables).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/compact_output.h"
#include "jet/compact_plan.h"
#include "jet/compact_rows.h"
#include "jet/index_page.h"
#include "jet/page_reader.h"

namespace jet {

// Lays out an index from entries given in strictly ascending order, writing leaves as they fill. Node levels are built
// once the leaves are done from one entry per leaf; the root is the last page written.
class IndexTreeWriter {
 public:
  IndexTreeWriter(const Format& format, uint32_t owner, PageAllocator& allocator, PageWriter& writer);
  // Throws InvalidArgument when the entry is not greater than the one before or too large for a page.
  void add(IndexEntry entry);
  struct Result {
    uint32_t rootPage = 0;
    std::vector<uint32_t> pages;  // every page of the tree
    uint64_t entries = 0;
    uint64_t distinctKeys = 0;
  };
  Result finish();

 private:
  void closeLeaf(uint32_t nextPage);

  const Format& format_;
  uint32_t owner_;
  PageAllocator& allocator_;
  PageWriter& writer_;
  uint32_t capacity_;
  size_t prefixLimit_;
  // The leaf being filled.
  IndexPage leaf_;
  uint32_t leafNumber_ = 0;
  uint32_t prevLeaf_ = 0;
  size_t leafBytes_ = 0;   // sum of whole entry sizes
  size_t leafPrefix_ = 0;  // prefix the page would use
  // One (last entry, page) per finished leaf, for the node levels.
  std::vector<IndexEntry> leafLast_;
  std::vector<uint32_t> leafPages_;
  IndexEntry last_;
  Result result_;
};

struct RebuiltIndex {
  uint32_t rootPage = 0;
  std::vector<uint32_t> pages;
  uint64_t entries = 0;
  uint64_t distinctKeys = 0;
};

// Rebuilds real index `indexNumber` of the table. Throws Corrupt (3049) naming the table and index when an entry
// points at a row that does not exist, a row has two entries, or (for an index that keeps nulls) a row has none.
RebuiltIndex rebuildIndex(PageReader& source, const CompactPlan& plan, const TablePlan& table,
                          const CopiedTable& copied, size_t indexNumber, PageAllocator& allocator, PageWriter& writer);

// Re-encodes the integer key segments of an index key that belong to Id columns. `columns` are the index's key
// columns; returns false when a segment before an Id column has a type whose key length is not fixed.
bool remapIdKey(const TableDef& def, const std::vector<RealIndexDef::KeyColumn>& columns,
                const std::vector<size_t>& idColumns, const TableIdMap& ids, std::vector<uint8_t>& key);

}  // namespace jet
