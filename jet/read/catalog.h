// The catalog: the rows of MSysObjects, whose definition is always on page 2.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/pager/page_reader.h"
#include "jet/format/table_def.h"
#include "jet/read/table_scan.h"

namespace jet {

inline constexpr uint32_t kCatalogPage = 2;
// Types of catalog objects (the low seven bits of the Type column).
inline constexpr int16_t kObjectTypeTable = 1;
inline constexpr int16_t kObjectTypeDatabase = 2;
inline constexpr int16_t kObjectTypeContainer = 3;
// A table linked through ODBC: Access keeps a definition of it in the file (no rows), under the entry's Id.
inline constexpr int16_t kObjectTypeLinkedOdbcTable = 4;
// A table's Id is the page of its definition; the Ids of other objects have high bits set. An Id in this range reads
// as a page number, and so names a table if any.
inline constexpr bool idReadsAsPage(int64_t id) { return id >= 2 && id < 0x01000000; }
// Flags of catalog objects: Jet's own objects (the MSys* tables, the containers) carry the first; some files mark
// system tables with the second instead. Either makes an object a system object.
inline constexpr uint32_t kObjectFlagSystem = 0x80000000u;
inline constexpr uint32_t kObjectFlagSystemAlternative = 0x00000002u;
inline constexpr uint32_t kObjectFlagsSystem = kObjectFlagSystem | kObjectFlagSystemAlternative;

// The columns (indexes into def.columns) of the system table `table` whose values are table Ids: the Ids of
// MSysObjects, and the object Ids of the permission and navigation-pane tables. Empty for any other table.
std::vector<size_t> tableIdColumns(const std::string& table, const TableDef& def);
// `s` with its ASCII letters in lower case, the form in which Jet compares names.
std::string asciiFolded(std::string s);
// Whether `a` is the ASCII name `b`, ignoring ASCII case (as Jet does for the names of its own tables and columns).
bool sameName(const std::string& a, const char* b);

struct CatalogEntry {
  int32_t id = 0;
  int32_t parentId = 0;
  std::string name;
  int16_t type = 0;
  uint32_t flags = 0;
  RowLocation location;  // the entry's row in MSysObjects

  bool isTable() const { return (type & 0x7F) == kObjectTypeTable; }
  // A local table, or an object whose definition page the file keeps as one (a table linked through ODBC): what a
  // copy of the file carries as a table, and what the entry's Id names.
  bool hasTableDefinition() const {
    return isTable() || ((type & 0x7F) == kObjectTypeLinkedOdbcTable && idReadsAsPage(id));
  }
  bool isSystem() const { return (flags & kObjectFlagsSystem) != 0; }
  // For local tables the Id is the page of the table's definition.
  uint32_t tablePage() const { return static_cast<uint32_t>(id) & 0x00FFFFFF; }
};

struct Catalog {
  TableDef definition;  // of MSysObjects itself
  std::vector<CatalogEntry> entries;

  // Local tables in catalog order; system tables only when asked for.
  std::vector<const CatalogEntry*> tables(bool includeSystem) const;
  // Every entry with a table definition in the file (hasTableDefinition), in catalog order.
  std::vector<const CatalogEntry*> tableDefinitions() const;
  // The local table of that name (exact match first, then ignoring ASCII case, as Jet names are case-insensitive).
  const CatalogEntry* findTable(const std::string& name) const;
};

// Reads MSysObjects. Throws 3049 when it is missing or damaged.
Catalog readCatalog(PageReader& pages);

}  // namespace jet
