// Checks a whole database for damage and inconsistency, without changing it.
//
// What is checked:
//   - every table definition reads and its pages hold every byte it claims; catalog Ids that read as page numbers
//     name tables, and so does every index's related-table field that holds one;
//   - the pages a table really owns (its data pages, definition pages, index pages and long-value pages) agree with
//     its usage maps and with the owner field of each page; no page is used twice (a bitmap page of a reference-form
//     map included), no page in use is marked free, and no page holding live rows of a table is missing from that
//     table's map (a warning only where the table counts no more rows than its map reaches: stale copies);
//   - every row of every data page decodes, overflow pointers and long-value chains end and stay inside the file, and
//     no long-value row is shared by two values (which is also how a chain that loops shows up);
//   - every index walks from its root in strictly increasing order with node entries that bound their children (not
//     below the child's last entry, below the first entry after it) and leaf links that agree with the descent;
//     every live row appears in it exactly once unless the index ignores nulls and all its key columns are null; no
//     entry points at a row that is not live; a unique index holds no key twice among rows whose key has no null;
//   - foreign keys name tables the catalog lists;
//   - row counts and per-index key counts kept in the definitions match what the data holds.
//
// Problems are collected, not thrown, so one damaged table does not hide the others. Errors are what would make
// Access or a reader misread the data, or what compaction would lose or refuse: every reason for which compaction
// refuses a source is an error here. Warnings are what Access itself leaves behind and compaction repairs: counters
// that disagree with the data, space held but unused (pages neither in use nor free, index-map pages the tree does
// not reach, pages of stale row copies that no map lists and no row count includes), node entries left above their
// child's last entry by a deletion, and free-page map entries for pages the file does not have. A file written by our
// own engine must check without warnings too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/read/database.h"
#include "jet/format/row_layout.h"

namespace jet {

enum class Severity : uint8_t { Warning, Error };

struct Problem {
  Severity severity = Severity::Error;
  std::string table;  // empty for problems of the file as a whole
  uint32_t page = 0;  // 0 when no particular page applies
  int32_t row = -1;   // -1 when no particular row applies
  std::string message;
};

// Sees what the check reads, as it reads it, so that a caller can compare the contents with what it expects without
// reading the file a second time. For each table: definition (the table's definition as read), beginTable, then for
// each live row in page order beginRow, the bytes of each long value stored outside the row (longValuePart, in column
// order, each value's rows in chain order, the value's own bytes only), and row; then for each index walked its
// entries in key order and endIndex. A row or an index the check cannot read ends early (no row or endIndex call): the
// observer notices what is missing. A table checked while it is written (CheckWhileWriting) is read the other way
// round: beginTable with the definition it is being written with, the rows and indexes, endTable, and definition
// only once the file is complete, with what the file holds. Calls come on the thread that runs the check.
class CheckObserver {
 public:
  virtual ~CheckObserver() = default;
  virtual void definition(const std::string& name, const TableDef& def) = 0;
  virtual void beginTable(const std::string& name, const TableDef& def) = 0;
  virtual void beginRow() = 0;
  virtual void longValuePart(size_t column, Bytes part) = 0;
  virtual void row(RowPointer home, Bytes bytes, const RowLayout& layout) = 0;
  virtual void indexEntry(uint32_t index, Bytes entry) = 0;
  virtual void endIndex(uint32_t index, uint64_t distinctKeys) = 0;
  virtual void endTable() = 0;
};

struct CheckOptions {
  CheckObserver* observer = nullptr;
  // Problems kept per table (and for the file as a whole); the rest are counted in one closing problem.
  size_t maxProblemsPerTable = 50;
};

struct CheckReport {
  std::vector<Problem> problems;
  uint64_t tables = 0;
  uint64_t rows = 0;
  uint64_t indexes = 0;
  uint64_t indexEntries = 0;
  uint64_t longValues = 0;
  uint64_t pagesInUse = 0;

  size_t errors() const;
  size_t warnings() const;
  // No errors; with `strict`, no warnings either.
  bool clean(bool strict = false) const;
};

CheckReport checkDatabase(Database& db, const CheckOptions& options = {});

// "error: table Orders, page 45, row 3: message", as `jetdb check` prints it.
std::string describeProblem(const Problem& problem);

}  // namespace jet
