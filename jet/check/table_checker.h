// The check of one table: its definition, its maps, its rows (data pages and overflow), its long values and its
// indexes. Pages are claimed in the registry shared by all tables, problems go to the shared log, and what is read
// goes to the options' observer. The parts of the whole file (the free-page map, the pages no table uses) are not
// looked at here. The registry must know the names of the catalog's tables first (PageClaims::nameTable): foreign keys
// and the owners of pages are judged against them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "jet/check/integrity_check.h"
#include "jet/check/page_owners.h"
#include "jet/check/problem_log.h"
#include "jet/check/usage_maps.h"
#include "jet/format/data_page.h"
#include "jet/format/table_def.h"
#include "jet/read/database.h"

namespace jet {

class TableChecker {
 public:
  TableChecker(Database& db, const std::string& name, uint32_t tdef, PageClaims& claims, const CheckOptions& options,
               ProblemLog& log);

  // Checks the table and counts it in the log's report. Damage is reported to the log; a failure that is not
  // damage (a read error, say) is thrown.
  void run();

 private:
  // Per live row and per index: how many of the index's key columns are null in the row.
  static constexpr uint8_t kKeyAllNull = 0x01;
  static constexpr uint8_t kKeyAnyNull = 0x02;
  // The row did not decode: its index entries are neither expected nor not.
  static constexpr uint8_t kRowUnreadable = 0x04;

  // Twice the limits of Jet itself (255 columns, 32 indexes a table), leaving room for deleted columns.
  static constexpr size_t kMaxColumns = 512;
  static constexpr size_t kMaxIndexes = 64;

  struct LiveRows {
    std::vector<uint32_t> home;              // raw (page << 8 | row) of every live row's home slot, ascending
    std::vector<std::vector<uint8_t>> keys;  // per real index, per live row: kKey* bits
  };
  using PagesByColumn = std::map<uint16_t, std::vector<uint32_t>>;
  using ListedLongValuePages = std::vector<std::pair<uint32_t, uint16_t>>;  // page, column

  void check();
  void checkLogicalIndexes();

  // Rows (table_rows.cc).
  void scanRows(const std::vector<uint32_t>& owned, const PagesByColumn& longValuePages, LiveRows& rows);
  Bytes followOverflow(Bytes home, const RowSlot& slot, PageHandle& hold);

  // Long values (long_values.cc).
  void checkLongValueMaps(PagesByColumn& pagesByColumn, ListedLongValuePages& listed);
  void checkListedLongValuePages(const ListedLongValuePages& listed);
  Bytes longValueRow(RowPointer at, PageHandle& hold, const std::vector<uint32_t>* columnPages);
  void checkLongValue(size_t columnIndex, const ColumnDef& column, Bytes field,
                      const std::vector<uint32_t>* columnPages);

  // Indexes (indexes.cc).
  void checkIndex(uint32_t k, const LiveRows& rows, bool rowsComplete);
  static bool keyHasNull(const LiveRows& rows, uint32_t k, uint32_t raw);
  void compareMembership(const std::string& label, bool ignoresNulls, const LiveRows& rows,
                         const std::vector<uint8_t>& keyBits, std::vector<uint32_t>& pointed);

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
  const CheckOptions& options_;
  ProblemLog& log_;
  UsageMapChecker maps_;
  TableDef def_;
};

}  // namespace jet
