// The database check over the samples as they are, and over copies of a sample or of a generated database damaged in
// a temporary folder: each kind of damage must be named with its table, page and row, and sound samples must show no
// errors.
#include "jet/check/integrity_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "jet/format/data_page.h"
#include "jet/read/index_walk.h"
#include "jet/format/long_value.h"
#include "jet/format/row_layout.h"
#include "jet/read/table_scan.h"
#include "jet/testing/reader_test_support.h"
#include "jet/testing/generated_database.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using reader_testing::allSamples;
using reader_testing::readFile;
using reader_testing::samplesDir;
using reader_testing::TempDir;
using reader_testing::writeFile;

// The generated database goes by this name; every other name is a sample's.
constexpr const char* kGenerated = "generated";

std::vector<uint8_t> sample(const char* name) {
  if (std::strcmp(name, kGenerated) == 0) return reader_testing::generatedDatabase();
  return readFile(samplesDir() / name);
}

bool available(const char* name) { return std::strcmp(name, kGenerated) == 0 || !samplesDir().empty(); }

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

// A damaged copy of a sample, and what its catalog says, read before the damage.
class Damaged {
 public:
  explicit Damaged(const char* name) : bytes(sample(name)), db_(std::make_unique<MemorySource>(name, bytes)) {}
  const Format& format() { return db_.format(); }
  size_t at(uint32_t page, size_t offset = 0) { return size_t{page} * format().pageSize + offset; }
  TableDef table(const std::string& name) { return db_.tableDef(name); }
  Bytes page(uint32_t n) { return Bytes(bytes.data() + at(n), format().pageSize); }
  PageReader& pages() { return db_.pages(); }

  // Checks the copy as a file (so that messages name it).
  CheckReport check() {
    fs::path path = dir_.path() / "damaged.mdb";
    writeFile(path, bytes);
    auto db = Database::open(path.string());
    // Every problem, also on the generated database's fuller pages.
    CheckOptions options;
    options.maxProblemsPerTable = 100000;
    return checkDatabase(*db, options);
  }

  std::vector<uint8_t> bytes;

 private:
  TempDir dir_;
  Database db_;
};

// The problems whose message contains `words`.
std::vector<Problem> find(const CheckReport& r, const std::string& words) {
  std::vector<Problem> out;
  for (const Problem& p : r.problems) {
    if (p.message.find(words) != std::string::npos) out.push_back(p);
  }
  return out;
}

std::string all(const CheckReport& r) {
  std::string s;
  for (const Problem& p : r.problems) s += describeProblem(p) + "\n";
  return s;
}

TEST(IntegrityCheck, EverySampleChecksWithoutErrors) {
  JET_REQUIRE_SAMPLES();
  size_t files = 0, withWarnings = 0;
  for (const fs::path& path : allSamples()) {
    SCOPED_TRACE(path.string());
    auto db = Database::open(path.string());
    CheckReport r = checkDatabase(*db);
    EXPECT_EQ(r.errors(), 0u) << all(r);
    EXPECT_TRUE(r.clean());
    EXPECT_GT(r.rows, 0u);
    EXPECT_GT(r.indexEntries, 0u);
    for (const Problem& p : r.problems) {
      // The warnings the samples carry: stale counters and pages left neither used nor free.
      EXPECT_TRUE(p.message.find("stored") == 0 || p.message.find(": stored key count") != std::string::npos ||
                  p.message.find("neither in use nor marked free") != std::string::npos)
          << describeProblem(p);
    }
    ++files;
    if (r.warnings() > 0) ++withWarnings;
  }
  EXPECT_GE(files, 25u);
  EXPECT_GT(withWarnings, 0u);
}

// Index leaf of MSysObjects' first index that holds the entry for the row at `home`, and that entry's number.
std::pair<uint32_t, size_t> leafEntryFor(Damaged& d, const TableDef& def, uint32_t k, RowPointer home) {
  IndexWalker walker(d.pages(), def.page, def.realIndexes[k].rootPage);
  IndexWalkEntry e;
  uint32_t leaf = 0;
  size_t n = 0;
  while (walker.next(e)) {
    if (e.leafPage != leaf) n = 0;
    leaf = e.leafPage;
    if (e.row == home) return {leaf, n};
    ++n;
  }
  ADD_FAILURE() << "no entry for the row";
  return {0, 0};
}

