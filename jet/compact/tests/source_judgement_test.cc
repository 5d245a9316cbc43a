// What the check and the compactor make of a source: what Access leaves behind is a warning and compacts into a
// clean file; a source holding rows the copy would not carry is refused before anything is written; and every
// reason for which compaction refuses a source is an error of the check.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "jet/compact/compact.h"
#include "jet/create/generator.h"
#include "jet/format/data_page.h"
#include "jet/format/index_page.h"
#include "jet/format/row_layout.h"
#include "jet/read/index_walk.h"
#include "jet/check/integrity_check.h"
#include "jet/read/table_scan.h"
#include "jet/format/usage_map.h"
#include "jet/testing/reader_test_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using reader_testing::readFile;
using reader_testing::samplesDir;
using reader_testing::TempDir;
using reader_testing::writeFile;

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

std::string all(const CheckReport& r) {
  std::string s;
  for (const Problem& p : r.problems) s += describeProblem(p) + "\n";
  return s;
}

std::vector<Problem> find(const CheckReport& r, const std::string& words) {
  std::vector<Problem> out;
  for (const Problem& p : r.problems) {
    if (p.message.find(words) != std::string::npos) out.push_back(p);
  }
  return out;
}

// The outcome of checking a file and compacting it.
struct Judged {
  CheckReport check;
  bool opened = true;
  int32_t compactError = 0;  // 0: compacted
  std::string compactMessage;
  bool destinationLeft = false;
};

Judged judge(const fs::path& dir, const std::vector<uint8_t>& bytes) {
  Judged j;
  const fs::path source = dir / "source.mdb";
  const fs::path out = dir / "out.mdb";
  fs::remove(out);
  writeFile(source, bytes);
  try {
    auto db = Database::open(source.string());
    CheckOptions options;
    options.maxProblemsPerTable = 100000;
    j.check = checkDatabase(*db, options);
  } catch (const Error&) {
    j.opened = false;
  }
  try {
    compactDatabase(source, out, "");
  } catch (const Error& e) {
    j.compactError = e.number();
    j.compactMessage = e.what();
    j.destinationLeft = fs::exists(out);
  }
  return j;
}

// The compacted file of the last judge() call: strictly clean.
CheckReport checkCompacted(const fs::path& dir) {
  auto db = Database::open((dir / "out.mdb").string());
  return checkDatabase(*db);
}

class GeneratedSource : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    std::string path = (dir_->path() / "generated.mdb").string();
    create::GeneratorOptions options;
    options.articles = 400;
    options.seed = 8;
    options.bloatPercent = 20;
    create::generateDatabase(path, options);
    original_ = new std::vector<uint8_t>(readFile(path));
  }
  static void TearDownTestSuite() {
    delete original_;
    delete dir_;
  }
  static const Format& format() {
    static Database db(std::make_unique<MemorySource>("g", *original_));
    return db.format();
  }
  static TableDef table(const std::vector<uint8_t>& bytes, const std::string& name) {
    Database db(std::make_unique<MemorySource>("g", bytes));
    return db.tableDef(name);
  }
  static size_t at(uint32_t page, size_t offset = 0) { return size_t{page} * format().pageSize + offset; }
  // Where in the file the value of `column` lies in the catalog row of the first entry `which` accepts (0 when the
  // row or the value cannot be found).
  template <class Which>
  static size_t catalogValueAt(const std::vector<uint8_t>& bytes, Which&& which, const char* column) {
    Database db(std::make_unique<MemorySource>("c", bytes));
    const CatalogEntry* entry = nullptr;
    for (const CatalogEntry& e : db.catalog().entries) {
      if (entry == nullptr && which(e)) entry = &e;
    }
    if (entry == nullptr) return 0;
    const TableDef& def = db.catalog().definition;
    TableScan scan(db.pages(), def);
    RowRecord rec;
    while (scan.next(rec) && !(rec.home == entry->location)) {
    }
    const ColumnDef* c = def.findColumn(column);
    if (!(rec.home == entry->location) || !(rec.stored == rec.home) || c == nullptr) return 0;
    RowLayout layout;
    crackRow(db.format(), def, rec.bytes, layout);
    const FieldLocation& field = layout.fields[static_cast<size_t>(c - def.columns.data())];
    if (!field.present) return 0;
    return at(rec.home.page, dataPageRow(db.format(), page(bytes, rec.home.page), rec.home.row).start + field.offset);
  }
  static Bytes page(const std::vector<uint8_t>& bytes, uint32_t n) {
    return Bytes(bytes.data() + at(n), format().pageSize);
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::vector<uint8_t>* original_ = nullptr;
};

