// The integrity check of a database that is still being written, so that checking it costs no time after the
// writing: each table's rows, long values and indexes are checked as their pages reach the file, on the thread that
// calls table(), while the writer goes on; the definitions, the maps and everything else follow once the file is
// complete. The check is the one checkDatabase makes and finds the same problems; only the order of the work differs,
// and with it the order of the problems.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "jet/check/integrity_check.h"
#include "jet/check/page_owners.h"
#include "jet/check/problem_log.h"
#include "jet/check/table_checker.h"
#include "jet/pager/page_reader.h"
#include "jet/read/database.h"

namespace jet {

class CheckWhileWriting {
 public:
  // `growing` reads the file being written; its size is taken again whenever a feed reports more. `expectedPages`:
  // about as many pages as the file will have, for which room is taken at once (more may come).
  CheckWhileWriting(PageReader& growing, const CheckOptions& options, uint32_t expectedPages = 0);
  ~CheckWhileWriting();

  // Checks the contents of the table the writer is writing, whose definition will start at page `tdef`, decoding
  // them with `expected` (the definition it will be written with; its counts and page pointers are not used).
  // `mostRows`: as many rows as the table can have (room for them is taken at once, up to its stored count).
  void table(const std::string& name, uint32_t tdef, const TableDef& expected, TableFeed& feed, uint64_t mostRows);

  // Once the file is complete: the rest of the check, reading through `complete` (the finished file, opened anew).
  // A table whose contents were checked above and that the catalog does not list is an error.
  CheckReport finish(Database& complete);

 private:
  PageReader& growing_;
  const CheckOptions& options_;
  CheckReport report_;
  ProblemLog log_;
  PageClaims claims_;
  std::map<uint32_t, std::unique_ptr<TableChecker>> tables_;  // by definition page
};

}  // namespace jet