RowRecord rowOf(Damaged& d, const TableDef& def, size_t n) {
  TableScan scan(d.pages(), def);
  RowRecord rec;
  for (size_t i = 0; i <= n; ++i) EXPECT_TRUE(scan.next(rec));
  return rec;
}

// A database and the name of a user table of it with at least two rows on a data page.
struct CheckedFile {
  const char* file;
  const char* table;
};

class IntegrityCheckBothVersions : public ::testing::TestWithParam<CheckedFile> {
 protected:
  void SetUp() override {
    if (!available(GetParam().file)) GTEST_SKIP() << "JET_SAMPLES is not set or missing";
  }
};

TEST_P(IntegrityCheckBothVersions, RowsMissingFromAnIndexOrEntriesForDeletedRows) {
  {
    Damaged d(GetParam().file);
    TableDef cat = d.table("MSysObjects");
    RowRecord victim = rowOf(d, cat, 3);
    auto [leaf, n] = leafEntryFor(d, cat, 1, RowPointer{victim.home.page, static_cast<uint8_t>(victim.home.row)});
    IndexPage p = decodeIndexPage(d.format(), d.page(leaf), leaf);
    ASSERT_GT(p.entries.size(), 2u);
    ASSERT_GT(n, 0u) << "the test removes an entry after the first";
    p.entries.erase(p.entries.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<uint8_t> encoded = encodeIndexPage(d.format(), p);
    std::copy(encoded.begin(), encoded.end(), d.bytes.begin() + static_cast<std::ptrdiff_t>(d.at(leaf)));
    CheckReport r = d.check();
    std::vector<Problem> missing = find(r, "missing from index");
    ASSERT_EQ(missing.size(), 1u) << all(r);
    EXPECT_EQ(missing[0].table, "MSysObjects");
    EXPECT_EQ(missing[0].page, victim.home.page);
    EXPECT_EQ(missing[0].row, victim.home.row);
    EXPECT_EQ(missing[0].severity, Severity::Error);
    EXPECT_FALSE(r.clean());
  }
  {
    // A row deleted behind its indexes' back: every index keeps an entry for it, and the row count is now stale.
    Damaged d(GetParam().file);
    TableDef cat = d.table("MSysObjects");
    RowRecord victim = rowOf(d, cat, 5);
    size_t slot = d.at(victim.home.page, d.format().rowOffsetTable() + 2u * victim.home.row);
    put16(d.bytes, slot, static_cast<uint16_t>(d.bytes[slot] | (d.bytes[slot + 1] << 8) | kRowDeletedFlag));
    CheckReport r = d.check();
    std::vector<Problem> dangling = find(r, "deleted or does not exist");
    EXPECT_EQ(dangling.size(), cat.realIndexes.size()) << all(r);
    for (const Problem& p : dangling) EXPECT_EQ(p.row, victim.home.row);
    EXPECT_EQ(find(r, "stored row count").size(), 1u) << all(r);
  }
  // A row listed more than once: counted exactly, past the 255 a small counter holds too, where the page has room.
  for (size_t copies : {size_t{1}, size_t{300}}) {
    Damaged d(GetParam().file);
    TableDef cat = d.table("MSysObjects");
    RowRecord victim = rowOf(d, cat, 3);
    auto [leaf, n] = leafEntryFor(d, cat, 0, RowPointer{victim.home.page, static_cast<uint8_t>(victim.home.row)});
    IndexPage p = decodeIndexPage(d.format(), d.page(leaf), leaf);
    const IndexEntry twin = p.entries[n];
    p.entries.insert(p.entries.begin() + static_cast<std::ptrdiff_t>(n), copies, twin);
    std::vector<uint8_t> encoded;
    try {
      encoded = encodeIndexPage(d.format(), p);
    } catch (const Error&) {
      continue;  // more copies than the page holds
    }
    std::copy(encoded.begin(), encoded.end(), d.bytes.begin() + static_cast<std::ptrdiff_t>(d.at(leaf)));
    CheckReport r = d.check();
    std::vector<Problem> listed = find(r, "lists the row " + std::to_string(copies + 1) + " times");
    ASSERT_EQ(listed.size(), 1u) << all(r);
    EXPECT_EQ(listed[0].page, victim.home.page);
    EXPECT_EQ(listed[0].row, victim.home.row);
    EXPECT_TRUE(find(r, "missing from").empty()) << all(r);
  }
}

TEST_P(IntegrityCheckBothVersions, PagesOfOtherOwnersAndMapsThatDisagree) {
  {
    // A data page of MSysObjects now claims to belong to another table.
    Damaged d(GetParam().file);
    TableDef cat = d.table("MSysObjects");
    RowRecord rec = rowOf(d, cat, 0);
    put32(d.bytes, d.at(rec.home.page, d.format().dataOwnerOffset), 3);
    CheckReport r = d.check();
    std::vector<Problem> p = find(r, "lists a data page of table");
    ASSERT_FALSE(p.empty()) << all(r);
    EXPECT_EQ(p[0].page, rec.home.page);
    EXPECT_FALSE(find(r, "deleted or does not exist").empty()) << "index entries now lead nowhere";
  }
  {
    // The free-page map marks a page in use free.
    Damaged d(GetParam().file);
    UsageMap global = readUsageMap(d.pages(), RowPointer{1, 0});
    ASSERT_EQ(global.kind, UsageMap::Kind::Inline);
    const uint32_t victim = 2;  // the catalog's definition
    ASSERT_GE(victim, global.startPage);
    RowSlot slot = dataPageRow(d.format(), d.page(1), 0);
    size_t bit = victim - global.startPage;
    d.bytes[d.at(1, slot.start + 5 + bit / 8)] |= static_cast<uint8_t>(1u << (bit % 8));
    CheckReport r = d.check();
    std::vector<Problem> p = find(r, "marks it free");
    ASSERT_EQ(p.size(), 1u) << all(r);
    EXPECT_EQ(p[0].page, victim);
  }
  {
    // A data page of a user table dropped from the table's map (and not marked free): its rows are lost to readers.
    Damaged d(GetParam().file);
    TableDef t = d.table(GetParam().table);
    RowRecord rec = rowOf(d, t, 0);
    UsageMap owned = readUsageMap(d.pages(), t.ownedPages.at);
    ASSERT_EQ(owned.kind, UsageMap::Kind::Inline);
    RowSlot slot = dataPageRow(d.format(), d.page(t.ownedPages.at.page), t.ownedPages.at.row);
    size_t bit = rec.home.page - owned.startPage;
    d.bytes[d.at(t.ownedPages.at.page, slot.start + 5 + bit / 8)] &= static_cast<uint8_t>(~(1u << (bit % 8)));
    CheckReport r = d.check();
    std::vector<Problem> p = find(r, "map does not list it");
    ASSERT_EQ(p.size(), 1u) << all(r);
    EXPECT_EQ(p[0].table, GetParam().table);
    EXPECT_EQ(p[0].page, rec.home.page);
    EXPECT_FALSE(find(r, "deleted or does not exist").empty()) << all(r);
  }
  {
    // An index page whose owner field names another table: the index cannot be walked.
    Damaged d(GetParam().file);
    TableDef cat = d.table("MSysObjects");
    put32(d.bytes, d.at(cat.realIndexes[0].rootPage, 4), 3);
    CheckReport r = d.check();
    std::vector<Problem> p = find(r, "cannot be walked");
    ASSERT_EQ(p.size(), 1u) << all(r);
    EXPECT_EQ(p[0].table, "MSysObjects");
    EXPECT_NE(p[0].message.find("belongs to table 3"), std::string::npos) << p[0].message;
  }
}

TEST_P(IntegrityCheckBothVersions, IndexesSharingOneTree) {
  Damaged d(GetParam().file);
  TableDef cat = d.table("MSysObjects");
  ASSERT_EQ(cat.realIndexes.size(), 2u);
  const uint32_t keyStart = d.format().version == Version::Jet4 ? 4 : 0;
  put32(d.bytes, d.at(2, cat.realIndexes[1].defOffset + keyStart + 30 + 4), cat.realIndexes[0].rootPage);
  CheckReport r = d.check();
  std::vector<Problem> p = find(r, "already used for an index");
  ASSERT_EQ(p.size(), 1u) << all(r);
  EXPECT_EQ(p[0].page, cat.realIndexes[0].rootPage);
}

TEST_P(IntegrityCheckBothVersions, RepeatedKeysInAUniqueIndex) {
  Damaged d(GetParam().file);
  TableDef cat = d.table("MSysObjects");
  const RealIndexDef& id = cat.realIndexes[1];
  ASSERT_TRUE(id.flags & 0x01) << "the Id index is unique";
  ASSERT_EQ(d.page(id.rootPage)[0], static_cast<uint8_t>(PageType::IndexLeaf));
  IndexPage p = decodeIndexPage(d.format(), d.page(id.rootPage), id.rootPage);
  ASSERT_GE(p.entries.size(), 3u);
  // Entries 1 and 2 get entry 1's key; each keeps its row, the lower row first so that the page stays in order.
  IndexEntryParts a = splitLeafEntry(p.entries[1]);
  IndexEntryParts b = splitLeafEntry(p.entries[2]);
  RowPointer first = a.row.raw() < b.row.raw() ? a.row : b.row;
  RowPointer second = a.row.raw() < b.row.raw() ? b.row : a.row;
  IndexEntry key(a.key.begin(), a.key.end());
  p.entries[1] = makeLeafEntry(key, first);
  p.entries[2] = makeLeafEntry(key, second);
  p.prefixLength = std::min<uint16_t>(p.prefixLength, sharedPrefixLength(p.entries));
  std::vector<uint8_t> encoded = encodeIndexPage(d.format(), p);
  std::copy(encoded.begin(), encoded.end(), d.bytes.begin() + static_cast<std::ptrdiff_t>(d.at(id.rootPage)));
  CheckReport r = d.check();
  std::vector<Problem> found = find(r, "is unique but the row has the same key");
  ASSERT_EQ(found.size(), 1u) << all(r);
  EXPECT_EQ(found[0].page, second.page);
  EXPECT_EQ(found[0].row, second.row);
  EXPECT_TRUE(find(r, "missing from").empty()) << all(r);
}

TEST_P(IntegrityCheckBothVersions, CyclicChains) {
  {
    // The root leaf of an index links to itself as its next sibling.
    Damaged d(GetParam().file);
    TableDef cat = d.table("MSysObjects");
    uint32_t root = cat.realIndexes[1].rootPage;
    ASSERT_EQ(d.page(root)[0], static_cast<uint8_t>(PageType::IndexLeaf));
    put32(d.bytes, d.at(root, d.format().indexNextPage), root);
    CheckReport r = d.check();
    std::vector<Problem> p = find(r, "links forward");
    ASSERT_EQ(p.size(), 1u) << all(r);
    EXPECT_EQ(p[0].page, root);
  }
  {
    // A user table's definition chain loops: that table fails, the others are still checked.
    Damaged d(GetParam().file);
    TableDef t = d.table(GetParam().table);
    put32(d.bytes, d.at(t.pages.back(), d.format().tdefNextPageOffset), t.pages.front());
    CheckReport r = d.check();
    std::vector<Problem> p = find(r, "loops");
    ASSERT_EQ(p.size(), 1u) << all(r);
    EXPECT_EQ(p[0].table, GetParam().table);
    EXPECT_GT(r.rows, 10u);
  }
}

TEST(IntegrityCheck, ForeignKeysNameListedTables) {
  Damaged d(kGenerated);
  TableDef t = d.table("Gibanja");
  auto fk = std::find_if(t.logicalIndexes.begin(), t.logicalIndexes.end(),
                         [](const LogicalIndexDef& li) { return li.type == 2; });
  ASSERT_NE(fk, t.logicalIndexes.end());
  ASSERT_LT(fk->defOffset + 4 + 17, d.format().pageSize) << "the test patches the first definition page";
  put32(d.bytes, d.at(t.page, fk->defOffset + 4 + 13), 9999);
  CheckReport r = d.check();
  std::vector<Problem> p = find(r, "refers to the table at page 9999");
  ASSERT_EQ(p.size(), 1u) << all(r);
  EXPECT_EQ(p[0].table, "Gibanja");
}

TEST(IntegrityCheck, LongValueChainsThatLoopOrLeaveTheFile) {
  for (bool loop : {true, false}) {
    Damaged d(kGenerated);
    std::string table;
    RowLocation home;
    std::vector<LongValuePiece> pieces;
    ASSERT_TRUE(reader_testing::findChainedLongValue(d.bytes, pieces, &table, &home));
    RowPointer last = pieces.back().at;
    RowSlot slot = dataPageRow(d.format(), d.page(last.page), last.row);
    put32(d.bytes, d.at(last.page, slot.start), loop ? pieces.front().at.raw() : RowPointer{0xFFFFF0, 0}.raw());
    CheckReport r = d.check();
    std::vector<Problem> p = find(r, loop ? "used by another value" : "outside the file");
    ASSERT_EQ(p.size(), 1u) << all(r);
    EXPECT_EQ(p[0].table, table);
    EXPECT_EQ(p[0].page, home.page);
    EXPECT_EQ(p[0].row, home.row);
  }
}

TEST_P(IntegrityCheckBothVersions, OffsetsPastThePage) {
  Damaged d(GetParam().file);
  TableDef t = d.table(GetParam().table);
  // The last row of its page: a row's end is where the row before it starts, so damage to an earlier row's start
  // would make the next row's bounds impossible as well.
  TableScan scan(d.pages(), t);
  RowRecord rec;
  ASSERT_TRUE(scan.next(rec));
  const uint32_t page = rec.home.page;
  for (RowRecord next; scan.next(next) && next.home.page == page;) rec = next;
  ASSERT_GT(rec.home.row, 0u) << "the test damages a row after the first of its page";
  size_t slot = d.at(rec.home.page, d.format().rowOffsetTable() + 2u * rec.home.row);
  put16(d.bytes, slot, static_cast<uint16_t>(d.format().pageSize + 100));
  CheckReport r = d.check();
  std::vector<Problem> p = find(r, "impossible bounds");
  ASSERT_EQ(p.size(), 1u) << all(r);
  EXPECT_EQ(p[0].table, GetParam().table);
  EXPECT_EQ(p[0].page, rec.home.page);
  EXPECT_EQ(p[0].row, rec.home.row);
  // The row cannot be read, so its index entries are neither expected nor reported.
  EXPECT_TRUE(find(r, "entry for a row").empty()) << all(r);
  EXPECT_TRUE(find(r, "missing from").empty()) << all(r);
  for (const Problem& counter : find(r, "stored row count")) EXPECT_NE(counter.table, GetParam().table) << all(r);
}

// Jet 3 files come only from the samples; the generator writes Jet 4.
INSTANTIATE_TEST_SUITE_P(Samples, IntegrityCheckBothVersions,
                         ::testing::Values(CheckedFile{"jet3/testV1997.mdb", "Table1"},
                                           CheckedFile{kGenerated, "Artikli"}),
                         [](const ::testing::TestParamInfo<CheckedFile>& p) {
                           return std::string(p.param.file).find("jet3") == 0 ? "Jet3" : "Jet4";
                         });

// A disk that fails once the file is open: the check ends with the read error's own number instead of reporting
// the tables it could not read as damaged.
class FailingSource : public PageSource {
 public:
  explicit FailingSource(std::vector<uint8_t> bytes) : inner_("failing.mdb", std::move(bytes)) {}
  const std::string& name() const override { return inner_.name(); }
  uint64_t size() const override { return inner_.size(); }
  void read(uint64_t offset, std::span<uint8_t> out) override {
    if (failing) fail(ErrorCode::DiskIoRead, "failing.mdb: disk I/O error during read");
    inner_.read(offset, out);
  }
  bool failing = false;

 private:
  MemorySource inner_;
};

TEST(IntegrityCheck, ReadErrorsEndTheCheckWithTheirNumber) {
  auto source = std::make_unique<FailingSource>(sample(kGenerated));
  FailingSource* disk = source.get();
  Database db(std::move(source), 8);
  disk->failing = true;
  try {
    checkDatabase(db);
    FAIL() << "the check read nothing";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3040) << e.what();
  }
}

