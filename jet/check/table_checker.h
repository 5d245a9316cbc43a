// The check of one table: its definition, its maps, its rows (data pages and overflow), its long values and its
// indexes. Pages are claimed in the registry shared by all tables, problems go to the shared log, and what is read
// goes to the options' observer. The parts of the whole file (the free-page map, the pages no table uses) are not
// looked at here. The registry must know the names of the catalog's tables first (PageClaims::nameTable): foreign keys
// and the owners of pages are judged against them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "jet/check/integrity_check.h"
#include "jet/check/page_owners.h"
#include "jet/check/problem_log.h"
#include "jet/check/row_homes.h"
#include "jet/check/usage_maps.h"
#include "jet/format/data_page.h"
#include "jet/format/table_def.h"
#include "jet/read/database.h"

namespace jet {

// What the writer of a table tells a check that runs while the table is being written. Each call blocks until what it
// hands over is in the file; a writer that gives up makes the calls throw.
class TableFeed {
 public:
  virtual ~TableFeed() = default;
  // Appends the table's next data pages, in the order they were filled; false (appending nothing) once all were given.
  virtual bool nextDataPages(std::vector<uint32_t>& pages) = 0;
  // The root page of real index k, once the whole index is written.
  virtual uint32_t indexRoot(uint32_t k) = 0;
};

// "index Name" (the logical indexes on real index k, or its number), for messages.
std::string indexName(const TableDef& def, uint32_t k);

class TableChecker {
 public:
  TableChecker(PageReader& pages, const std::string& name, uint32_t tdef, PageClaims& claims,
               const CheckOptions& options, ProblemLog& log);

  // Checks the table and counts it in the log's report. Damage is reported to the log; a failure that is not
  // damage (a read error, say) is thrown.
  void run();

  // The same check of a table that is still being written, in two halves. First its contents: the rows on the data
  // pages `feed` reports, their long values and each index walked from the root `feed` reports, all decoded with
  // `expected`, the definition the table will be written with (its counts and page pointers aside). Then, once the
  // file is complete, its definition and maps: they must list exactly what was checked. The definition's bytes beyond
  // that are the caller's to compare (the observer is told of it then). The growing file is read through `db`'s
  // pages, whose size is taken again as the feed reports more.
  void runContents(const TableDef& expected, TableFeed& feed, uint64_t mostRows);
  void runStructure();

 private:
  // Per live row and per index: how many of the index's key columns are null in the row.
  static constexpr uint8_t kKeyAllNull = 0x01;
  static constexpr uint8_t kKeyAnyNull = 0x02;

  // Twice the limits of Jet itself (255 columns, 32 indexes a table), leaving room for deleted columns.
  static constexpr size_t kMaxColumns = 512;
  static constexpr size_t kMaxIndexes = 64;

  // What the check holds for every row of the table it is on: a log of tens of millions of narrow rows makes this
  // most of its memory, so it is packed (about a byte and a quarter a row with one index).
  struct LiveRows {
    RowHomes home;                    // every live row's home slot, ascending
    std::vector<TwoBitsPerRow> keys;  // per real index, per live row: kKey* bits
    std::vector<size_t> unreadable;   // ordinals of the rows that did not decode (their index entries are neither
                                      // expected nor not), ascending
    bool isUnreadable(size_t row) const { return std::binary_search(unreadable.begin(), unreadable.end(), row); }
  };
  // Where the entries of one index point: which live rows they reach (a bit a row, where keeping every entry's pointer
  // took four bytes an entry), the rows they reach again, and the entries that point at no live row.
  struct Pointed {
    std::vector<bool> seen;        // per live row
    std::vector<size_t> again;     // a live row's ordinal once for every entry past its first
    std::vector<uint32_t> strays;  // raw pointers of the entries that point at no live row
  };
  using PagesByColumn = std::map<uint16_t, std::vector<uint32_t>>;
  using ListedLongValuePages = std::vector<std::pair<uint32_t, uint16_t>>;  // page, column

