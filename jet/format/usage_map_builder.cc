#include "jet/format/usage_map_builder.h"

#include <algorithm>
#include <string>

#include "jet/format/data_page_builder.h"
#include "jet/errors.h"
#include "jet/format/put_bytes.h"

namespace jet {
namespace {

constexpr uint32_t kInlineHeader = 5;  // type + start page
constexpr uint32_t kBitmapPageHeader = 4;
constexpr uint32_t kFreeMapOwner = 1;

void setBit(uint8_t* bitmap, uint64_t bit) { bitmap[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8)); }

// Entries of a reference row: as many as fit in a row of the usual inline length.
uint32_t referenceEntries(const Format& f) { return (kInlineHeader + f.usageMapInlineBitmap - 1) / 4; }

void sortUnique(std::vector<uint32_t>& pages) {
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
}

// A reference map over `pages` (sorted), with bits also set from `freeFrom` to the end of the last bitmap page that
// holds any page below `coverUpTo` (used for the free-page map; pass freeFrom = coverUpTo = 0 otherwise).
EncodedUsageMap encodeReference(const Format& f, const std::vector<uint32_t>& pages, uint32_t freeFrom,
                                uint32_t coverUpTo, const std::function<uint32_t()>& allocatePage) {
  const uint32_t per = pagesPerBitmapPage(f);
  const uint32_t entries = referenceEntries(f);
  uint64_t last = pages.empty() ? 0 : pages.back();
  if (coverUpTo > 0) last = std::max<uint64_t>(last, coverUpTo - 1);
  if (last / per >= entries) {
    fail(ErrorCode::InvalidArgument, "page " + std::to_string(last) + " lies beyond what a usage map can cover");
  }
  EncodedUsageMap out;
  out.row.assign(1 + 4 * entries, 0);
  out.row[0] = 1;
  size_t next = 0;
  for (uint32_t k = 0; k <= last / per; ++k) {
    uint64_t first = uint64_t{k} * per;
    std::vector<uint8_t> bitmapPage(f.pageSize, 0);
    bool any = false;
    for (; next < pages.size() && pages[next] < first + per; ++next) {
      setBit(bitmapPage.data() + kBitmapPageHeader, pages[next] - first);
      any = true;
    }
    if (coverUpTo > 0) {
      for (uint64_t p = std::max<uint64_t>(first, freeFrom); p < first + per; ++p) {
        setBit(bitmapPage.data() + kBitmapPageHeader, p - first);
        any = true;
      }
    }
    if (!any) continue;
    bitmapPage[0] = static_cast<uint8_t>(PageType::UsageMap);
    bitmapPage[1] = 0x01;
    uint32_t number = allocatePage();
    putLe32(out.row.data() + 1 + 4 * k, number);
    out.bitmapPages.emplace_back(number, std::move(bitmapPage));
  }
  return out;
}

}  // namespace

uint32_t pagesPerBitmapPage(const Format& format) { return (format.pageSize - kBitmapPageHeader) * 8; }

std::vector<uint8_t> encodeInlineUsageMap(std::span<const uint32_t> pages, uint32_t startPage, uint32_t bitmapBytes) {
  std::vector<uint8_t> row(kInlineHeader + bitmapBytes, 0);
  putLe32(row.data() + 1, startPage);
  for (uint32_t page : pages) {
    if (page < startPage || uint64_t{page} - startPage >= uint64_t{bitmapBytes} * 8) {
      fail(ErrorCode::InvalidArgument,
           "page " + std::to_string(page) + " lies outside an inline usage map from page " + std::to_string(startPage));
    }
    setBit(row.data() + kInlineHeader, page - startPage);
  }
  return row;
}

EncodedUsageMap encodeUsageMap(const Format& format, std::vector<uint32_t> pages,
                               const std::function<uint32_t()>& allocatePage) {
  sortUnique(pages);
  const uint32_t bits = format.usageMapInlineBitmap * 8;
  EncodedUsageMap out;
  if (pages.empty() || pages.back() < bits) {
    out.row = encodeInlineUsageMap(pages, 0, format.usageMapInlineBitmap);
    return out;
  }
  uint32_t start = pages.front() & ~7u;
  if (pages.back() - start < bits) {
    out.row = encodeInlineUsageMap(pages, start, format.usageMapInlineBitmap);
    return out;
  }
  return encodeReference(format, pages, 0, 0, allocatePage);
}

EncodedUsageMap encodeFreePageMap(const Format& format, std::vector<uint32_t> freePages, uint32_t pageCount,
                                  const std::function<uint32_t()>& allocatePage) {
  sortUnique(freePages);
  if (!freePages.empty() && freePages.back() >= pageCount) {
    fail(ErrorCode::InvalidArgument,
         "free page " + std::to_string(freePages.back()) + " lies past the end of the file");
  }
  // Grown in steps of 4 bytes to cover the file, as Jet 4 does.
  uint32_t needed = (pageCount + 7) / 8;
  uint32_t bitmapBytes = std::max(format.usageMapInlineBitmap, (needed + 3) / 4 * 4);
  // Row 0 must share page 1 with row 1 (an empty map of the usual size) and both row offsets.
  uint32_t room = DataPageBuilder::maxRowSize(format) - 2 - (kInlineHeader + format.usageMapInlineBitmap);
  if (kInlineHeader + bitmapBytes > room) return encodeReference(format, freePages, pageCount, pageCount, allocatePage);
  EncodedUsageMap out;
  out.row = encodeInlineUsageMap(freePages, 0, bitmapBytes);
  for (uint64_t p = pageCount; p < uint64_t{bitmapBytes} * 8; ++p) setBit(out.row.data() + kInlineHeader, p);
  return out;
}

std::vector<uint8_t> buildFreeMapPage(const Format& format, const std::vector<uint8_t>& freeMapRow) {
  DataPageBuilder builder(format, kFreeMapOwner);
  builder.add(freeMapRow);
  RowPlacement second = builder.add(encodeInlineUsageMap({}, 0, format.usageMapInlineBitmap));
  if (second.pageIndex != 0) fail(ErrorCode::InvalidArgument, "the free-page map does not fit page 1");
  return builder.takePages().front();
}

}  // namespace jet