// Sets or clears the bit for `page` in the usage map at `at`, in either form.
void setMapBit(std::vector<uint8_t>& bytes, RowPointer at, uint32_t page, bool set) {
  Database db(std::make_unique<MemorySource>("m", bytes));
  const Format& f = db.format();
  UsageMap map = readUsageMap(db.pages(), at);
  size_t offset = 0;
  uint32_t bit = 0;
  if (map.kind == UsageMap::Kind::Inline) {
    RowSlot slot = dataPageRow(f, Bytes(bytes.data() + size_t{at.page} * f.pageSize, f.pageSize), at.row);
    bit = page - map.startPage;
    offset = size_t{at.page} * f.pageSize + slot.start + 5 + bit / 8;
  } else {
    const uint32_t per = UsageMap::pagesPerBitmapPage(f.pageSize);
    bit = page % per;
    offset = size_t{map.bitmapPages.at(page / per)} * f.pageSize + 4 + bit / 8;
  }
  const auto mask = static_cast<uint8_t>(1u << (bit % 8));
  bytes.at(offset) = set ? static_cast<uint8_t>(bytes[offset] | mask) : static_cast<uint8_t>(bytes[offset] & ~mask);
}

// Deletes a row the way Access does: its slot is flagged deleted and its entries leave every index, but no node
// entry above a leaf is rewritten.
void deleteRowAsAccessDoes(std::vector<uint8_t>& bytes, const std::string& table, RowPointer row) {
  TableDef def;
  const Format* f = nullptr;
  std::vector<uint32_t> leaves;
  {
    Database db(std::make_unique<MemorySource>("d", bytes));
    f = &db.format();
    def = db.tableDef(table);
    for (const RealIndexDef& ix : def.realIndexes) {
      IndexWalker walker(db.pages(), def.page, ix.rootPage);
      IndexWalkEntry e;
      uint32_t leaf = 0;
      while (walker.next(e)) {
        if (e.row == row) leaf = e.leafPage;
      }
      ASSERT_NE(leaf, 0u);
      leaves.push_back(leaf);
    }
  }
  const Format& format = formatFor(f->version);
  for (uint32_t leaf : leaves) {
    IndexPage p = decodeIndexPage(format, Bytes(bytes.data() + size_t{leaf} * format.pageSize, format.pageSize), leaf);
    std::erase_if(p.entries, [&](const IndexEntry& e) { return splitLeafEntry(e).row == row; });
    p.prefixLength = std::min<uint16_t>(p.prefixLength, sharedPrefixLength(p.entries));
    std::vector<uint8_t> encoded = encodeIndexPage(format, p);
    std::copy(encoded.begin(), encoded.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(size_t{leaf} * format.pageSize));
  }
  const size_t slot = size_t{row.page} * format.pageSize + format.rowOffsetTable() + 2u * row.row;
  bytes[slot + 1] = static_cast<uint8_t>(bytes[slot + 1] | (kRowDeletedFlag >> 8));
}

// The last entry of the first leaf of a table's first index, and that leaf.
IndexWalkEntry lastOfFirstLeaf(const std::vector<uint8_t>& bytes, const TableDef& def, IndexEntry& copy) {
  Database db(std::make_unique<MemorySource>("w", bytes));
  IndexWalker walker(db.pages(), def.page, def.realIndexes[0].rootPage);
  IndexWalkEntry e, last;
  while (walker.next(e) && (last.leafPage == 0 || e.leafPage == last.leafPage)) {
    last = e;
    copy.assign(e.entry.begin(), e.entry.end());
  }
  last.entry = Bytes(copy);
  return last;
}

