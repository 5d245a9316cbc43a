#include "jet/check/page_owners.h"

#include <algorithm>
#include <map>

#include "jet/check/usage_maps.h"
#include "jet/format/data_page.h"
#include "jet/format/usage_map.h"

namespace jet {

bool PageClaims::useLongValueRow(RowPointer at, uint16_t rowsOnPage) {
  uint32_t& first = longValueRowsAt_[at.page];
  if (first == kNone) {
    first = static_cast<uint32_t>(longValueRowWords_.size());
    // Row numbers in pointers are one byte: four words cover any page, whatever its header claims.
    longValueRowWords_.resize(longValueRowWords_.size() + std::min(4u, (rowsOnPage + 63u) / 64u), 0);
  }
  uint64_t& word = longValueRowWords_[first + at.row / 64u];
  const uint64_t bit = uint64_t{1} << (at.row % 64u);
  if (word & bit) return false;
  word |= bit;
  return true;
}

namespace {

const char* useName(Use u) {
  switch (u) {
    case Use::None: return "nothing";
    case Use::Header: return "the header";
    case Use::FreeMap: return "the free-page map";
    case Use::Definition: return "a table definition";
    case Use::Data: return "rows";
    case Use::Index: return "an index";
    case Use::LongValue: return "long values";
    case Use::MapRows: return "usage maps";
    case Use::MapBitmap: return "a usage-map bitmap";
  }
  return "?";
}

// What a page nothing uses looks like, for the summary of space left behind.
std::string leftoverKind(PageReader& pages, const Format& f, uint32_t p) {
  PageHandle h = pages.page(p);
  Bytes b(*h);
  if (b[0] == static_cast<uint8_t>(PageType::Data)) {
    uint32_t owner = dataPageOwner(f, b);
    if (owner == kLongValueOwner) return "long-value";
    if (owner == 0) return "usage-map";
    return "data";
  }
  switch (b[0]) {
    case static_cast<uint8_t>(PageType::Header): return "empty";
    case static_cast<uint8_t>(PageType::TableDef): return "table-definition";
    case static_cast<uint8_t>(PageType::IndexNode):
    case static_cast<uint8_t>(PageType::IndexLeaf): return "index";
    case static_cast<uint8_t>(PageType::UsageMap): return "usage-map bitmap";
    default: return "type-" + std::to_string(b[0]);
  }
}

// A data page that names a table as its owner and holds live rows, yet is neither in the table's map nor free:
// those rows are lost to every reader, unless the table counts no more rows than its map reaches. Then they are copies
// Access left behind when it rewrote the table's rows elsewhere (it takes such pages out of the map without marking
// them free), and compaction leaves them out. Returns true when it reported one.
bool reportUnlistedRows(PageReader& pages, const Format& f, const PageClaims& claims, uint32_t p, ProblemLog& log) {
  PageHandle h = pages.page(p);
  Bytes b(*h);
  if (b[0] != static_cast<uint8_t>(PageType::Data)) return false;
  const std::string* owner = claims.tableAt(dataPageOwner(f, b));
  if (owner == nullptr) return false;
  size_t live = 0;
  try {
    uint16_t count = dataPageRowCount(f, b);
    for (uint16_t r = 0; r < count; ++r) {
      if ((le16(b.data() + f.rowOffsetTable() + 2u * r) & kRowDeletedFlag) == 0) ++live;
    }
  } catch (const Error& e) {
    onlyCorruption(e);
    return false;
  }
  if (live == 0) return false;
  if (claims.rowsAllReached(dataPageOwner(f, b))) {
    log.add(Severity::Warning, *owner, p, -1,
            "the page holds " + std::to_string(live) +
                " rows of the table that neither the table's map nor its row count includes (copies left behind)");
  } else {
    log.add(Severity::Error, *owner, p, -1,
            "the page holds " + std::to_string(live) + " rows of the table, but the table's map does not list it");
  }
  return true;
}

}  // namespace

bool PageClaims::claim(uint32_t page, Use use, uint32_t table, const std::string& tableForProblem, uint32_t detail) {
  if (page >= claims_.size()) return false;
  Claim& c = claims_[page];
  Claim wanted{use, table, detail};
  if (c.use == Use::None) {
    c = wanted;
    return true;
  }
  bool shared = c.use == use && (use == Use::MapRows || use == Use::LongValue);
  if (shared || (c.use == use && c.table == table && c.detail == detail)) return true;
  log_.add(Severity::Error, tableForProblem, page, -1,
           "the page is used for " + describe(wanted) + " and also for " + describe(c));
  return false;
}

std::string PageClaims::describe(const Claim& c) const {
  std::string s = useName(c.use);
  if (c.table != 0) s += " of table " + tableName(c.table);
  if (c.use == Use::Index) s += " (index " + std::to_string(c.detail) + ")";
  if (c.use == Use::MapBitmap) {
    RowPointer map = RowPointer::fromRaw(c.detail);
    s += " (of the map at page " + std::to_string(map.page) + " row " + std::to_string(map.row) + ")";
  }
  return s;
}

const std::string* PageClaims::tableAt(uint32_t tdef) const {
  auto it = tableNames_.find(tdef);
  return it != tableNames_.end() ? &it->second : nullptr;
}

std::string PageClaims::tableName(uint32_t tdef) const {
  const std::string* name = tableAt(tdef);
  return name != nullptr ? *name : "at page " + std::to_string(tdef);
}

FreeMap readFreeMap(PageReader& pages, PageClaims& claims, ProblemLog& log) {
  claims.claim(1, Use::FreeMap, 0, "");
  FreeMap result;
  result.free.assign(pages.pageCount(), false);
  try {
    UsageMap map = readUsageMap(pages, RowPointer{1, 0});
    UsageMapChecker(pages, claims, log).claimBitmaps(map, "");
    // Some versions of Access write bitmap page numbers past the end of the file (even 0xFFFFFF80) into the
    // free-page map. Nothing reads them but the allocator of new pages, and compaction writes a fresh map.
    uint64_t outside = 0;
    std::string examples;
    for (uint32_t page : map.bitmapPages) {
      if (page == 0 || page < pages.pageCount()) continue;
      if (++outside <= 4) examples += (examples.empty() ? "" : ", ") + std::to_string(page);
    }
    forEachMappedPage(
        pages, map,
        [&](uint32_t p) {
          result.free[p] = true;
          return true;
        },
        [&](size_t, uint32_t page, const std::string& why) {
          if (page < pages.pageCount()) log.add(Severity::Error, "", 1, 0, "the free-page map: " + why);
        });
    if (outside > 0) {
      log.add(Severity::Warning, "", 1, 0,
              "the free-page map lists " + std::to_string(outside) + " bitmap pages past the end of the file (" +
                  examples + (outside > 4 ? ", ..." : "") + ")");
    }
    result.read = true;
  } catch (const Error& e) {
    onlyCorruption(e);
    log.add(Severity::Error, "", 1, 0, std::string("the free-page map: ") + e.what());
  }
  return result;
}

void checkPageUse(PageReader& pages, const Format& f, const PageClaims& claims, const FreeMap& freeMap,
                  ProblemLog& log) {
  uint64_t unaccounted = 0;
  std::map<std::string, uint64_t> unaccountedKinds;
  std::string examples;
  for (uint32_t p = 0; p < claims.size(); ++p) {
    const Claim& c = claims[p];
    if (c.use != Use::None) {
      ++log.report().pagesInUse;
      if (freeMap.read && freeMap.free[p]) {
        log.add(Severity::Error, c.table != 0 ? claims.tableName(c.table) : "", p, -1,
                "the page holds " + claims.describe(c) + " but the free-page map marks it free");
      }
      continue;
    }
    if (!freeMap.read || freeMap.free[p]) continue;
    if (reportUnlistedRows(pages, f, claims, p, log)) continue;
    if (++unaccounted <= 8) examples += (examples.empty() ? "" : ", ") + std::to_string(p);
    ++unaccountedKinds[leftoverKind(pages, f, p)];
  }
  if (unaccounted > 0) {
    std::string kinds;
    for (const auto& [kind, n] : unaccountedKinds) kinds += "; " + std::to_string(n) + " " + kind;
    if (!kinds.empty()) kinds = "; by kind" + kinds.substr(1);
    log.add(Severity::Warning, "", 0, -1,
            std::to_string(unaccounted) + " pages are neither in use nor marked free (" + examples +
                (unaccounted > 8 ? ", ..." : "") + kinds + ")");
  }
}

}  // namespace jet
