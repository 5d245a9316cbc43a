#include "jet/compact/plan.h"

#include <algorithm>

#include "jet/errors.h"

namespace jet {
namespace {

constexpr size_t kMaxTables = 32768;

}  // namespace

std::optional<uint32_t> TableIdMap::find(uint32_t oldPage) const {
  auto it = std::lower_bound(pairs_.begin(), pairs_.end(), std::make_pair(oldPage, uint32_t{0}));
  if (it == pairs_.end() || it->first != oldPage) return std::nullopt;
  return it->second;
}

uint32_t definitionPageCount(const Format& format, uint32_t length) {
  if (length <= format.pageSize) return 1;
  uint32_t per = format.pageSize - format.tdefContinuationHeader;
  return 1 + (length - format.pageSize + per - 1) / per;
}

CompactPlan planCompaction(PageReader& pages, const Catalog& catalog) {
  const Format& f = pages.format();
  std::vector<std::pair<uint32_t, const CatalogEntry*>> found;
  bool catalogListed = false;
  for (const CatalogEntry& e : catalog.entries) {
    if (!e.hasTableDefinition()) continue;
    if (!TableIdMap::looksLikeTableId(e.id)) {
      corrupt("the catalog lists table " + e.name + " with Id " + std::to_string(e.id) + ", which is no page number");
    }
    found.emplace_back(e.tablePage(), &e);
    if (e.tablePage() == kCatalogPage) catalogListed = true;
  }
  if (!catalogListed) found.emplace_back(kCatalogPage, nullptr);
  // Access holds at most 32768 objects; a catalog listing more tables is damaged, and every definition is kept in
  // memory while the copy is planned.
  if (found.size() > kMaxTables) corrupt("the catalog lists " + std::to_string(found.size()) + " tables");
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 1; i < found.size(); ++i) {
    if (found[i].first == found[i - 1].first) {
      corrupt("the catalog lists two tables with the definition page " + std::to_string(found[i].first));
    }
  }

  CompactPlan plan;
  uint32_t next = kCatalogPage;
  for (const auto& [page, entry] : found) {
    TablePlan t;
    t.name = entry != nullptr ? entry->name : "MSysObjects";
    t.system = entry != nullptr ? entry->isSystem() : true;
    t.def = page == kCatalogPage ? catalog.definition : readTableDef(pages, page);
    t.definitionLength = t.def.claimedLength();
    if (t.definitionLength > t.def.raw.size()) {
      corrupt("the definition of table " + t.name + " claims " + std::to_string(t.definitionLength) +
              " bytes but its pages hold " + std::to_string(t.def.raw.size()));
    }
    t.definitionPages = definitionPageCount(f, t.definitionLength);
    t.newPage = next;
    next += t.definitionPages;
    t.idColumns = tableIdColumns(t.name, t.def);
    plan.ids.add(page, t.newPage);
    plan.tables.push_back(std::move(t));
  }
  plan.firstDataPage = next;
  return plan;
}

}  // namespace jet