TEST_F(GeneratedSource, NodeEntriesLeftByAccessDeletionsAreWarningsAndCompactExact) {
  std::vector<uint8_t> bytes = *original_;
  const TableDef def = table(bytes, "Gibanja");
  IndexEntry copy;
  IndexWalkEntry last = lastOfFirstLeaf(bytes, def, copy);
  ASSERT_NE(def.realIndexes[0].rootPage, last.leafPage) << "the index needs more than one leaf";
  deleteRowAsAccessDoes(bytes, "Gibanja", splitLeafEntry(Bytes(copy)).row);

  Judged j = judge(dir_->path(), bytes);
  EXPECT_EQ(j.check.errors(), 0u) << all(j.check);
  std::vector<Problem> stale = find(j.check, "still bounds it");
  ASSERT_FALSE(stale.empty()) << all(j.check);
  EXPECT_EQ(stale[0].table, "Gibanja");
  EXPECT_EQ(stale[0].severity, Severity::Warning);
  ASSERT_EQ(j.compactError, 0) << j.compactMessage;
  CheckReport out = checkCompacted(dir_->path());
  EXPECT_TRUE(out.clean(true)) << "the copy's node entries are exact again\n" << all(out);
}

TEST_F(GeneratedSource, NodeEntriesOutsideTheirBoundsAreErrorsAndRefused) {
  const TableDef def = table(*original_, "Gibanja");
  IndexEntry copy;
  IndexWalkEntry last = lastOfFirstLeaf(*original_, def, copy);
  // The first leaf's parent, and the entry that follows the first leaf.
  Database db(std::make_unique<MemorySource>("w", *original_));
  const Format& f = db.format();
  uint32_t parent = def.realIndexes[0].rootPage;
  IndexPage node = decodeIndexPage(f, page(*original_, parent), parent);
  while (splitNodeEntry(node.entries[0]).childPage != last.leafPage) {
    parent = splitNodeEntry(node.entries[0]).childPage;
    node = decodeIndexPage(f, page(*original_, parent), parent);
  }
  IndexEntry next;
  {
    IndexWalker walker(db.pages(), def.page, def.realIndexes[0].rootPage);
    IndexWalkEntry e;
    while (walker.next(e) && next.empty()) {
      if (e.leafPage != last.leafPage) next.assign(e.entry.begin(), e.entry.end());
    }
  }
  IndexEntry below = copy;
  below[below.size() - 1] = static_cast<uint8_t>(below.back() - 1);  // the same key, a lower row pointer
  for (const auto& [bound, words] : {std::pair{next, "does not sort before the first entry after"},
                                     std::pair{below, "sorts before the last entry of its child"}}) {
    SCOPED_TRACE(words);
    std::vector<uint8_t> bytes = *original_;
    IndexPage changed = node;
    changed.entries[0] = makeNodeEntry(Bytes(bound), last.leafPage);
    std::vector<uint8_t> encoded = encodeIndexPage(f, changed);
    std::copy(encoded.begin(), encoded.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at(parent)));
    Judged j = judge(dir_->path(), bytes);
    std::vector<Problem> p = find(j.check, words);
    ASSERT_EQ(p.size(), 1u) << all(j.check);
    EXPECT_EQ(p[0].severity, Severity::Error);
    EXPECT_EQ(p[0].page, parent);
    EXPECT_EQ(j.compactError, 3049);
    EXPECT_FALSE(j.destinationLeft);
  }
}

