#include "jet/compact/lost_rows.h"

#include <algorithm>

#include "jet/format/data_page.h"
#include "jet/errors.h"
#include "jet/format/usage_map.h"

namespace jet {
namespace {

// Rows a page holds that no flag marks deleted: overflow pointers count (their row lives on through them), the moved
// bytes they point at do not (those are flagged deleted where they lie).
uint64_t liveRows(const Format& f, Bytes page) {
  if (page.size() < f.rowOffsetTable()) return 0;
  const uint16_t count = le16(page.data() + f.dataRowCountOffset);
  uint64_t live = 0;
  for (uint32_t r = 0; r < count && f.rowOffsetTable() + 2u * r + 2 <= page.size(); ++r) {
    if ((le16(page.data() + f.rowOffsetTable() + 2u * r) & kRowDeletedFlag) == 0) ++live;
  }
  return live;
}

std::string counted(uint64_t n, const char* what) {
  std::string s = std::to_string(n);
  s += ' ';
  s += what;
  if (n != 1) s += 's';
  return s;
}

// "page 31" or "pages 31, 40, ..."
std::string pageList(const std::vector<uint32_t>& pages) {
  std::string s = pages.size() == 1 ? "page " : "pages ";
  for (size_t i = 0; i < pages.size() && i < 4; ++i) {
    if (i > 0) s += ", ";
    s += std::to_string(pages[i]);
  }
  if (pages.size() > 4) s += ", ...";
  return s;
}

}  // namespace

LostRowsCheck::LostRowsCheck(PageReader& source, const CompactPlan& plan)
    : format_(source.format()), lister_(source.pageCount(), 0), free_(source.pageCount(), false) {
  tables_.reserve(plan.tables.size());
  for (const TablePlan& t : plan.tables) {
    Table table;
    table.plan = &t;
    tables_.push_back(std::move(table));
  }
  for (uint32_t i = 0; i < tables_.size(); ++i) {
    const TablePlan& t = *tables_[i].plan;
    UsageMap map;
    try {
      map = readUsageMap(source, t.def.ownedPages.at);
      forEachMappedPage(source, map, [&](uint32_t p) {
        ++tables_[i].mappedPages;
        if (lister_[p] == 0) {
          lister_[p] = i + 1;
        } else {
          alsoListed_.emplace_back(p, i + 1);
        }
        return true;
      });
    } catch (const Error& e) {
      if (e.code() != ErrorCode::Corrupt) throw;
      corrupt("the page map of table " + t.name + " cannot be read, so none of its rows can be found: " + e.what());
    }
    PagesPastTheEnd past = mappedPagesPastTheEnd(source, map);
    tables_[i].pagesPastTheEnd = past.count;
    tables_[i].firstPastTheEnd = static_cast<uint32_t>(std::min<uint64_t>(past.first, UINT32_MAX));
  }
  std::sort(alsoListed_.begin(), alsoListed_.end());
  // Pages Access has freed may still hold the rows of a table dropped long ago, under a number another table now
  // has. A free-page map that cannot be read marks nothing free, which can only make the check stricter.
  try {
    UsageMap freeMap = readUsageMap(source, RowPointer{1, 0});
    forEachMappedPage(
        source, freeMap,
        [&](uint32_t p) {
          free_[p] = true;
          return true;
        },
        [](size_t, uint32_t, const std::string&) {});
  } catch (const Error& e) {
    if (e.code() != ErrorCode::Corrupt) throw;
  }
}

uint32_t LostRowsCheck::tableAt(uint32_t tdef) const {
  auto it = std::lower_bound(tables_.begin(), tables_.end(), tdef,
                             [](const Table& t, uint32_t page) { return t.plan->def.page < page; });
  if (it == tables_.end() || it->plan->def.page != tdef) return 0;
  return static_cast<uint32_t>(it - tables_.begin()) + 1;
}

bool LostRowsCheck::listedBy(uint32_t page, uint32_t table) const {
  if (lister_[page] == table) return true;
  return std::binary_search(alsoListed_.begin(), alsoListed_.end(), std::make_pair(page, table));
}

void LostRowsCheck::page(uint32_t number, Bytes bytes) {
  if (number == 0 || number >= lister_.size() || bytes.empty()) return;
  const bool data = bytes[0] == static_cast<uint8_t>(PageType::Data) && bytes.size() >= format_.rowOffsetTable();
  const uint32_t owner = data ? tableAt(dataPageOwner(format_, bytes)) : 0;
  // Every table whose map lists the page must own it.
  auto lister = [&](uint32_t table) {
    if (table == owner) {
      tables_[table - 1].rowsReached += liveRows(format_, bytes);
    } else {
      tables_[table - 1].foreignPages.push_back(number);
    }
  };
  if (lister_[number] != 0) lister(lister_[number]);
  auto also = std::lower_bound(alsoListed_.begin(), alsoListed_.end(), std::make_pair(number, uint32_t{0}));
  for (; also != alsoListed_.end() && also->first == number; ++also) lister(also->second);
  if (owner == 0 || listedBy(number, owner) || free_[number]) return;
  const uint64_t live = liveRows(format_, bytes);
  if (live == 0) return;
  Table& t = tables_[owner - 1];
  t.unreachedRows += live;
  t.unreachedPages.push_back(number);
}

bool LostRowsCheck::leftBehind(const Table& t) {
  return t.unreachedRows > 0 && t.pagesPastTheEnd == 0 && t.foreignPages.empty() &&
         t.rowsReached == t.plan->def.rowCount;
}

uint64_t LostRowsCheck::leftBehindRows() const {
  uint64_t n = 0;
  for (const Table& t : tables_) {
    if (leftBehind(t)) n += t.unreachedRows;
  }
  return n;
}

void LostRowsCheck::finish() const {
  std::string message;
  for (const Table& t : tables_) {
    const bool missing = t.pagesPastTheEnd > 0 || !t.foreignPages.empty();
    if ((t.unreachedRows == 0 && !missing) || leftBehind(t)) continue;
    // Rows that were on pages the file lacks, or that were overwritten, cannot be counted; the table's own count
    // says how many it should have.
    const uint64_t stored = t.plan->def.rowCount;
    const uint64_t uncounted = missing && stored > t.rowsReached ? stored - t.rowsReached : 0;
    const uint64_t lost = std::max(t.unreachedRows, uncounted);
    // Appended piece by piece: GCC 12 at -O3 warns falsely about literal + temporary string chains here.
    std::string s = "table ";
    s += t.plan->name;
    s += " would lose ";
    s += lost > 0 ? counted(lost, "row") : std::string("an unknown number of rows");
    s += ":";
    if (t.unreachedRows > 0) {
      s += ' ';
      s += pageList(t.unreachedPages);
      s += t.unreachedPages.size() == 1 ? " holds " : " hold ";
      s += counted(t.unreachedRows, "live row");
      s += " of the table that its page map does not list;";
    }
    if (t.pagesPastTheEnd > 0) {
      s += " its page map lists ";
      s += counted(t.pagesPastTheEnd, "page");
      s += " past the end of the file (the first is ";
      s += std::to_string(t.firstPastTheEnd);
      s += "; the file may have been cut short);";
    }
    if (!t.foreignPages.empty()) {
      s += " its page map lists ";
      s += pageList(t.foreignPages);
      s += t.foreignPages.size() == 1 ? " that is" : " that are";
      s += " not a data page of the table;";
    }
    if (missing) {
      s += " its definition counts ";
      s += counted(stored, "row");
      s += " and the pages it reaches hold ";
      s += std::to_string(t.rowsReached);
      s += ";";
    }
    s.pop_back();
    if (!message.empty()) message += "; ";
    message += s;
  }
  if (!message.empty()) corrupt(message);
}

void LostRowsCheck::run(PageReader& source, const CompactPlan& plan) {
  LostRowsCheck check(source, plan);
  for (uint32_t p = 1; p < source.pageCount(); ++p) {
    PageHandle h = source.page(p);
    check.page(p, Bytes(*h));
  }
  check.finish();
}

}  // namespace jet