// `jetdb check` itself: exit statuses and numbered errors for files that cannot be checked at all.
int runJetdb(const std::string& args, std::string& output) {
  TempDir dir;
  fs::path out = dir.path() / "out.txt";
  int status = std::system((std::string(JETDB_PATH) + " check " + args + " > " + out.string() + " 2>&1").c_str());
  std::vector<uint8_t> bytes = readFile(out);
  output.assign(bytes.begin(), bytes.end());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(JetdbCheck, ExitStatusesAndNumberedErrors) {
  std::string out;
  const fs::path& sound = reader_testing::generatedDatabasePath();
  EXPECT_EQ(runJetdb(sound.string(), out), 0) << out;
  EXPECT_NE(out.find("0 errors, 0 warnings"), std::string::npos) << out;
  EXPECT_EQ(runJetdb("--strict " + sound.string(), out), 0) << out;

  TempDir dir;
  const std::vector<uint8_t>& bytes = reader_testing::generatedDatabase();
  fs::path truncated = dir.path() / "truncated.mdb";
  writeFile(truncated, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4096 * 2 + 10));
  EXPECT_EQ(runJetdb(truncated.string(), out), 1);
  EXPECT_NE(out.find(truncated.string()), std::string::npos) << out;
  EXPECT_NE(out.find("3049"), std::string::npos) << out;

  fs::path text = dir.path() / "notes.mdb";
  writeFile(text, std::vector<uint8_t>(5000, 'x'));
  EXPECT_EQ(runJetdb(text.string(), out), 1);
  EXPECT_NE(out.find("3343"), std::string::npos) << out;

  EXPECT_EQ(runJetdb((dir.path() / "absent.mdb").string(), out), 1);
  EXPECT_NE(out.find("3024"), std::string::npos) << out;
  EXPECT_EQ(runJetdb(dir.path().string(), out), 1);
  EXPECT_NE(out.find("3051"), std::string::npos) << out;

  // Damage inside the file: the check runs to the end and fails.
  std::vector<uint8_t> damaged = bytes;
  Database probe(std::make_unique<MemorySource>("probe", bytes));
  TableDef cat = probe.tableDef("MSysObjects");
  damaged[size_t{cat.realIndexes[0].rootPage} * 4096] = 0x01;  // an index root becomes a data page
  fs::path broken = dir.path() / "broken.mdb";
  writeFile(broken, damaged);
  EXPECT_EQ(runJetdb(broken.string(), out), 1) << out;
  EXPECT_NE(out.find("error: table MSysObjects"), std::string::npos) << out;
  EXPECT_NE(out.find("damaged: 1 problems found (error 3049)"), std::string::npos) << out;
}