TEST_F(GeneratedSource, FreePageMapBitmapPagesPastTheEndAreAWarning) {
  std::vector<uint8_t> bytes = *original_;
  Database db(std::make_unique<MemorySource>("f", bytes));
  UsageMap map = readUsageMap(db.pages(), RowPointer{1, 0});
  const uint32_t pages = db.pages().pageCount();
  // Whatever form the generator chose, page 1 row 0 becomes a reference map whose first bitmap page lies past the
  // end of the file and whose further slots hold numbers no file has.
  RowSlot slot = dataPageRow(db.format(), page(bytes, 1), 0);
  ASSERT_GE(slot.length(), 13u);
  bytes[at(1, slot.start)] = 1;
  put32(bytes, at(1, slot.start + 1), pages + 3);
  put32(bytes, at(1, slot.start + 5), 0xFFFFFF80u);
  put32(bytes, at(1, slot.start + 9), 0xFFFFFF80u);
  Judged j = judge(dir_->path(), bytes);
  EXPECT_EQ(j.check.errors(), 0u) << all(j.check);
  std::vector<Problem> p = find(j.check, "bitmap pages past the end of the file");
  ASSERT_EQ(p.size(), 1u) << all(j.check);
  EXPECT_EQ(p[0].severity, Severity::Warning);
  EXPECT_NE(p[0].message.find("4294967168"), std::string::npos) << p[0].message;
  ASSERT_EQ(j.compactError, 0) << j.compactMessage;
  EXPECT_TRUE(checkCompacted(dir_->path()).clean(true)) << "the copy has a correct free-page map";
  (void)map;
}

TEST_F(GeneratedSource, LiveRowsTheMapDoesNotReachAreRefusedBeforeWriting) {
  const TableDef def = table(*original_, "Artikli");
  Database db(std::make_unique<MemorySource>("r", *original_));
  TableScan scan(db.pages(), def);
  RowRecord rec;
  ASSERT_TRUE(scan.next(rec));
  const uint32_t first = rec.home.page;
  uint64_t live = 0;
  for (uint16_t r = 0; r < dataPageRowCount(db.format(), page(*original_, first)); ++r) {
    live += dataPageRow(db.format(), page(*original_, first), r).deleted() ? 0u : 1u;
  }
  const uint32_t other = table(*original_, "Gibanja").page;
  uint32_t foreign = 0;  // a data page of Gibanja
  for (uint32_t p = 3; p < db.pages().pageCount() && foreign == 0; ++p) {
    if (page(*original_, p)[0] == 0x01 && dataPageOwner(db.format(), page(*original_, p)) == other) foreign = p;
  }
  ASSERT_NE(foreign, 0u);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string checkWords;
    std::string compactWords;
  };
  std::vector<Case> cases;
  {
    // A data page of the table dropped from its map.
    std::vector<uint8_t> b = *original_;
    setMapBit(b, def.ownedPages.at, first, false);
    cases.push_back({"unlisted", b, "map does not list it",
                     "table Artikli would lose " + std::to_string(live) + " rows: page " + std::to_string(first)});
  }
  {
    // The map names a page of another table.
    std::vector<uint8_t> b = *original_;
    setMapBit(b, def.ownedPages.at, foreign, true);
    cases.push_back({"foreign", b, "the table's map lists a data page of table Gibanja",
                     "lists page " + std::to_string(foreign) + " that is not a data page of the table"});
  }
  {
    // The table's first data page overwritten by another table's page: its rows are gone, the map still names it.
    std::vector<uint8_t> b = *original_;
    std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at(foreign)), db.format().pageSize,
                b.begin() + static_cast<std::ptrdiff_t>(at(first)));
    cases.push_back({"overwritten", b, "the table's map lists a data page of table Gibanja",
                     "its definition counts " + std::to_string(def.rowCount) + " rows"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Judged j = judge(dir_->path(), c.bytes);
    std::vector<Problem> p = find(j.check, c.checkWords);
    ASSERT_FALSE(p.empty()) << all(j.check);
    EXPECT_EQ(p[0].severity, Severity::Error);
    EXPECT_EQ(j.compactError, 3049);
    EXPECT_NE(j.compactMessage.find(c.compactWords), std::string::npos) << j.compactMessage;
    EXPECT_FALSE(j.destinationLeft);
  }
}

