// The driver of the check: the header and the free-page map first, then the catalog and each table it lists, then
// the pages of the file as a whole.
#include "jet/check/integrity_check.h"

#include <algorithm>
#include <functional>
#include <unordered_set>
#include <utility>

#include "jet/check/page_owners.h"
#include "jet/check/problem_log.h"
#include "jet/check/table_checker.h"

namespace jet {

size_t CheckReport::errors() const {
  return static_cast<size_t>(
      std::count_if(problems.begin(), problems.end(), [](const Problem& p) { return p.severity == Severity::Error; }));
}

size_t CheckReport::warnings() const { return problems.size() - errors(); }

bool CheckReport::clean(bool strict) const { return strict ? problems.empty() : errors() == 0; }

std::string describeProblem(const Problem& p) {
  std::string s = p.severity == Severity::Error ? "error: " : "warning: ";
  std::string where;
  if (!p.table.empty()) where = "table " + p.table;
  if (p.page != 0) where += (where.empty() ? "" : ", ") + std::string("page ") + std::to_string(p.page);
  if (p.row >= 0) where += ", row " + std::to_string(p.row);
  if (!where.empty()) s += where + ": ";
  return s + p.message;
}

namespace {

// An Id that reads as a page number but names no table would make the object look like a table's to whatever
// renumbers tables.
void checkCatalogIds(const Catalog& catalog, const PageClaims& claims, ProblemLog& log) {
  for (const CatalogEntry& e : catalog.entries) {
    const bool pageNumber = idReadsAsPage(e.id);
    if (e.isTable() && !pageNumber) {
      log.add(Severity::Error, e.name, 0, -1,
              "the catalog lists the table with Id " + std::to_string(e.id) + ", which is no page number");
    } else if (!e.isTable() && pageNumber && claims.tableAt(static_cast<uint32_t>(e.id)) == nullptr) {
      log.add(Severity::Error, "MSysObjects", e.location.page, e.location.row,
              "the catalog entry " + e.name + " has Id " + std::to_string(e.id) + ", which names no table");
    }
  }
}

}  // namespace

void checkWholeFile(Database& db, PageClaims& claims, ProblemLog& log,
                    const std::function<void(const std::string& name, uint32_t tdef)>& checkTable) {
  PageReader& pages = db.pages();
  claims.claim(0, Use::Header, 0, "");
  const FreeMap freeMap = readFreeMap(pages, claims, log);
  std::vector<std::pair<std::string, uint32_t>> tables;
  std::unordered_set<uint32_t> seen;
  bool catalogListed = false;
  for (const CatalogEntry* e : db.catalog().tableDefinitions()) {
    uint32_t page = e->tablePage();
    if (!seen.insert(page).second) {
      log.add(Severity::Error, e->name, page, -1, "a second catalog entry names the same table definition");
      continue;
    }
    catalogListed = catalogListed || page == kCatalogPage;
    tables.emplace_back(e->name, page);
    claims.nameTable(page, e->name);
  }
  if (!catalogListed) {
    tables.insert(tables.begin(), {"MSysObjects", kCatalogPage});
    claims.nameTable(kCatalogPage, "MSysObjects");
  }
  checkCatalogIds(db.catalog(), claims, log);
  for (const auto& [name, page] : tables) checkTable(name, page);
  checkPageUse(pages, db.format(), claims, freeMap, log);
}

CheckReport checkDatabase(Database& db, const CheckOptions& options) {
  CheckReport report;
  ProblemLog log(report, options.maxProblemsPerTable);
  PageClaims claims(db.pages().pageCount(), log);
  checkWholeFile(db, claims, log, [&](const std::string& name, uint32_t tdef) {
    TableChecker(db.pages(), name, tdef, claims, options, log).run();
  });
  log.close();
  return report;
}

}  // namespace jet
