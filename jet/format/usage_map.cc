#include "jet/format/usage_map.h"

#include <string>

#include "jet/format/data_page.h"

namespace jet {

UsageMap readUsageMap(PageReader& pages, RowPointer at) {
  const Format& f = pages.format();
  const std::string where = "the usage map at page " + std::to_string(at.page) + " row " + std::to_string(at.row);
  if (at.page == 0 || at.page >= pages.pageCount()) corrupt(where + " lies outside the file");
  PageHandle page = pages.page(at.page);
  Bytes p(*page);
  if (p[0] != static_cast<uint8_t>(PageType::Data)) corrupt(where + " is not on a data page");
  if (at.row >= dataPageRowCount(f, p)) corrupt(where + " names a row the page does not have");
  RowSlot slot = dataPageRow(f, p, at.row);
  if (slot.deleted()) corrupt(where + " has been deleted");
  Bytes row = dataPageRowBytes(p, slot);
  if (row.empty()) corrupt(where + " is empty");

  UsageMap m;
  m.location = at;
  m.raw.assign(row.begin(), row.end());
  switch (row[0]) {
    case 0:
      if (row.size() < 5) corrupt(where + " is too short");
      m.kind = UsageMap::Kind::Inline;
      m.startPage = le32(row.data() + 1);
      break;
    case 1:
      m.kind = UsageMap::Kind::Reference;
      for (size_t k = 1; k + 4 <= row.size(); k += 4) m.bitmapPages.push_back(le32(row.data() + k));
      break;
    default: corrupt(where + " has unknown type " + std::to_string(row[0]));
  }
  return m;
}

namespace {

// Visits the set bits of a bitmap whose bit 0 stands for page `first`. Returns false when visit asked to stop.
bool visitBits(Bytes bits, uint64_t first, uint32_t pageCount, const std::function<bool(uint32_t)>& visit) {
  for (size_t byte = 0; byte < bits.size(); ++byte) {
    if (bits[byte] == 0) continue;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if ((bits[byte] & (1u << bit)) == 0) continue;
      uint64_t page = first + byte * 8 + bit;
      if (page >= pageCount) return true;  // bits past the end of the file mean nothing
      if (!visit(static_cast<uint32_t>(page))) return false;
    }
  }
  return true;
}

}  // namespace

void forEachMappedPage(PageReader& pages, const UsageMap& map, const std::function<bool(uint32_t)>& visit,
                       const BadBitmapPage& onBadBitmap) {
  if (map.kind == UsageMap::Kind::Inline) {
    visitBits(Bytes(map.raw).subspan(5), map.startPage, pages.pageCount(), visit);
    return;
  }
  const uint32_t per = UsageMap::pagesPerBitmapPage(pages.pageSize());
  auto bad = [&](size_t k, uint32_t page, const std::string& why) {
    if (!onBadBitmap) corrupt(why);
    onBadBitmap(k, page, why);
  };
  for (size_t k = 0; k < map.bitmapPages.size(); ++k) {
    // Slots for pages the file does not have mean nothing, and Access leaves any number in them.
    if (static_cast<uint64_t>(k) * per >= pages.pageCount()) break;
    uint32_t bitmapPage = map.bitmapPages[k];
    if (bitmapPage == 0) continue;
    if (bitmapPage >= pages.pageCount()) {
      bad(k, bitmapPage, "usage-map page " + std::to_string(bitmapPage) + " lies outside the file");
      continue;
    }
    PageHandle page = pages.page(bitmapPage);
    if ((*page)[0] != static_cast<uint8_t>(PageType::UsageMap)) {
      bad(k, bitmapPage,
          "page " + std::to_string(bitmapPage) + " should be a usage-map page but is of type " +
              std::to_string((*page)[0]));
      continue;
    }
    if (!visitBits(Bytes(*page).subspan(4), static_cast<uint64_t>(k) * per, pages.pageCount(), visit)) return;
  }
}

std::vector<uint32_t> mappedPages(PageReader& pages, const UsageMap& map) {
  std::vector<uint32_t> out;
  forEachMappedPage(pages, map, [&](uint32_t p) {
    out.push_back(p);
    return true;
  });
  return out;
}

namespace {

void countPastTheEnd(Bytes bits, uint64_t first, uint64_t pageCount, PagesPastTheEnd& out) {
  for (size_t byte = 0; byte < bits.size(); ++byte) {
    if (bits[byte] == 0 || first + byte * 8 + 7 < pageCount) continue;
    for (unsigned bit = 0; bit < 8; ++bit) {
      const uint64_t page = first + byte * 8 + bit;
      if ((bits[byte] & (1u << bit)) == 0 || page < pageCount) continue;
      if (out.count++ == 0) out.first = page;
    }
  }
}

}  // namespace

PagesPastTheEnd mappedPagesPastTheEnd(PageReader& pages, const UsageMap& map) {
  PagesPastTheEnd out;
  if (map.kind == UsageMap::Kind::Inline) {
    countPastTheEnd(Bytes(map.raw).subspan(5), map.startPage, pages.pageCount(), out);
    return out;
  }
  const uint32_t per = UsageMap::pagesPerBitmapPage(pages.pageSize());
  for (size_t k = 0; k < map.bitmapPages.size(); ++k) {
    const uint64_t first = static_cast<uint64_t>(k) * per;
    if (first >= pages.pageCount()) break;
    if (first + per <= pages.pageCount()) continue;
    const uint32_t bitmapPage = map.bitmapPages[k];
    if (bitmapPage == 0 || bitmapPage >= pages.pageCount()) continue;
    PageHandle page = pages.page(bitmapPage);
    if ((*page)[0] != static_cast<uint8_t>(PageType::UsageMap)) continue;
    countPastTheEnd(Bytes(*page).subspan(4), first, pages.pageCount(), out);
  }
  return out;
}

}  // namespace jet
