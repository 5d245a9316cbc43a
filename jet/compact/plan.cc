#include "jet/compact/plan.h"

#include <algorithm>
#include <cctype>

#include "jet/errors.h"
#include "jet/format/row_layout.h"
#include "jet/format/value.h"
#include "jet/read/table_scan.h"

namespace jet {
namespace {

constexpr size_t kMaxTables = 32768;

std::string asciiLower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int columnNamed(const TableDef& def, const char* name, ColumnType type) {
  for (size_t k = 0; k < def.columns.size(); ++k) {
    if (sameName(def.columns[k].name, name) && def.columns[k].type == type) return static_cast<int>(k);
  }
  return -1;
}

// Gives the stale Ids of MSysNavPaneObjectIDs (rows of tables whose Id names no table) the new Id of the table of the
// row's name, where no row of the list has that table's own Id and no other stale row took it first: the list names
// each object once.
void rebindStaleNavigationIds(PageReader& pages, CompactPlan& plan) {
  const TablePlan* list = nullptr;
  for (const TablePlan& t : plan.tables) {
    if (sameName(t.name, "MSysNavPaneObjectIDs")) list = &t;
  }
  if (list == nullptr) return;
  const TableDef& def = list->def;
  const int idCol = columnNamed(def, "Id", ColumnType::Long);
  const int nameCol = columnNamed(def, "Name", ColumnType::Text);
  const int typeCol = columnNamed(def, "Type", ColumnType::Long);
  if (idCol < 0 || nameCol < 0 || typeCol < 0) return;

  struct Entry {
    uint32_t id;
    std::string name;
  };
  std::vector<Entry> stale;
  std::vector<uint32_t> listed;  // new Ids of the tables the list names by their own Id
  TableScan scan(pages, def);
  RowRecord rec;
  RowLayout layout;
  Value id, name, type;
  while (scan.next(rec)) {
    crackRow(pages.format(), def, rec.bytes, layout);
    decodeValue(pages, def.columns[static_cast<size_t>(idCol)], rec.bytes, layout.fields[static_cast<size_t>(idCol)],
                id);
    if (id.null || !TableIdMap::looksLikeTableId(static_cast<int32_t>(id.integer))) continue;
    const uint32_t old = static_cast<uint32_t>(id.integer);
    if (std::optional<uint32_t> to = plan.ids.find(old)) {
      listed.push_back(*to);
      continue;
    }
    decodeValue(pages, def.columns[static_cast<size_t>(typeCol)], rec.bytes,
                layout.fields[static_cast<size_t>(typeCol)], type);
    if (type.null || (type.integer & 0x7F) != kObjectTypeTable) continue;
    decodeValue(pages, def.columns[static_cast<size_t>(nameCol)], rec.bytes,
                layout.fields[static_cast<size_t>(nameCol)], name);
    if (!name.null && !name.text.empty()) stale.push_back({old, name.text});
  }
  if (stale.empty()) return;

  std::vector<uint32_t> taken = listed;
  std::vector<std::pair<uint32_t, uint32_t>> rebound;
  for (const Entry& e : stale) {
    // The exact name first, then ignoring ASCII case, as Jet compares names.
    const TablePlan* table = nullptr;
    for (const TablePlan& t : plan.tables) {
      if (t.name == e.name) table = &t;
    }
    if (table == nullptr) {
      const std::string wanted = asciiLower(e.name);
      for (const TablePlan& t : plan.tables) {
        if (asciiLower(t.name) == wanted) table = &t;
      }
    }
    if (table == nullptr || std::find(taken.begin(), taken.end(), table->newPage) != taken.end()) continue;
    if (std::any_of(rebound.begin(), rebound.end(), [&](const auto& r) { return r.first == e.id; })) continue;
    taken.push_back(table->newPage);
    rebound.emplace_back(e.id, table->newPage);
  }
  std::sort(rebound.begin(), rebound.end());
  for (const auto& [from, to] : rebound) plan.staleNavigationIds.add(from, to);
}

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
    t.navigationPane = !t.idColumns.empty() && t.name.size() > 11 && sameName(t.name.substr(0, 11), "MSysNavPane");
    t.keepRowsNamingNoTable = !t.idColumns.empty() && sameName(t.name, "MSysNavPaneGroups");
    plan.ids.add(page, t.newPage);
    plan.tables.push_back(std::move(t));
  }
  plan.firstDataPage = next;
  rebindStaleNavigationIds(pages, plan);
  return plan;
}

}  // namespace jet
