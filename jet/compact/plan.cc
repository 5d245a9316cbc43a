#include "jet/compact/plan.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "jet/errors.h"
#include "jet/format/row_layout.h"
#include "jet/format/value.h"
#include "jet/read/table_scan.h"

namespace jet {
namespace {

constexpr size_t kMaxTables = 32768;

int columnNamed(const TableDef& def, const char* name, ColumnType type) {
  for (size_t k = 0; k < def.columns.size(); ++k) {
    if (sameName(def.columns[k].name, name) && def.columns[k].type == type) return static_cast<int>(k);
  }
  return -1;
}

// Decides what each table Id in the navigation pane's list of objects (MSysNavPaneObjectIDs) stands for. Access keeps
// the names there up to date but not the Ids, which a compaction by Access leaves as they were: an Id may be an old
// page of its table, or even the page another table has now. So a row's name decides where its name is a table's;
// failing that, its Id does, if no other row stands for that table. Each table gets one row, preferably the one with
// its own Id; every other row is left out (mapped to 0).
void mapNavigationIds(PageReader& pages, CompactPlan& plan) {
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

  // The table of a name: the exact name first, then ignoring ASCII case, as Jet compares names. Maps, as the list may
  // be long (a damaged one as long as the file).
  std::unordered_map<std::string, uint32_t> exact, folded;
  for (const TablePlan& t : plan.tables) {
    exact.emplace(t.name, t.newPage);
    folded.emplace(asciiFolded(t.name), t.newPage);
  }
  auto tableNamed = [&](const std::string& name) -> uint32_t {
    if (auto it = exact.find(name); it != exact.end()) return it->second;
    auto it = folded.find(asciiFolded(name));
    return it != folded.end() ? it->second : 0;
  };
  struct Entry {
    uint32_t id = 0;
    uint32_t byName = 0;  // new Id of the table the row's name names, 0 if none
    uint32_t byId = 0;    // new Id of the table the row's Id names, 0 if none
    uint32_t to = 0;
  };
  std::vector<Entry> entries;
  TableScan scan(pages, def);
  RowRecord rec;
  RowLayout layout;
  Value id, name, type;
  auto decode = [&](int k, Value& v) {
    decodeValue(pages, def.columns[static_cast<size_t>(k)], rec.bytes, layout.fields[static_cast<size_t>(k)], v);
  };
  while (scan.next(rec)) {
    crackRow(pages.format(), def, rec.bytes, layout);
    decode(idCol, id);
    if (id.null || !TableIdMap::looksLikeTableId(static_cast<int32_t>(id.integer))) continue;
    Entry e;
    e.id = static_cast<uint32_t>(id.integer);
    e.byId = plan.ids.find(e.id).value_or(0);
    decode(typeCol, type);
    decode(nameCol, name);
    if (!type.null && (type.integer & 0x7F) == kObjectTypeTable && !name.null) e.byName = tableNamed(name.text);
    entries.push_back(e);
  }
  // An Id listed twice means what its first row says.
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.id < b.id; });
  entries.erase(
      std::unique(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.id == b.id; }),
      entries.end());

  std::unordered_set<uint32_t> taken;
  auto take = [&](Entry& e, uint32_t to) {
    if (e.to == 0 && to != 0 && taken.insert(to).second) e.to = to;
  };
  for (Entry& e : entries) {
    if (e.byName == e.byId) take(e, e.byName);
  }
  for (Entry& e : entries) take(e, e.byName);
  for (Entry& e : entries) {
    if (e.byName == 0) take(e, e.byId);
  }
  for (const Entry& e : entries) plan.navigationIds.add(e.id, e.to);
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
    plan.ids.add(page, t.newPage);
    plan.tables.push_back(std::move(t));
  }
  plan.firstDataPage = next;
  mapNavigationIds(pages, plan);
  return plan;
}

}  // namespace jet
