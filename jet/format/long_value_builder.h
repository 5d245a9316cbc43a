// Writing MEMO and OLE values for a compacted file: the 12-byte definition that goes into the row, and the rows on
// long-value pages (data pages owned by 'LVAL') that hold the bytes. Reading them is jet/format/long_value.h.
//
// Definition: 4-byte length with the kind in the top bits (0x80 inline, 0x40 one row, 0x00 chain), a 4-byte
// (row, page) pointer to the first row (zero when inline), 4 zero bytes. A chained row starts with the (row, page)
// pointer of the next one, zero in the last.
//
// Observed in the samples (definitions found through the rows they point at):
//   - Access 97 keeps values of up to 31 bytes inline and put every value of 33 bytes or more on a long-value page;
//     Access 2000 inlines up to 58 bytes and stores from 65 bytes up. We take 32 (Jet 3) and 64 (Jet 4, also
//     Jackcess's figure) as the limits.
//   - A chain's rows are 2036 bytes (Jet 3: pointer + 2032 data bytes) or 4076 bytes (Jet 4: pointer + 4072), the
//     last row takes the rest, and each full row sits on a page of its own in ascending page order (Jet 3 pages
//     45, 46, 47, 48, 49 for a 9818-byte value; Jet 4 pages with one 4076-byte row and 4 bytes free).
//   - Single rows reach 3618 bytes in the Jet 4 samples; the limits used are 2032 (Jet 3) and 4076 (Jet 4) bytes.
//   - Values of one column share long-value pages.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/data_page_builder.h"
#include "jet/format/format.h"

namespace jet {

enum class LongValueKind : uint8_t { Inline = 0x80, SingleRow = 0x40, Chain = 0x00 };

// The 12-byte definition. Throws InvalidArgument for a length of 2^30 bytes or more.
std::vector<uint8_t> encodeLongValueDefinition(LongValueKind kind, uint32_t length, RowPointer first);

// Size rules.
uint32_t maxInlineLongValue(const Format& format);     // 32 / 64
uint32_t maxSingleRowLongValue(const Format& format);  // 2032 / 4076
uint32_t longValueChainChunk(const Format& format);    // data bytes per chained row: 2032 / 4072

// Stores the long values of one column on long-value pages numbered by allocatePage (called once per new page).
class LongValueWriter {
 public:
  LongValueWriter(const Format& format, std::function<uint32_t()> allocatePage);

  // Returns the bytes for the value's field in its row: the definition, followed by the value itself when inline.
  // A value is inline when it is short enough and the definition plus the value fit in rowSpace (what the row can
  // still take); an empty value is always inline.
  std::vector<uint8_t> add(Bytes value, size_t rowSpace);

  // Every long-value page used so far, in the order they were allocated (for the column's usage map).
  const std::vector<uint32_t>& pageNumbers() const { return numbers_; }
  // Pages no later value will go to, ready to be written.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> takeFinishedPages();
  // Every page not yet taken.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> takePages();

 private:
  RowPlacement place(Bytes row);
  RowPointer pointerTo(RowPlacement at) const;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> number(std::vector<std::vector<uint8_t>> pages);

  const Format& format_;
  std::function<uint32_t()> allocatePage_;
  DataPageBuilder builder_;
  std::vector<uint32_t> numbers_;  // numbers_[i] = page number of the builder's page i
  uint32_t taken_ = 0;
  std::vector<uint8_t> chainRow_;  // the row of a chain being placed
};

}  // namespace jet
