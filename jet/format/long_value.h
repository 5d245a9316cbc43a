// MEMO and OLE values: the 12-byte definition inside a row, and the data it points to (inline, one row on a
// long-value page, or a chain of rows across pages).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/pager/page_reader.h"

namespace jet {

struct LongValueRef {
  enum class Kind : uint8_t { Inline, SingleRow, Chain };
  Kind kind = Kind::Inline;
  uint32_t length = 0;     // total length of the value
  uint32_t rawHeader = 0;  // first 4 bytes as stored (length and flags)
  RowPointer first;        // SingleRow and Chain: where the data starts
  Bytes inlineData;        // Inline: the bytes after the definition
};

// Parses the definition at the start of a MEMO/OLE field. Throws 3049 when the field is shorter than a definition
// or the flags are unknown.
LongValueRef parseLongValueRef(Bytes field);

// Where the pieces of a value are stored: one entry per long-value row visited (for checking and copying).
struct LongValuePiece {
  RowPointer at;
  uint32_t dataLength = 0;
};

// Appends the value's bytes to out, at most `limit` of them. Follows chains with cycle detection; throws 3049 when a
// pointer leads outside the file, to a page that is not a data page, to a missing or deleted row, or loops, and when
// the stored data is shorter than the value's stated length.
// When pieces is not null, every row visited is recorded there.
void readLongValue(PageReader& pages, const LongValueRef& ref, std::vector<uint8_t>& out, size_t limit = SIZE_MAX,
                   std::vector<LongValuePiece>* pieces = nullptr);

}  // namespace jet