// Access rewrites a table's rows on new pages and takes the old ones out of the table's map without marking them
// free: a page of copies that no map lists and no row count includes. Such a page is a warning and is left out,
// giving the very file the source without it gives. The same page is a loss as soon as the table counts its rows, or
// as soon as an index still points at them.
TEST_F(GeneratedSource, RowsLeftBehindOnPagesNoMapListsAreLeftOutUnlessTheTableStillHasThem) {
  const TableDef def = table(*original_, "Artikli");
  Database db(std::make_unique<MemorySource>("l", *original_));
  const Format& f = db.format();
  TableScan scan(db.pages(), def);
  RowRecord rec;
  ASSERT_TRUE(scan.next(rec));
  const uint32_t first = rec.home.page;
  uint64_t live = 0;
  for (uint16_t r = 0; r < dataPageRowCount(f, page(*original_, first)); ++r) {
    live += dataPageRow(f, page(*original_, first), r).deleted() ? 0u : 1u;
  }
  ASSERT_GT(live, 0u);
  const auto copied = static_cast<uint32_t>(original_->size() / f.pageSize);  // the appended copy's number
  std::vector<uint8_t> leftBehind = *original_;
  leftBehind.insert(leftBehind.end(), page(*original_, first).begin(), page(*original_, first).end());
  setMapBit(leftBehind, RowPointer{1, 0}, copied, false);  // the free-page map may cover pages past the end

  Judged plain = judge(dir_->path(), *original_);
  ASSERT_EQ(plain.compactError, 0) << plain.compactMessage;
  const std::vector<uint8_t> expected = readFile(dir_->path() / "out.mdb");
  {
    SCOPED_TRACE("left behind");
    Judged j = judge(dir_->path(), leftBehind);
    EXPECT_EQ(j.check.errors(), plain.check.errors()) << all(j.check);
    std::vector<Problem> p = find(j.check, "copies left behind");
    ASSERT_EQ(p.size(), 1u) << all(j.check);
    EXPECT_EQ(p[0].severity, Severity::Warning);
    EXPECT_EQ(p[0].page, copied);
    EXPECT_EQ(p[0].table, "Artikli");
    ASSERT_EQ(j.compactError, 0) << j.compactMessage;
    EXPECT_TRUE(readFile(dir_->path() / "out.mdb") == expected) << "the copy differs from the source's without it";
    CompactReport report = compactDatabase((dir_->path() / "source.mdb").string(),
                                           (dir_->path() / "again.mdb").string(), "");
    EXPECT_EQ(report.leftBehindRows, live);
    fs::remove(dir_->path() / "again.mdb");
  }
  {
    SCOPED_TRACE("counted by the table");
    std::vector<uint8_t> b = leftBehind;
    put32(b, at(def.page, f.tdefRowCount), def.rowCount + static_cast<uint32_t>(live));
    Judged j = judge(dir_->path(), b);
    std::vector<Problem> p = find(j.check, "the table's map does not list it");
    ASSERT_EQ(p.size(), 1u) << all(j.check);
    EXPECT_EQ(p[0].severity, Severity::Error);
    EXPECT_EQ(j.compactError, 3049);
    EXPECT_NE(j.compactMessage.find("table Artikli would lose " + std::to_string(live) + " rows: page " +
                                    std::to_string(copied)),
              std::string::npos)
        << j.compactMessage;
    EXPECT_FALSE(j.destinationLeft);
  }
  {
    // The table's own page out of the map and its rows out of the count, but its indexes still lead there.
    SCOPED_TRACE("still indexed");
    std::vector<uint8_t> b = *original_;
    setMapBit(b, def.ownedPages.at, first, false);
    put32(b, at(def.page, f.tdefRowCount), def.rowCount - static_cast<uint32_t>(live));
    Judged j = judge(dir_->path(), b);
    EXPECT_GT(j.check.errors(), 0u) << all(j.check);
    EXPECT_EQ(j.compactError, 3049);
    EXPECT_FALSE(j.destinationLeft);
  }
}

TEST_F(GeneratedSource, DefinitionsClaimingMoreBytesThanTheirPagesHoldAreErrors) {
  std::vector<uint8_t> bytes = *original_;
  const TableDef def = table(bytes, "MSysACEs");
  const Format& f = format();
  put32(bytes, at(def.page, f.tdefLengthOffset), static_cast<uint32_t>(def.raw.size()) + 4431);
  Judged j = judge(dir_->path(), bytes);
  std::vector<Problem> p = find(j.check, "claims " + std::to_string(def.raw.size() + 4431) + " bytes");
  ASSERT_EQ(p.size(), 1u) << all(j.check);
  EXPECT_EQ(p[0].table, "MSysACEs");
  EXPECT_EQ(j.compactError, 3049);
  EXPECT_FALSE(j.destinationLeft);
}

