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

#include "jet/pager/page_writer.h"
#include "jet/compact/plan.h"
#include "jet/compact/rows.h"
#include "jet/format/index_page.h"
#include "jet/format/index_tree_writer.h"
#include "jet/pager/page_reader.h"

namespace jet {

struct RebuiltIndex : WrittenIndexTree {
  // Of the leaf entries in the order written (see addIndexEntryDigest in verify.h), for the read-back.
  uint64_t entryDigest = 0;
};

// Rebuilds real index `indexNumber` of the table. Throws Corrupt (3049) naming the table and index when an entry
// points at a row that does not exist, a row has two entries, or (for an index that keeps nulls) a row has none.
RebuiltIndex rebuildIndex(PageReader& source, const CompactPlan& plan, const TablePlan& table,
                          const CopiedTable& copied, size_t indexNumber, PageAllocator& allocator, PageWriter& writer);

// Re-encodes the integer key segments of an index key of `table` that belong to its Id columns, as the rows' Ids are
// (CompactPlan::newId). `columns` are the index's key columns; returns false when a segment before an Id column has a
// type whose key length is not fixed.
bool remapIdKey(const CompactPlan& plan, const TablePlan& table, const std::vector<RealIndexDef::KeyColumn>& columns,
                std::vector<uint8_t>& key);

}  // namespace jet
