#include "jet/check/table_checker.h"

#include <algorithm>

namespace jet {

TableChecker::TableChecker(PageReader& pages, const std::string& name, uint32_t tdef, PageClaims& claims,
                           const CheckOptions& options, ProblemLog& log)
    : pages_(pages),
      f_(pages.format()),
      name_(name),
      tdef_(tdef),
      claims_(claims),
      options_(options),
      log_(log),
      maps_(pages_, claims, log) {}

void TableChecker::run() {
  try {
    check();
  } catch (const Error& e) {
    onlyCorruption(e);
    // Anything a table's own checks did not catch (a read error, say) still belongs to that table.
    add(Severity::Error, tdef_, -1, e.what());
  }
  ++log_.report().tables;
}

void TableChecker::runContents(const TableDef& expected, TableFeed& feed, uint64_t mostRows) {
  streamed_ = true;
  def_ = expected;
  try {
    checkContents(feed, mostRows);
  } catch (const Error& e) {
    onlyCorruption(e);
    add(Severity::Error, tdef_, -1, e.what());
  }
  ++log_.report().tables;
}

void TableChecker::runStructure() {
  try {
    checkStructure();
  } catch (const Error& e) {
    onlyCorruption(e);
    add(Severity::Error, tdef_, -1, e.what());
  }
}

bool TableChecker::readDefinition() {
  try {
    def_ = readTableDef(pages_, tdef_);
  } catch (const Error& e) {
    onlyCorruption(e);
    add(Severity::Error, tdef_, -1, std::string("the table definition cannot be read: ") + e.what());
    return false;
  }
  const TableDef& def = def_;
  for (uint32_t p : def.pages) claim(p, Use::Definition, tdef_);
  if (def.claimedLength() > def.raw.size()) {
    add(Severity::Error, tdef_, -1,
        "the table definition claims " + std::to_string(def.claimedLength()) + " bytes but its pages hold " +
            std::to_string(def.raw.size()));
  }
  // Jet allows 255 columns and 32 indexes a table. A definition claiming far more is damaged, and checking it as
  // it stands would cost time and memory in proportion to rows times columns or indexes.
  if (def.columns.size() > kMaxColumns || def.realIndexes.size() > kMaxIndexes) {
    add(Severity::Error, tdef_, -1,
        "the table definition claims " + std::to_string(def.columns.size()) + " columns and " +
            std::to_string(def.realIndexes.size()) + " indexes, more than Jet allows; its rows were not checked");
    return false;
  }
  if (options_.observer != nullptr) options_.observer->definition(name_, def);
  return true;
}

void TableChecker::check() {
  if (!readDefinition()) return;
  const TableDef& def = def_;
  CheckObserver* observer = options_.observer;
  if (observer != nullptr) observer->beginTable(name_, def);
  std::vector<uint32_t> owned;
  // Rows on pages the file lacks cannot be counted, so index membership is only checked when every page is there.
  bool ownedComplete = true;
  bool ownedRead = maps_.read(def.ownedPages, name_, tdef_, "map of the table's pages", owned, &ownedComplete);
  checkFreeSpaceMap(ownedRead ? &owned : nullptr);
  PagesByColumn longValuePages;
  ListedLongValuePages listedLongValuePages;
  checkLongValueMaps(longValuePages, listedLongValuePages);

  LiveRows rows;
  prepareRows(rows, uint64_t{owned.size()} * f_.maxRowsPerPage());
  scanRows(owned, longValuePages, rows);
  checkListedLongValuePages(listedLongValuePages);
  log_.report().rows += rows.home.size();
  if (ownedRead && ownedComplete && rows.home.size() != def.rowCount) {
    add(Severity::Warning, tdef_, -1,
        "stored row count " + std::to_string(def.rowCount) + ", found " + std::to_string(rows.home.size()));
  } else if (ownedRead && ownedComplete && !mapListsOtherPages_) {
    claims_.noteRowsAllReached(tdef_);
  }
  for (uint32_t k = 0; k < def.realIndexes.size(); ++k) checkIndex(k, rows, ownedRead && ownedComplete);
  if (observer != nullptr) observer->endTable();
  checkLogicalIndexes();
}

// The pages with free space must be pages the table owns (when its map of them could be read).
void TableChecker::checkFreeSpaceMap(const std::vector<uint32_t>* owned) {
  std::vector<uint32_t> withSpace;
  if (!maps_.read(def_.freeSpacePages, name_, tdef_, "map of the table's pages with free space", withSpace)) return;
  if (owned == nullptr) return;
  for (uint32_t p : withSpace) {
    if (!std::binary_search(owned->begin(), owned->end(), p)) {
      add(Severity::Error, p, -1, "the map of pages with free space lists a page the table does not own");
    }
  }
}

void TableChecker::takeGrowth() {
  pages_.refreshSize();
  claims_.grow(pages_.pageCount());
}

// The rows first, page by page as they are written, then each index once it is: the same work as check(), in the
// order the writer produces the pages, with the definition the writer is going to write.
void TableChecker::checkContents(TableFeed& feed, uint64_t mostRows) {
  const TableDef& def = def_;
  if (def.columns.size() > kMaxColumns || def.realIndexes.size() > kMaxIndexes) {
    add(Severity::Error, tdef_, -1, "the table has more columns or indexes than Jet allows; its rows were not checked");
    return;
  }
  CheckObserver* observer = options_.observer;
  if (observer != nullptr) observer->beginTable(name_, def);
  LiveRows rows;
  prepareRows(rows, mostRows);
  std::vector<uint32_t> pages;
  while (feed.nextDataPages(pages)) {
    takeGrowth();
    scanRows(pages, {}, rows);
    streamedPages_.insert(streamedPages_.end(), pages.begin(), pages.end());
    pages.clear();
  }
  rowsFound_ = rows.home.size();
  log_.report().rows += rowsFound_;
  walked_.resize(def.realIndexes.size());
  Pointed pointed;
  for (uint32_t k = 0; k < def.realIndexes.size(); ++k) {
    def_.realIndexes[k].rootPage = feed.indexRoot(k);
    takeGrowth();
    ++log_.report().indexes;
    if (!walkIndex(k, rows, walked_[k], pointed)) continue;
    const RealIndexDef& ix = def.realIndexes[k];
    compareMembership(indexName(def, k), (ix.flags & kIndexIgnoreNulls) != 0, rows, rows.keys[k], pointed);
  }
  if (observer != nullptr) observer->endTable();
  contentsChecked_ = true;
  std::sort(streamedPages_.begin(), streamedPages_.end());
  std::sort(valuePages_.begin(), valuePages_.end());
  valuePages_.erase(std::unique(valuePages_.begin(), valuePages_.end()), valuePages_.end());
}

// The definition and the maps as written, against what the contents were checked with.
void TableChecker::checkStructure() {
  takeGrowth();
  const std::vector<uint32_t> roots = [&] {
    std::vector<uint32_t> r;
    for (const RealIndexDef& ix : def_.realIndexes) r.push_back(ix.rootPage);
    return r;
  }();
  const size_t columns = def_.columns.size();
  if (!readDefinition() || !contentsChecked_) return;
  const TableDef& def = def_;
  if (def.columns.size() != columns || def.realIndexes.size() != roots.size()) {
    add(Severity::Error, tdef_, -1,
        "the table definition has other columns or indexes than its rows were written with");
    return;
  }
  std::vector<uint32_t> owned;
  const bool ownedRead = maps_.read(def.ownedPages, name_, tdef_, "map of the table's pages", owned);
  if (ownedRead) {
    for (uint32_t p : owned) {
      if (!std::binary_search(streamedPages_.begin(), streamedPages_.end(), p)) {
        add(Severity::Error, p, -1, "the table's map lists a page the table's rows were not written to");
      }
    }
    for (uint32_t p : streamedPages_) {
      if (!std::binary_search(owned.begin(), owned.end(), p)) {
        add(Severity::Error, p, -1, "the page holds rows of the table, but the table's map does not list it");
      }
    }
  }
  checkFreeSpaceMap(ownedRead ? &owned : nullptr);
  PagesByColumn longValuePages;
  ListedLongValuePages listedLongValuePages;
  checkLongValueMaps(longValuePages, listedLongValuePages);
  for (const auto& [column, page] : valuePages_) {
    auto listed = longValuePages.find(column);
    if (listed != longValuePages.end() && !std::binary_search(listed->second.begin(), listed->second.end(), page)) {
      add(Severity::Error, page, -1,
          "the page holds long values of column " + std::to_string(column) +
              ", but the column's long-value map does not list it");
    }
  }
  checkListedLongValuePages(listedLongValuePages);
  if (rowsFound_ != def.rowCount) {
    add(Severity::Warning, tdef_, -1,
        "stored row count " + std::to_string(def.rowCount) + ", found " + std::to_string(rowsFound_));
  }
  for (uint32_t k = 0; k < def.realIndexes.size(); ++k) {
    const RealIndexDef& ix = def.realIndexes[k];
    if (ix.rootPage != roots[k]) {
      add(Severity::Error, tdef_, -1,
          indexName(def, k) + " starts at page " + std::to_string(ix.rootPage) + ", but was written from page " +
              std::to_string(roots[k]));
      continue;
    }
    if (!walked_[k].walked) continue;
    std::vector<uint32_t> mapPages;
    const bool mapRead = maps_.read(ix.usageMap, name_, def.page, "page map of " + indexName(def, k), mapPages);
    finishIndex(k, walked_[k], mapRead ? &mapPages : nullptr);
  }
  checkLogicalIndexes();
}

void TableChecker::checkLogicalIndexes() {
  for (const LogicalIndexDef& li : def_.logicalIndexes) {
    if (li.realIndex >= def_.realIndexes.size()) {
      add(Severity::Error, tdef_, -1,
          "index " + li.name + " uses physical index " + std::to_string(li.realIndex) + ", which does not exist");
    }
    // A foreign key names the other table by its definition's page. Any other index whose related-table field
    // holds a page number (rather than 0 or all bits set) names a table too, and a copy would have to renumber it.
    const bool foreignKey = li.type == kLogicalIndexForeignKey;
    if ((foreignKey || idReadsAsPage(li.relatedTablePage)) && claims_.tableAt(li.relatedTablePage) == nullptr) {
      add(Severity::Error, tdef_, -1,
          (foreignKey ? "foreign key " : "index ") + li.name + " refers to the table at page " +
              std::to_string(li.relatedTablePage) + ", which the catalog does not list");
    }
  }
}

}  // namespace jet