// A catalog entry that is no table but has an Id that reads as a table's definition page, which no table has: the
// copy, renumbering table Ids, cannot place it.
TEST_F(GeneratedSource, CatalogIdsNamingNoTableAreErrors) {
  std::vector<uint8_t> bytes = *original_;
  const size_t id = catalogValueAt(bytes, [](const CatalogEntry& e) { return !e.isTable(); }, "Id");
  ASSERT_NE(id, 0u);
  put32(bytes, id, 29184);
  Judged j = judge(dir_->path(), bytes);
  std::vector<Problem> p = find(j.check, "has Id 29184, which names no table");
  ASSERT_EQ(p.size(), 1u) << all(j.check);
  EXPECT_EQ(p[0].table, "MSysObjects");
  EXPECT_EQ(j.compactError, 3049);
  EXPECT_NE(j.compactMessage.find("29184"), std::string::npos) << j.compactMessage;
  EXPECT_FALSE(j.destinationLeft);
}

// A table linked through ODBC keeps a definition page in the file under its catalog entry's Id, though the entry is
// no local table. Made here by turning a generated table's entry into such a link: the check finds no error, and the
// copy carries the definition as a table, renumbers the entry's Id to it and keeps the entry a link.
TEST_F(GeneratedSource, DefinitionsOfTablesLinkedThroughOdbcAreCarriedOver) {
  std::vector<uint8_t> bytes = *original_;
  const TableDef def = table(bytes, "Artikli");
  const size_t type =
      catalogValueAt(bytes, [](const CatalogEntry& e) { return e.isTable() && e.name == "Artikli"; }, "Type");
  ASSERT_NE(type, 0u);
  bytes[type] = static_cast<uint8_t>(kObjectTypeLinkedOdbcTable);
  Judged j = judge(dir_->path(), bytes);
  EXPECT_EQ(j.check.errors(), 0u) << all(j.check);
  ASSERT_EQ(j.compactError, 0) << j.compactMessage;
  EXPECT_TRUE(checkCompacted(dir_->path()).clean(true));
  auto out = Database::open((dir_->path() / "out.mdb").string());
  EXPECT_EQ(out->catalog().findTable("Artikli"), nullptr) << "the entry is still a link, no local table";
  const CatalogEntry* link = nullptr;
  for (const CatalogEntry& e : out->catalog().entries) {
    if (e.name == "Artikli") link = &e;
  }
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->type, kObjectTypeLinkedOdbcTable);
  const TableDef copied = out->tableDefAt(link->tablePage());
  ASSERT_EQ(copied.columns.size(), def.columns.size());
  for (size_t k = 0; k < def.columns.size(); ++k) EXPECT_EQ(copied.columns[k].name, def.columns[k].name);
}

// An index that is no foreign key but whose related-table field holds a page number no table has: a copy cannot
// renumber it, so the check reports it as well.
TEST_F(GeneratedSource, IndexesRelatedToTablesThatDoNotExistAreErrors) {
  std::vector<uint8_t> bytes = *original_;
  const TableDef def = table(bytes, "Artikli");
  const LogicalIndexDef* plain = nullptr;
  for (const LogicalIndexDef& li : def.logicalIndexes) {
    if (li.type != 2 && plain == nullptr) plain = &li;
  }
  ASSERT_NE(plain, nullptr);
  ASSERT_EQ(def.pages.size(), 1u);
  put32(bytes, at(def.page, plain->defOffset + (format().version == Version::Jet4 ? 4 : 0) + 13), 29184);
  Judged j = judge(dir_->path(), bytes);
  std::vector<Problem> p = find(j.check, "index " + plain->name + " refers to the table at page 29184");
  ASSERT_EQ(p.size(), 1u) << all(j.check);
  EXPECT_EQ(j.compactError, 3049);
  EXPECT_NE(j.compactMessage.find("29184"), std::string::npos) << j.compactMessage;
  EXPECT_FALSE(j.destinationLeft);
}

