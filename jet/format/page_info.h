// What a page is and whom it belongs to, as its own header says: for tests that look at single pages. The integrity
// check reads the same headers on its own.
#pragma once

#include <cstdint>

#include "jet/pager/page_reader.h"

namespace jet {

struct PageInfo {
  uint32_t page = 0;
  uint8_t type = 0;        // PageType value as stored (unknown values included)
  uint32_t owner = 0;      // data and index pages: the owning TDEF page (kLongValueOwner on long-value pages)
  uint16_t rowCount = 0;   // data pages
  uint16_t freeSpace = 0;  // data pages
  uint32_t nextPage = 0;   // TDEF pages: the continuation page (0 = none)

  bool isData() const { return type == static_cast<uint8_t>(PageType::Data); }
  bool isLongValuePage() const { return isData() && owner == kLongValueOwner; }
};

// Reads page n's header. Throws 3049 when n is past the end of the file or a data page's row table does not fit.
PageInfo describePage(PageReader& pages, uint32_t n);

}  // namespace jet
