#include "jet/create/database_writer.h"

#include <algorithm>

#include "jet/format/index_keys.h"
#include "jet/create/system_tables.h"
#include "jet/errors.h"
#include "jet/format/usage_map_builder.h"
#include "jet/read/catalog.h"

namespace jet::create {
namespace {

constexpr int32_t kRootContainer = 0x0F000000;
constexpr int32_t kTablesContainer = 0x0F000001;
constexpr int32_t kDatabasesContainer = 0x0F000002;
constexpr int32_t kRelationshipsContainer = 0x0F000003;
constexpr int32_t kDatabaseObject = 0x10000000;
constexpr int32_t kFirstAccessContainer = static_cast<int32_t>(0x80000000u);
constexpr auto kFlagsSystemObject = static_cast<int32_t>(kObjectFlagSystem);
// Access rights masks as Jet grants them to the creator: everything, and read-only design for other users.
constexpr int32_t kRightsAll = 0x000FFFFF;
constexpr int32_t kRightsReadDesign = 0x00060000;
// Security ids of the default "Admin" user and "Users" group as Jet stores them.
const std::vector<uint8_t> kAdminSid = {0xA6, 0x33};
const std::vector<uint8_t> kUsersSid = {0xA7, 0x33};

// Every catalog row carries the same creation and update date: the moment the object was made.
struct CatalogRow {
  int32_t id = 0;
  int32_t parentId = 0;
  std::string name;
  int16_t type = 0;
  int32_t flags = 0;
  double date = 0;
  bool deleted = false;
};

}  // namespace

DatabaseWriter::DatabaseWriter(std::unique_ptr<PageSink> sink, const HeaderSettings& header)
    : file_(std::move(sink), kJet4Format), header_(header) {
  file_.allocate();  // page 0
  file_.allocate();  // page 1
  for (TableSchema schema : {msysObjectsSchema(), msysAcesSchema(), msysQueriesSchema(), msysRelationshipsSchema()}) {
    uint32_t page = file_.allocate();  // 2, 3, 4, 5
    system_.push_back(Entry{std::make_unique<TableWriter>(file_, std::move(schema), page), header.creationDate, false});
  }
}

TableWriter& DatabaseWriter::createTable(TableSchema schema) {
  uint32_t page = file_.allocate();
  // Tables are made a few seconds apart after the database itself.
  double created = header_.creationDate + static_cast<double>(user_.size() + 1) * 5.0 / 86400.0;
  user_.push_back(Entry{std::make_unique<TableWriter>(file_, std::move(schema), page), created, false});
  return *user_.back().writer;
}

void DatabaseWriter::dropTable(TableWriter& table) {
  for (Entry& e : user_) {
    if (e.writer.get() != &table) continue;
    if (e.dropped) return;
    e.dropped = true;
    table.finishRows();
    std::vector<uint32_t> pages = table.allPages();
    freePages_.insert(freePages_.end(), pages.begin(), pages.end());
    return;
  }
  fail(ErrorCode::InvalidArgument, "dropTable: the table does not belong to this database");
}

void DatabaseWriter::addRelationship(const std::string& name, const std::string& table, const std::string& column,
                                     const std::string& referencedTable, const std::string& referencedColumn) {
  relationships_.push_back(Relationship{name, table, column, referencedTable, referencedColumn});
}

void DatabaseWriter::writeCatalog() {
  std::vector<CatalogRow> rows;
  const double d = header_.creationDate;
  rows.push_back({kTablesContainer, kRootContainer, "Tables", kObjectTypeContainer, kFlagsSystemObject, d, false});
  rows.push_back(
      {kDatabasesContainer, kRootContainer, "Databases", kObjectTypeContainer, kFlagsSystemObject, d, false});
  rows.push_back(
      {kRelationshipsContainer, kRootContainer, "Relationships", kObjectTypeContainer, kFlagsSystemObject, d, false});
  rows.push_back({kDatabaseObject, kDatabasesContainer, "MSysDb", kObjectTypeDatabase, kFlagsSystemObject, d, false});
  for (const Entry& e : system_) {
    rows.push_back({static_cast<int32_t>(e.writer->tdefPage()), kTablesContainer, e.writer->schema().name,
                    kObjectTypeTable, kFlagsSystemObject, d, false});
  }
  const char* accessContainers[] = {"DataAccessPages", "Forms", "Modules", "Reports", "Scripts", "SysRel"};
  int32_t n = 0;
  for (const char* name : accessContainers) {
    rows.push_back({kFirstAccessContainer + n++, kRootContainer, name, kObjectTypeContainer, 0, d, false});
  }
  for (const Entry& e : user_) {
    rows.push_back({static_cast<int32_t>(e.writer->tdefPage()), kTablesContainer, e.writer->schema().name,
                    kObjectTypeTable, 0, e.created, e.dropped});
  }

  TableWriter& objects = *system_[0].writer;
  std::vector<IndexEntry> byId;
  std::vector<IndexEntry> byParentName;
  for (const CatalogRow& r : rows) {
    std::vector<FieldValue> f(kObjColumnCount);
    std::u16string name = utf8ToUtf16(r.name);
    f[kObjId] = longField(r.id);
    f[kObjParentId] = longField(r.parentId);
    f[kObjName] = textField(name, false);
    f[kObjType] = integerField(r.type);
    f[kObjDateCreate] = dateField(r.date);
    f[kObjDateUpdate] = dateField(r.date);
    f[kObjOwner] = bytesField(kAdminSid);
    f[kObjFlags] = longField(r.flags);
    RowPointer at = objects.addRow(std::move(f), r.deleted);
    if (r.deleted) continue;
    std::vector<uint8_t> key;
    appendLongKey(r.id, key);
    byId.push_back(makeLeafEntry(key, at));
    key.clear();
    appendLongKey(r.parentId, key);
    if (!appendGeneralLegacyTextKey(name, key)) {
      fail(ErrorCode::InvalidArgument, "object name " + r.name + " has characters without an index key");
    }
    byParentName.push_back(makeLeafEntry(key, at));
  }
  objects.writeIndex(0, std::move(byId));
  objects.writeIndex(1, std::move(byParentName));

  // Access rights: the creator may do everything with each object, other users may read its design.
  TableWriter& aces = *system_[1].writer;
  std::vector<IndexEntry> byObject;
  for (const CatalogRow& r : rows) {
    if (r.type == kObjectTypeDatabase) continue;
    for (int k = 0; k < 2; ++k) {
      std::vector<FieldValue> f(4);
      f[0] = longField(r.id);
      f[1] = bytesField(k == 0 ? kAdminSid : kUsersSid);
      f[2] = longField(k == 0 ? kRightsAll : kRightsReadDesign);
      f[3] = booleanField(r.type == kObjectTypeContainer && k == 0);
      RowPointer at = aces.addRow(std::move(f), r.deleted);
      if (r.deleted) continue;
      std::vector<uint8_t> key;
      appendLongKey(r.id, key);
      byObject.push_back(makeLeafEntry(key, at));
    }
  }
  aces.writeIndex(0, std::move(byObject));

  // No saved queries.
  system_[2].writer->writeIndex(0, std::vector<IndexEntry>{});

  // Relationships: one row per column pair (grbit 0: integrity enforced, nothing cascades), indexed by the
  // referencing table, the referenced table and the relationship's name.
  TableWriter& relations = *system_[3].writer;
  std::vector<IndexEntry> byIndex[3];
  for (const Relationship& r : relationships_) {
    std::vector<FieldValue> f(8);
    const std::u16string name = utf8ToUtf16(r.name), table = utf8ToUtf16(r.table),
                         referenced = utf8ToUtf16(r.referencedTable);
    f[0] = textField(name, false);
    f[1] = longField(0);
    f[2] = longField(1);
    f[3] = longField(0);
    f[4] = textField(table, false);
    f[5] = textField(utf8ToUtf16(r.column), false);
    f[6] = textField(referenced, false);
    f[7] = textField(utf8ToUtf16(r.referencedColumn), false);
    RowPointer at = relations.addRow(std::move(f));
    const std::u16string* keys[3] = {&table, &referenced, &name};
    for (size_t k = 0; k < 3; ++k) {
      std::vector<uint8_t> key;
      if (!appendGeneralLegacyTextKey(*keys[k], key)) {
        fail(ErrorCode::InvalidArgument, "relationship " + r.name + " has names without index keys");
      }
      byIndex[k].push_back(makeLeafEntry(key, at));
    }
  }
  for (size_t k = 0; k < 3; ++k) relations.writeIndex(k, std::move(byIndex[k]));
}

void DatabaseWriter::finish() {
  writeCatalog();
  const Format& f = kJet4Format;

  // Usage maps of every table still in the catalog, as rows on pages owned by no table.
  std::vector<Entry*> live;
  for (Entry& e : system_) live.push_back(&e);
  for (Entry& e : user_) {
    if (!e.dropped) live.push_back(&e);
  }
  std::vector<std::vector<uint8_t>> mapRows;
  std::vector<size_t> firstMapRow;
  for (Entry* e : live) {
    e->writer->finishRows();
    firstMapRow.push_back(mapRows.size());
    for (std::vector<uint32_t>& set : e->writer->usageMapPageSets()) {
      EncodedUsageMap map = encodeUsageMap(f, std::move(set), [this] { return file_.allocate(); });
      for (auto& [page, bytes] : map.bitmapPages) file_.write(page, std::move(bytes));
      mapRows.push_back(std::move(map.row));
    }
  }
  std::vector<RowPointer> mapPlaces;
  {
    std::vector<RowPlacement> placements;
    std::vector<std::vector<uint8_t>> pages = packDataPages(f, 0, mapRows, placements);
    std::vector<uint32_t> numbers;
    for (size_t i = 0; i < pages.size(); ++i) {
      numbers.push_back(file_.allocate());
      file_.write(numbers.back(), std::move(pages[i]));
    }
    for (const RowPlacement& p : placements) mapPlaces.push_back(RowPointer{numbers[p.pageIndex], p.row});
  }
  for (size_t i = 0; i < live.size(); ++i) {
    size_t count = live[i]->writer->usageMapPageSets().size();
    std::vector<RowPointer> places(mapPlaces.begin() + static_cast<std::ptrdiff_t>(firstMapRow[i]),
                                   mapPlaces.begin() + static_cast<std::ptrdiff_t>(firstMapRow[i] + count));
    std::vector<uint32_t> related;
    for (const ForeignKeySpec& fk : live[i]->writer->schema().foreignKeys) {
      uint32_t page = 0;
      for (const Entry& e : user_) {
        if (!e.dropped && e.writer->schema().name == fk.relatedTable) page = e.writer->tdefPage();
      }
      if (page == 0) fail(ErrorCode::InvalidArgument, "foreign key " + fk.name + " relates to no table");
      related.push_back(page);
    }
    file_.write(live[i]->writer->tdefPage(), live[i]->writer->encodeDefinition(places, related));
  }
  // A dropped table's definition stays on its (now free) page as it last was, its maps gone with it.
  for (Entry& e : user_) {
    if (!e.dropped) continue;
    std::vector<RowPointer> none(e.writer->usageMapPageSets().size());
    file_.write(e.writer->tdefPage(),
                e.writer->encodeDefinition(none, std::vector<uint32_t>(e.writer->schema().foreignKeys.size(), 0)));
  }

  // Page 1: the free pages, those of the dropped tables.
  std::sort(freePages_.begin(), freePages_.end());
  file_.writeFreePageMap(freePages_);
  file_.write(0, buildJet4HeaderPage(header_));
  file_.finish();
}

}  // namespace jet::create