// Compaction renumbers the table Ids in the keys of MSysObjects' indexes, finding them by the key columns the index
// definition names. A definition that names a text column before an Id column (a damaged definition page) leaves the
// Ids in the keys where nothing can find them: the check reports it, and compaction refuses.
TEST_F(GeneratedSource, KeysWhoseTableIdsCannotBeLocatedAreErrorsAndRefused) {
  std::vector<uint8_t> bytes = *original_;
  const TableDef def = table(bytes, "MSysObjects");
  const ColumnDef* id = def.findColumn("Id");
  const ColumnDef* name = def.findColumn("Name");
  ASSERT_NE(id, nullptr);
  ASSERT_NE(name, nullptr);
  const RealIndexDef* overIds = nullptr;
  for (const RealIndexDef& ix : def.realIndexes) {
    if (overIds == nullptr && ix.columns.size() == 1 && ix.columns[0].column == id->number) overIds = &ix;
  }
  ASSERT_NE(overIds, nullptr) << "MSysObjects has an index on Id";
  ASSERT_EQ(def.pages.size(), 1u);
  // Name before Id: the key's Id segment now follows a segment of no fixed length.
  const size_t slots = at(def.page, overIds->defOffset + (format().version == Version::Jet4 ? 4 : 0));
  bytes[slots] = static_cast<uint8_t>(name->number);
  bytes[slots + 1] = static_cast<uint8_t>(name->number >> 8);
  bytes[slots + 2] = kKeyColumnAscending;
  bytes[slots + 3] = static_cast<uint8_t>(id->number);
  bytes[slots + 4] = static_cast<uint8_t>(id->number >> 8);
  bytes[slots + 5] = kKeyColumnAscending;
  Judged j = judge(dir_->path(), bytes);
  std::vector<Problem> p = find(j.check, "the table Ids in it cannot be located");
  ASSERT_EQ(p.size(), 1u) << all(j.check);
  EXPECT_EQ(p[0].table, "MSysObjects");
  EXPECT_EQ(p[0].severity, Severity::Error);
  EXPECT_EQ(j.compactError, 3049);
  EXPECT_NE(j.compactMessage.find("table Id cannot be located"), std::string::npos) << j.compactMessage;
  EXPECT_FALSE(j.destinationLeft);
}

// The reproductions of the issue on the sample written by Access 97: Table1's map page overwritten by another
// page, and the file cut short by its last page. Page 31 holds the table's 7 rows.
TEST(SourceJudgement, Access97TableWhoseMapNoLongerReachesItsRows) {
  JET_REQUIRE_SAMPLES();
  TempDir tmp;
  const std::vector<uint8_t> original = readFile(samplesDir() / "jet3/overflowTestV1997.mdb");
  ASSERT_EQ(original.size(), 32u * 2048);
  std::vector<uint8_t> overwritten = original;
  std::copy_n(original.begin() + 7 * 2048, 2048, overwritten.begin() + 30 * 2048);
  std::vector<uint8_t> cut(original.begin(), original.end() - 2048);
  for (const auto& [bytes, words] : {std::pair{overwritten, "page 31 holds 7 live rows"},
                                     std::pair{cut, "1 page past the end of the file (the first is 31"}}) {
    SCOPED_TRACE(words);
    Judged j = judge(tmp.path(), bytes);
    EXPECT_GT(j.check.errors(), 0u);
    EXPECT_EQ(j.compactError, 3049);
    EXPECT_NE(j.compactMessage.find("table Table1 would lose 7 rows"), std::string::npos) << j.compactMessage;
    EXPECT_NE(j.compactMessage.find(words), std::string::npos) << j.compactMessage;
    EXPECT_FALSE(j.destinationLeft);
    EXPECT_FALSE(fs::exists(tmp.path() / "out.mdb"));
  }
}

