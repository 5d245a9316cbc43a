// Packs rows into fresh data pages, the way Jet fills them.
//
// Layout of a data page (Jet 3 / Jet 4): type 0x01, 0x01, 2-byte free space, 4-byte owner (TDEF page, 'LVAL' for
// long-value pages, 0 for pages of usage maps); Jet 4 then has 4 more bytes; then the 2-byte row count at 8 / 12 and
// one 2-byte offset per row. Row 0 ends at the page end, row i ends where row i-1 starts.
//
// Observed in the samples:
//   - free space = first byte of the lowest row - end of the offset table, on every data page of every sample.
//   - Jet fills a page until the next row plus its 2-byte offset no longer fits: Access 97 table pages end with 0-4
//     free bytes, long-value pages holding one 2036-byte row with 0.
//   - Jet 4's 4 extra header bytes are 0 on every table and usage-map page. About a third of long-value pages carry
//     other values there (apparently left over from memory); zero is what Jet writes on all other pages.
// A page holds at most 255 rows.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/format.h"

namespace jet {

// Where a row went: the index of its page among the pages this builder made, and its row number on that page.
struct RowPlacement {
  uint32_t pageIndex = 0;
  uint8_t row = 0;
  friend bool operator==(const RowPlacement&, const RowPlacement&) = default;
};

class DataPageBuilder {
 public:
  DataPageBuilder(const Format& format, uint32_t owner);

  // The largest row one page can take.
  static uint32_t maxRowSize(const Format& format);

  // Where add() would put a row of this size (a new page when it does not fit the current one).
  RowPlacement peek(size_t rowSize) const;
  // Copies the row onto the current page, or onto a new page when it does not fit. Throws InvalidArgument for an
  // empty row or one larger than maxRowSize.
  RowPlacement add(Bytes row);
  // Overwrites bytes of a row already added (e.g. a chain pointer learnt later).
  void patch(RowPlacement at, size_t offset, Bytes bytes);

  // Pages made so far, those already taken included.
  uint32_t pageCount() const { return taken_ + static_cast<uint32_t>(pages_.size()); }
  // Hands over the pages no later row can go to (all but the current one), so that callers can write them out as
  // they go; page indexes keep counting across calls.
  std::vector<std::vector<uint8_t>> takeFinishedPages();
  // Hands over every page made and not yet taken; the next row starts a new page.
  std::vector<std::vector<uint8_t>> takePages();

 private:
  void startPage();
  uint16_t freeSpace(const std::vector<uint8_t>& page) const;
  uint16_t rowCount(const std::vector<uint8_t>& page) const;

  const Format& format_;
  uint32_t owner_;
  std::vector<std::vector<uint8_t>> pages_;  // pages not yet taken; pages_[i] has index taken_ + i
  uint32_t taken_ = 0;
};

// Packs the rows in order; placements[i] tells where rows[i] went.
std::vector<std::vector<uint8_t>> packDataPages(const Format& format, uint32_t owner,
                                                const std::vector<std::vector<uint8_t>>& rows,
                                                std::vector<RowPlacement>& placements);

}  // namespace jet
