// Column values decoded from rows, and their text forms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/pager/page_reader.h"
#include "jet/format/row_layout.h"
#include "jet/format/table_def.h"

namespace jet {

struct Value {
  ColumnType type{};
  bool null = true;
  bool boolean = false;
  int64_t integer = 0;         // Byte, Integer, Long; Currency in ten-thousandths
  double real = 0;             // Single, Double, DateTime (days since 1899-12-30)
  std::string text;            // Text and Memo, as UTF-8
  std::vector<uint8_t> bytes;  // Binary, OLE, Guid (16 bytes as stored), Numeric (16-byte magnitude as stored)
  bool negative = false;       // Numeric sign
  uint8_t scale = 0;           // Numeric scale
};

// Decodes one column of a cracked row. Long values are read through `pages`; `codePage` is the database's (used for
// Jet 3 text). Reuses out's buffers. Throws 3049 on damaged values.
void decodeValue(PageReader& pages, const ColumnDef& column, Bytes row, const FieldLocation& field, Value& out);
// The same for a row whose long value in this column (Memo, OLE) was read already, with readLongValue: `longValue`
// holds its bytes (other columns ignore it). Nothing is read through `pages`, so this may run while another thread
// reads pages through it.
void decodeValue(const PageReader& pages, const ColumnDef& column, Bytes row, const FieldLocation& field,
                 Bytes longValue, Value& out);

// Text forms, as mdb-export prints them by default.
std::string formatCurrency(int64_t tenThousandths);  // 4 decimals
std::string formatNumeric(bool negative, const uint8_t* magnitude16, uint8_t scale);
// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; without the last hyphen when lastGroupsJoined, as mdb-export prints it.
std::string formatGuid(const uint8_t* bytes16, bool lastGroupsJoined = false);
void appendGuid(std::string& out, const uint8_t* bytes16, bool lastGroupsJoined = false);
std::string formatDateTime(double days);  // MM/DD/YY HH:MM:SS
std::string formatSingle(float value);    // %.8g
std::string formatDouble(double value);   // %.16g

struct CivilDateTime {
  int64_t year = 0;
  int month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// Jet dates count days from 1899-12-30; before it the whole days count back and the fraction still runs forward.
CivilDateTime toCivil(double days);
// MM/DD/YY HH:MM:SS of a broken-down time, each field as printf's "%02d" writes it.
std::string formatDateTime(const CivilDateTime& t);
// The same, appended: a dump formats one for each field, and a string of its own would be allocated for each.
void appendDateTime(std::string& out, double days);
void appendDateTime(std::string& out, const CivilDateTime& t);

}  // namespace jet