// Damaged copies of the samples, made by seeded mutations (a page copied over another, a page zeroed, bytes
// overwritten, the file cut short): whatever compaction refuses as damaged, the check reports as an error, and a
// refused compaction leaves no destination. JET_MUTATIONS sets how many copies (40 by default; thousands find more), JET_MUTATION_SEED their seed.
TEST(SourceJudgement, CheckAndCompactionAgreeOnMutatedSamples) {
  JET_REQUIRE_SAMPLES();
  const char* env = std::getenv("JET_MUTATIONS");
  const int rounds = env != nullptr ? std::atoi(env) : 40;
  std::vector<fs::path> samples = reader_testing::allSamples();
  ASSERT_FALSE(samples.empty());
  TempDir tmp;
  const char* seed = std::getenv("JET_MUTATION_SEED");
  std::mt19937 rng(seed != nullptr ? static_cast<uint32_t>(std::atoi(seed)) : 20261208u);
  std::string disagreements;
  int refused = 0;
  for (int round = 0; round < rounds; ++round) {
    const fs::path& name = samples[rng() % samples.size()];
    std::vector<uint8_t> bytes = readFile(name);
    const uint32_t pageSize = bytes.size() % 4096 == 0 && bytes[0x14] != 0 ? 4096 : 2048;
    const uint32_t pages = static_cast<uint32_t>(bytes.size() / pageSize);
    auto anyPage = [&] { return 1 + static_cast<uint32_t>(rng() % (pages - 1)); };
    std::string what;
    // Definition and index pages are few but hold most of what the two could judge differently.
    auto pageOfType = [&](uint8_t type) {
      for (int tries = 0; tries < 64; ++tries) {
        uint32_t p = anyPage();
        if (bytes[size_t{p} * pageSize] == type) return p;
      }
      return anyPage();
    };
    switch (rng() % 7) {
      case 5:
      case 6: {
        uint32_t p = pageOfType(rng() % 2 == 0 ? 0x02 : 0x04);
        size_t offset = size_t{p} * pageSize + 8 + rng() % (pageSize - 12);
        if (rng() % 2 == 0) {
          bytes[offset] = static_cast<uint8_t>(rng());
        } else {
          put32(bytes, offset, static_cast<uint32_t>(rng() % (pageSize * 4)));
        }
        what = "definition or index page " + std::to_string(p) + " changed at " + std::to_string(offset);
        break;
      }
      case 0: {
        uint32_t from = anyPage(), to = anyPage();
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(size_t{from} * pageSize), pageSize,
                    bytes.begin() + static_cast<std::ptrdiff_t>(size_t{to} * pageSize));
        what = "page " + std::to_string(from) + " copied over page " + std::to_string(to);
        break;
      }
      case 1: {
        uint32_t to = anyPage();
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(size_t{to} * pageSize), pageSize, uint8_t{0});
        what = "page " + std::to_string(to) + " zeroed";
        break;
      }
      case 2: {
        size_t offset = pageSize + rng() % (bytes.size() - pageSize);
        bytes[offset] = static_cast<uint8_t>(rng());
        what = "byte " + std::to_string(offset) + " changed";
        break;
      }
      case 3: {
        size_t offset = pageSize + rng() % (bytes.size() - pageSize - 4);
        put32(bytes, offset, static_cast<uint32_t>(rng() % (pages + 8)));
        what = "4 bytes at " + std::to_string(offset) + " changed";
        break;
      }
      default: {
        uint32_t cut = 1 + static_cast<uint32_t>(rng() % 3);
        bytes.resize(bytes.size() - size_t{cut} * pageSize);
        what = std::to_string(cut) + " pages cut off";
        break;
      }
    }
    Judged j = judge(tmp.path(), bytes);
    const std::string label = name.filename().string() + ", " + what;
    EXPECT_FALSE(j.destinationLeft) << label;
    if (j.compactError != 0) ++refused;
    if (j.opened && j.compactError == 3049 && j.check.errors() == 0) {
      disagreements += label + ": " + j.compactMessage + "\n";
    }
  }
  EXPECT_TRUE(disagreements.empty()) << "compaction refused, the check found no error:\n" << disagreements;
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace jet
