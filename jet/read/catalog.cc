#include "jet/read/catalog.h"

#include <algorithm>
#include <cctype>

#include "jet/format/row_layout.h"
#include "jet/format/value.h"

namespace jet {

std::vector<const CatalogEntry*> Catalog::tables(bool includeSystem) const {
  std::vector<const CatalogEntry*> out;
  for (const CatalogEntry& e : entries) {
    if (e.isTable() && (includeSystem || !e.isSystem())) out.push_back(&e);
  }
  return out;
}

std::vector<const CatalogEntry*> Catalog::tableDefinitions() const {
  std::vector<const CatalogEntry*> out;
  for (const CatalogEntry& e : entries) {
    if (e.hasTableDefinition()) out.push_back(&e);
  }
  return out;
}

const CatalogEntry* Catalog::findTable(const std::string& name) const {
  for (const CatalogEntry& e : entries) {
    if (e.isTable() && e.name == name) return &e;
  }
  std::string wanted = asciiFolded(name);
  for (const CatalogEntry& e : entries) {
    if (e.isTable() && asciiFolded(e.name) == wanted) return &e;
  }
  return nullptr;
}

Catalog readCatalog(PageReader& pages) {
  Catalog cat;
  cat.definition = readTableDef(pages, kCatalogPage);
  const TableDef& t = cat.definition;
  auto columnIndex = [&](const char* name) -> int {
    for (size_t k = 0; k < t.columns.size(); ++k) {
      if (t.columns[k].name == name) return static_cast<int>(k);
    }
    corrupt(std::string("the catalog has no column ") + name);
  };
  const int idCol = columnIndex("Id");
  const int parentCol = columnIndex("ParentId");
  const int nameCol = columnIndex("Name");
  const int typeCol = columnIndex("Type");
  const int flagsCol = columnIndex("Flags");

  TableScan scan(pages, t);
  RowRecord rec;
  RowLayout layout;
  Value v;
  while (scan.next(rec)) {
    crackRow(pages.format(), t, rec.bytes, layout);
    CatalogEntry e;
    e.location = rec.home;
    auto column = [&](int k) -> Value& {
      decodeValue(pages, t.columns[static_cast<size_t>(k)], rec.bytes, layout.fields[static_cast<size_t>(k)], v);
      return v;
    };
    e.id = static_cast<int32_t>(column(idCol).integer);
    e.parentId = static_cast<int32_t>(column(parentCol).null ? 0 : v.integer);
    e.name = column(nameCol).text;
    e.type = static_cast<int16_t>(column(typeCol).null ? 0 : v.integer);
    e.flags = static_cast<uint32_t>(column(flagsCol).null ? 0 : v.integer);
    cat.entries.push_back(std::move(e));
  }
  return cat;
}

std::string asciiFolded(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool sameName(const std::string& a, const char* b) {
  size_t n = 0;
  for (; b[n] != '\0'; ++n) {
    if (n >= a.size() ||
        std::tolower(static_cast<unsigned char>(a[n])) != std::tolower(static_cast<unsigned char>(b[n]))) {
      return false;
    }
  }
  return n == a.size();
}

namespace {

// System tables whose integer columns hold table Ids (the Ids of other objects are never page numbers). The
// navigation pane's groups of the "tables and related views" kind name their table by Id as well.
struct IdColumn {
  const char* table;
  const char* column;
};
constexpr IdColumn kIdColumns[] = {
    {"MSysObjects", "Id"},          {"MSysACEs", "ObjectId"},          {"MSysNavPaneGroupToObjects", "ObjectID"},
    {"MSysNavPaneObjectIDs", "Id"}, {"MSysNavPaneGroups", "ObjectID"},
};

}  // namespace

std::vector<size_t> tableIdColumns(const std::string& table, const TableDef& def) {
  std::vector<size_t> columns;
  for (const IdColumn& ic : kIdColumns) {
    if (!sameName(table, ic.table)) continue;
    for (size_t k = 0; k < def.columns.size(); ++k) {
      const ColumnDef& c = def.columns[k];
      if (sameName(c.name, ic.column) && c.type == ColumnType::Long) columns.push_back(k);
    }
  }
  return columns;
}

}  // namespace jet
