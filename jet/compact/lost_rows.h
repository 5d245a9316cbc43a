// Before a compaction writes anything: does the source hold live rows that the copy would not carry?
//
// The copy reaches a table's rows through the table's page map only. Rows it would leave behind without a word:
//   - live rows on a data page of a table that exists, on a page that table's map does not list (and that the
//     free-page map does not mark free: Access leaves rows on the pages of dropped tables it has freed);
//   - rows on pages the map lists that the file does not have (a file cut short, or a damaged map);
//   - rows that were on pages the map lists that are no longer data pages of the table (overwritten pages).
// Any of these fails the compaction with 3049, naming the table and how many rows would be lost.
//
// One kind of unlisted page is no loss: where the map reaches every other page it names and exactly as many live rows
// as the table's definition counts, rows on data pages the map does not list are copies the table no longer has.
// Access leaves such pages when it rewrites a table's rows elsewhere and takes the old pages out of the map without
// marking them free (it does so to the navigation pane's tables of Access 2007 and later); no reader sees their rows,
// and compaction leaves them out and reports how many. A map that lost a page of rows the table still has reaches
// fewer rows than the definition counts, and is refused. Rows an index still points at are refused by the index's
// rebuild.
//
// The check looks at each page once, on its own, so a pass that reads the source's pages anyway can feed it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/compact/plan.h"
#include "jet/pager/page_reader.h"

namespace jet {

class LostRowsCheck {
 public:
  // Reads every planned table's page map and the free-page map. Throws 3049 when a table's map cannot be read.
  LostRowsCheck(PageReader& source, const CompactPlan& plan);

  // Looks at one page of the source (pages 1 to pageCount - 1, each once, in any order).
  void page(uint32_t number, Bytes bytes);

  // Throws 3049 naming every table that would lose rows, and how many. Call after every page has been seen.
  void finish() const;
  // Live rows on unlisted pages that no table counts (see above), which the copy leaves out. After finish().
  uint64_t leftBehindRows() const;

  // Both, over every page of the source.
  static void run(PageReader& source, const CompactPlan& plan);

  // Pages the map of the plan's table `i` lists: the table holds at most 255 rows on each.
  uint64_t mappedPages(size_t i) const { return tables_[i].mappedPages; }

 private:
  struct Table {
    const TablePlan* plan = nullptr;
    uint64_t rowsReached = 0;    // live rows on the pages of its map that are its data pages
    uint64_t unreachedRows = 0;  // live rows on its data pages that its map does not list
    std::vector<uint32_t> unreachedPages;
    uint64_t mappedPages = 0;      // pages its map lists
    uint64_t pagesPastTheEnd = 0;  // pages its map lists that the file does not have
    uint32_t firstPastTheEnd = 0;
    std::vector<uint32_t> foreignPages;  // pages its map lists that are not its data pages
  };

  // Whether the table's unlisted rows are copies it no longer counts rather than rows it would lose.
  static bool leftBehind(const Table& t);
  // Index + 1 into tables_ of the table whose definition is at `tdef`, or 0.
  uint32_t tableAt(uint32_t tdef) const;
  bool listedBy(uint32_t page, uint32_t table) const;

  const Format& format_;
  std::vector<Table> tables_;                              // in the plan's order (ascending definition pages)
  std::vector<uint32_t> lister_;                           // per page: index + 1 of the table whose map lists it, or 0
  std::vector<std::pair<uint32_t, uint32_t>> alsoListed_;  // (page, index + 1) for pages two maps list, sorted
  std::vector<bool> free_;
};

}  // namespace jet
