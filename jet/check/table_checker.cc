#include "jet/check/table_checker.h"

#include <algorithm>

namespace jet {

TableChecker::TableChecker(Database& db, const std::string& name, uint32_t tdef, PageClaims& claims,
                           const CheckOptions& options, ProblemLog& log)
    : pages_(db.pages()),
      f_(db.format()),
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

void TableChecker::check() {
  try {
    def_ = readTableDef(pages_, tdef_);
  } catch (const Error& e) {
    onlyCorruption(e);
    add(Severity::Error, tdef_, -1, std::string("the table definition cannot be read: ") + e.what());
    return;
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
    return;
  }

  CheckObserver* observer = options_.observer;
  if (observer != nullptr) observer->beginTable(name_, def);
  std::vector<uint32_t> owned;
  std::vector<uint32_t> withSpace;
  // Rows on pages the file lacks cannot be counted, so index membership is only checked when every page is there.
  bool ownedComplete = true;
  bool ownedRead = maps_.read(def.ownedPages, name_, tdef_, "map of the table's pages", owned, &ownedComplete);
  if (maps_.read(def.freeSpacePages, name_, tdef_, "map of the table's pages with free space", withSpace) &&
      ownedRead) {
    for (uint32_t p : withSpace) {
      if (!std::binary_search(owned.begin(), owned.end(), p)) {
        add(Severity::Error, p, -1, "the map of pages with free space lists a page the table does not own");
      }
    }
  }
  PagesByColumn longValuePages;
  ListedLongValuePages listedLongValuePages;
  checkLongValueMaps(longValuePages, listedLongValuePages);

  LiveRows rows;
  scanRows(owned, longValuePages, rows);
  checkListedLongValuePages(listedLongValuePages);
  log_.report().rows += rows.home.size();
  if (ownedRead && ownedComplete && rows.home.size() != def.rowCount) {
    add(Severity::Warning, tdef_, -1,
        "stored row count " + std::to_string(def.rowCount) + ", found " + std::to_string(rows.home.size()));
  }
  for (uint32_t k = 0; k < def.realIndexes.size(); ++k) checkIndex(k, rows, ownedRead && ownedComplete);
  if (observer != nullptr) observer->endTable();
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
    const bool namesTable = li.relatedTablePage >= 2 && li.relatedTablePage < 0x01000000;
    if ((li.type == 2 || namesTable) && claims_.tableAt(li.relatedTablePage) == nullptr) {
      add(Severity::Error, tdef_, -1,
          (li.type == 2 ? "foreign key " : "index ") + li.name + " refers to the table at page " +
              std::to_string(li.relatedTablePage) + ", which the catalog does not list");
    }
  }
}

}  // namespace jet
