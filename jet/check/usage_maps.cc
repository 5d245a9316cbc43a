#include "jet/check/usage_maps.h"

#include <unordered_set>

namespace jet {

void UsageMapChecker::claimBitmaps(const UsageMap& map, const std::string& table) {
  std::unordered_set<uint32_t> listed;
  const uint32_t per = UsageMap::pagesPerBitmapPage(pages_.pageSize());
  for (size_t k = 0; k < map.bitmapPages.size(); ++k) {
    // Slots that stand only for pages past the end of the file are never read.
    if (uint64_t{k} * per >= claims_.size()) break;
    const uint32_t p = map.bitmapPages[k];
    if (p == 0 || p >= claims_.size()) continue;
    if (!listed.insert(p).second) {
      log_.add(Severity::Error, table, p, -1,
               "the usage map at page " + std::to_string(map.location.page) + " row " +
                   std::to_string(map.location.row) + " lists this bitmap page twice");
      continue;
    }
    claims_.claim(p, Use::MapBitmap, 0, table, map.location.raw());
  }
}

bool UsageMapChecker::read(const MapPointer& at, const std::string& table, uint32_t tdef, const std::string& what,
                           std::vector<uint32_t>& out, bool* complete) {
  out.clear();
  try {
    UsageMap map = readUsageMap(pages_, at.at);
    claims_.claim(at.at.page, Use::MapRows, 0, table);
    claimBitmaps(map, table);
    out = mappedPages(pages_, map);
    if (reportPagesPastTheEnd(map, table, tdef, what) && complete != nullptr) *complete = false;
    return true;
  } catch (const Error& e) {
    onlyCorruption(e);
    log_.add(Severity::Error, table, tdef, -1, "the " + what + " cannot be read: " + e.what());
    return false;
  }
}

// Readers skip the bits of a map that stand for pages past the end of the file; in a table's maps such bits mean
// the file lost its end (or the map is damaged), and the rows there would vanish without a word.
bool UsageMapChecker::reportPagesPastTheEnd(const UsageMap& map, const std::string& table, uint32_t tdef,
                                            const std::string& what) {
  PagesPastTheEnd past = mappedPagesPastTheEnd(pages_, map);
  if (past.count > 0) {
    log_.add(Severity::Error, table, tdef, -1,
             "the " + what + " lists " + std::to_string(past.count) +
                 " pages past the end of the file (the first is page " + std::to_string(past.first) +
                 "): the file may have been cut short");
  }
  return past.count > 0;
}

}  // namespace jet
