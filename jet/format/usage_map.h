// Usage maps: which pages belong to a table, an index or a long-value column, or (page 1) which pages are free.
//
// A map is a row on a data page. Type 0 holds a start page and a bitmap inline; type 1 lists bitmap pages (type 0x05),
// each covering (page size - 4) * 8 pages in turn.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/pager/page_reader.h"

namespace jet {

struct UsageMap {
  enum class Kind : uint8_t { Inline = 0, Reference = 1 };
  Kind kind = Kind::Inline;
  RowPointer location;
  std::vector<uint8_t> raw;           // the map's row as stored
  uint32_t startPage = 0;             // Inline: page of bit 0
  std::vector<uint32_t> bitmapPages;  // Reference: page of each bitmap (0 = none)

  // Pages covered by one bitmap page of a Reference map.
  static uint32_t pagesPerBitmapPage(uint32_t pageSize) { return (pageSize - 4) * 8; }
};

// Reads the map stored at `at`. Throws 3049 when the row does not exist or is not a map.
UsageMap readUsageMap(PageReader& pages, RowPointer at);

// A bitmap page of a reference map that cannot be read: the slot it stands for, its number, and why.
using BadBitmapPage = std::function<void(size_t slot, uint32_t page, const std::string& why)>;

// Calls visit(page) for every page set in the map, in ascending order, until visit returns false.
// Pages at or past the end of the file are skipped, and so are the bitmap pages of a reference map that stand only
// for such pages, whatever number they hold. A bitmap page that lies outside the file or is not a usage-map page
// throws 3049, or, when `onBadBitmap` is given, is reported to it and its slot skipped.
void forEachMappedPage(PageReader& pages, const UsageMap& map, const std::function<bool(uint32_t)>& visit,
                       const BadBitmapPage& onBadBitmap = {});

std::vector<uint32_t> mappedPages(PageReader& pages, const UsageMap& map);

// Pages the map lists at or past the end of the file (readers skip them): how many, and the first. Only the bitmap
// pages of a reference map that stand partly for pages inside the file, and that can be read, are looked at.
struct PagesPastTheEnd {
  uint64_t count = 0;
  uint64_t first = 0;
};
PagesPastTheEnd mappedPagesPastTheEnd(PageReader& pages, const UsageMap& map);

}  // namespace jet