// What Access left in particular samples: stale counters, and a Jet 3 file cut short after its catalog.
TEST(JetdbCheck, SampleWarningsAndAFileCutShort) {
  JET_REQUIRE_SAMPLES();
  std::string out;
  EXPECT_EQ(runJetdb((samplesDir() / "jet4/delTestV2000.mdb").string(), out), 0) << out;
  EXPECT_NE(out.find("0 errors, 0 warnings"), std::string::npos) << out;
  // Stale counters are warnings: they fail only a strict check.
  EXPECT_EQ(runJetdb((samplesDir() / "jet4/testV2003.mdb").string(), out), 0) << out;
  EXPECT_NE(out.find("warning: table MSysACEs, page 3: stored row count 78, found 81"), std::string::npos) << out;
  EXPECT_EQ(runJetdb("--strict " + (samplesDir() / "jet4/testV2003.mdb").string(), out), 1) << out;

  // Cut short after the catalog: the check runs and names what the file lost.
  TempDir dir;
  std::vector<uint8_t> jet3 = sample("jet3/testV1997.mdb");
  fs::path shortened = dir.path() / "shortened.mdb";
  writeFile(shortened, std::vector<uint8_t>(jet3.begin(), jet3.begin() + 2048 * 19 + 100));
  EXPECT_EQ(runJetdb(shortened.string(), out), 1);
  EXPECT_NE(out.find("table MSysACEs, page 3: the map of the table's pages lists 2 pages past the end of the file"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("has an entry for a row"), std::string::npos) << "rows the file lacks are not reported one by one";
  EXPECT_NE(out.find("(error 3049)"), std::string::npos) << out;
}

}  // namespace
}  // namespace jet
