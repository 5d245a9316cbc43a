// Rows of a table as CSV, in the form mdb-export (mdbtools) prints by default, so the two can be compared:
// a header of column names, fields separated by commas, rows ended by "\n"; text-like fields (text, memo, date,
// binary, OLE, GUID) in double quotes with quotes doubled; nulls and empty text as nothing; booleans as 1/0;
// currency with 4 decimals; singles as %.8g and doubles as %.16g; dates as MM/DD/YY HH:MM:SS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "jet/read/database.h"
#include "jet/format/value.h"
#include "jet/read/table_scan.h"

namespace jet {

// Which batches of rows read ahead the reading thread also formats (see exportCsv).
enum class FormatAhead {
  WhenBehind,  // those read while the printing still has an earlier batch waiting
  Always,
  Never,
};

struct CsvStyle {
  // Reproduce what mdb-export 1.0 prints where it loses or alters data, so that its output can be compared byte for
  // byte: binary values and text end at their first NUL byte/character, text bytes a Jet 3 code page leaves
  // undefined print as '?', GUIDs print in its 8-4-4-16 grouping, columns of types it does not know print as
  // nothing, dates before 1899-12-30 print as 01/00/00 00:00:00. Off by default: then values print whole and GUIDs
  // in the usual 8-4-4-4-12 form.
  bool mdbExportQuirks = false;
  // Rows in the order of their home slots (where indexes point, and the order a compacted copy keeps), or, as
  // mdb-export prints them, a row Access moved to another page after an update where its bytes now sit.
  ScanOrder rowOrder = ScanOrder::Home;
  // Tables of at least this many data pages are read on a thread of their own while the rows read before are printed
  // (0: every table; SIZE_MAX: none). Below about a megabyte of rows a second thread costs more than it saves: it fills
  // its own memory afresh, and on two cores the threads slow each other down. The output is the same either way.
  size_t readAheadPages = 256;
  // Of the rows read ahead, the batches the reading thread formats too. The output is the same whichever it is.
  FormatAhead formatAhead = FormatAhead::WhenBehind;
};

// Indexes into TableDef::columns, ordered by column number (the order tools print columns in).
std::vector<size_t> columnsInNumberOrder(const TableDef& table);

// Appends one field (no delimiter).
void appendCsvField(std::string& out, const Value& value, const CsvStyle& style = {}, bool jet3 = false);

// Writes the table to out. Returns the number of rows written. Throws jet::Error (naming the file) on damage.
uint64_t exportCsv(Database& db, const TableDef& table, std::FILE* out, const CsvStyle& style = {});

}  // namespace jet