  struct WalkedIndex {
    bool walked = false;
    uint32_t root = 0;
    std::vector<uint32_t> treePages;  // sorted
    uint64_t distinctKeys = 0;
  };

  void check();
  // Reads the definition from the file; false when nothing more of the table can be checked.
  bool readDefinition();
  void checkContents(TableFeed& feed, uint64_t mostRows);
  void checkStructure();
  void checkFreeSpaceMap(const std::vector<uint32_t>* owned);
  // A file that grows while it is read: the reader and the registry take its size again.
  void takeGrowth();
  void checkLogicalIndexes();

  // Rows (table_rows.cc).
  // Before the first scanRows: where the key columns of each index are.
  // `mostRows`: as many rows as the table can have, as far as is known (its pages can hold 255 each).
  void prepareRows(LiveRows& rows, uint64_t mostRows);
  void scanRows(const std::vector<uint32_t>& owned, const PagesByColumn& longValuePages, LiveRows& rows);
  Bytes followOverflow(Bytes home, const RowSlot& slot, PageHandle& hold);

  // Long values (long_values.cc).
  void checkLongValueMaps(PagesByColumn& pagesByColumn, ListedLongValuePages& listed);
  void checkListedLongValuePages(const ListedLongValuePages& listed);
  Bytes longValueRow(RowPointer at, PageHandle& hold, uint16_t column, const std::vector<uint32_t>* columnPages);
  void checkLongValue(size_t columnIndex, const ColumnDef& column, Bytes field,
                      const std::vector<uint32_t>* columnPages);

  // Indexes (indexes.cc).
  void checkIndex(uint32_t k, const LiveRows& rows, bool rowsComplete);
  // The walk from the root (and what the observer sees of it); false when the tree could not be walked.
  bool walkIndex(uint32_t k, const LiveRows& rows, WalkedIndex& walked, Pointed& pointed);
  // The stored key count, and the index's page map (when it could be read) against the pages walked.
  void finishIndex(uint32_t k, const WalkedIndex& walked, const std::vector<uint32_t>* mapPages);
  static bool keyHasNull(const LiveRows& rows, uint32_t k, uint32_t raw);
  void compareMembership(const std::string& label, bool ignoresNulls, const LiveRows& rows,
                         const TwoBitsPerRow& keyBits, Pointed& pointed);

  void add(Severity severity, uint32_t page, int32_t row, const std::string& message) {
    log_.add(severity, name_, page, row, message);
  }
  bool claim(uint32_t page, Use use, uint32_t table, uint32_t detail = 0) {
    return claims_.claim(page, use, table, name_, detail);
  }

  PageReader& pages_;
  const Format& f_;
  const std::string name_;
  const uint32_t tdef_;
  PageClaims& claims_;
  bool mapListsOtherPages_ = false;  // the table's map lists pages that are not its data pages
  const CheckOptions& options_;
  ProblemLog& log_;
  UsageMapChecker maps_;
  TableDef def_;
  std::vector<std::vector<int>> keyColumns_;  // per real index: each key column's position (-1: no such column)

  // Kept from the contents of a table checked while it was written, for its structure.
  bool streamed_ = false;
  bool contentsChecked_ = false;
  std::vector<uint32_t> streamedPages_;                       // data pages, as reported
  std::vector<std::pair<uint16_t, uint32_t>> valuePages_;     // (column number, page) of the long-value rows read
  std::vector<std::pair<uint16_t, uint32_t>> lastValuePage_;  // per column: the page last noted
  std::vector<WalkedIndex> walked_;
  uint64_t rowsFound_ = 0;
};

// The check of a whole file around its tables: the header and the free-page map first, then the catalog and each table
// it lists (checkTable is called for each, catalog first, once the registry knows every table's name), then the pages
// of the file as a whole.
void checkWholeFile(Database& db, PageClaims& claims, ProblemLog& log,
                    const std::function<void(const std::string& name, uint32_t tdef)>& checkTable);

}  // namespace jet
