// Reads every sample database and compares each table, row for row, with what mdb-export (mdbtools) prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>

#include "tools/jetdb/csv_export.h"
#include "jet/read/database.h"
#include "jet/read/table_scan.h"
#include "jet/testing/reader_test_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using reader_testing::allSamples;
using reader_testing::exportCsvText;
using reader_testing::samplesDir;

std::string run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return {};
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  return out;
}

bool haveMdbTools() {
  return std::system("command -v mdb-export >/dev/null 2>&1 && command -v mdb-tables >/dev/null 2>&1") == 0;
}

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q.push_back(c);
  }
  return q + "'";
}

std::vector<std::string> sortedLines(const std::string& s) {
  std::vector<std::string> lines;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string sampleName(const fs::path& p) { return fs::relative(p, samplesDir()).string(); }

// Every table of every sample prints exactly as mdb-export prints it, in the mode that reproduces mdb-export's own
// losses and its row order (rows Access moved after an update where their bytes sit). In the order of home slots,
// only the tables with such rows differ, and only in row order.
TEST(ReaderSamples, EveryTableMatchesMdbExport) {
  JET_REQUIRE_SAMPLES();
  if (!haveMdbTools()) GTEST_SKIP() << "mdb-export (mdbtools) is not installed";
  CsvStyle style;
  style.mdbExportQuirks = true;
  style.rowOrder = ScanOrder::WhereStored;
  CsvStyle homeOrder;
  homeOrder.mdbExportQuirks = true;
  int tables = 0;
  int reordered = 0;
  for (const fs::path& file : allSamples()) {
    auto db = Database::open(file.string());
    for (const CatalogEntry* e : db->catalog().tables(true)) {
      TableDef def = db->tableDefAt(e->tablePage());
      std::string ours = exportCsvText(*db, def, style);
      std::string theirs = run("mdb-export " + shellQuote(file.string()) + " " + shellQuote(e->name) + " 2>/dev/null");
      ++tables;
      EXPECT_EQ(ours, theirs) << sampleName(file) << " table " << e->name;
      std::string home = exportCsvText(*db, def, homeOrder);
      if (home == ours) continue;
      ++reordered;
      TableScan scan(db->pages(), def);
      RowRecord rec;
      while (scan.next(rec)) {
      }
      EXPECT_TRUE(sortedLines(home) == sortedLines(ours) && scan.overflowRows() > 0)
          << sampleName(file) << " table " << e->name << ": the home order differs in more than row order";
    }
  }
  EXPECT_GT(tables, 200);
  EXPECT_GT(reordered, 0) << "a sample with overflow rows shows the two orders";
}

// A row Access moved to another page and later deleted: its home slot is flagged deleted, and its moved bytes keep the
// flag every moved row's bytes have. Jet no longer has the row, and a plain dump leaves it out; mdb-export skips only
// slots flagged as pointers, so it prints those bytes, and the mode that reproduces it does too.
TEST(ReaderSamples, MovedRowsDeletedLaterPrintOnlyLikeMdbExport) {
  JET_REQUIRE_SAMPLES();
  reader_testing::TempDir dir;
  std::vector<uint8_t> bytes = reader_testing::readFile(samplesDir() / "jet4/overflowTestV2003.mdb");
  uint64_t before = 0;
  size_t pointerSlot = 0;
  {
    Database db(std::make_unique<MemorySource>("o", bytes));
    const TableDef def = db.tableDef("Table1");
    TableScan scan(db.pages(), def);
    RowRecord rec;
    while (scan.next(rec)) {
      ++before;
      if (pointerSlot == 0 && !(rec.stored == rec.home)) {
        pointerSlot = size_t{rec.home.page} * db.format().pageSize + db.format().rowOffsetTable() + 2u * rec.home.row;
      }
    }
  }
  ASSERT_NE(pointerSlot, 0u) << "Table1 has a moved row";
  bytes[pointerSlot + 1] = static_cast<uint8_t>(bytes[pointerSlot + 1] | (kRowDeletedFlag >> 8));
  const fs::path file = dir.path() / "deleted.mdb";
  reader_testing::writeFile(file, bytes);
  auto db = Database::open(file.string());
  const TableDef def = db->tableDef("Table1");
  CsvStyle like;
  like.mdbExportQuirks = true;
  like.rowOrder = ScanOrder::WhereStored;
  auto lines = [](const std::string& csv) { return static_cast<uint64_t>(std::count(csv.begin(), csv.end(), '\n')); };
  EXPECT_EQ(lines(exportCsvText(*db, def)), before);  // the header and one row fewer
  EXPECT_EQ(lines(exportCsvText(*db, def, like)), before + 1);
  if (haveMdbTools()) {
    EXPECT_EQ(exportCsvText(*db, def, like), run("mdb-export " + shellQuote(file.string()) + " Table1 2>/dev/null"));
  }
}

// The catalog lists the same tables as mdb-tables, system tables included.
TEST(ReaderSamples, TablesMatchMdbTables) {
  JET_REQUIRE_SAMPLES();
  if (!haveMdbTools()) GTEST_SKIP() << "mdb-tables (mdbtools) is not installed";
  for (const fs::path& file : allSamples()) {
    auto db = Database::open(file.string());
    std::set<std::string> ours;
    for (const CatalogEntry* e : db->catalog().tables(true)) ours.insert(e->name);
    std::set<std::string> theirs;
    std::istringstream in(run("mdb-tables -S -1 " + shellQuote(file.string()) + " 2>/dev/null"));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) theirs.insert(line);
    }
    EXPECT_EQ(ours, theirs) << sampleName(file);
    std::set<std::string> user;
    for (const CatalogEntry* e : db->catalog().tables(false)) user.insert(e->name);
    for (const std::string& name : user) EXPECT_NE(name.rfind("MSys", 0), 0u) << sampleName(file) << " " << name;
  }
}

// Header facts every sample shares, and the one with a password.
TEST(ReaderSamples, HeaderSettings) {
  JET_REQUIRE_SAMPLES();
  for (const fs::path& file : allSamples()) {
    auto db = Database::open(file.string());
    const DatabaseHeader& h = db->header();
    bool jet3 = file.parent_path().filename() == "jet3";
    EXPECT_EQ(h.version(), jet3 ? Version::Jet3 : Version::Jet4) << sampleName(file);
    EXPECT_EQ(db->pages().pageSize(), jet3 ? 2048u : 4096u);
    EXPECT_EQ(h.sortOrder, 0x409) << sampleName(file);
    EXPECT_EQ(h.codePage, 1252) << sampleName(file);
    EXPECT_EQ(h.encodingKey, 0u) << sampleName(file);
    EXPECT_EQ(h.hasPassword, file.filename() == "withPasswordV2000.mdb") << sampleName(file);
    EXPECT_FALSE(db->pages().hasPartialPage());
    UsageMap global = db->globalFreeMap();
    EXPECT_LE(mappedPages(db->pages(), global).size(), db->pages().pageCount());
  }
}

// Table definitions: MEMO/OLE columns have their maps, indexes name existing columns, multi-page definitions chain.
TEST(ReaderSamples, TableDefinitionsAreConsistent) {
  JET_REQUIRE_SAMPLES();
  bool sawMultiPage = false;
  for (const fs::path& file : allSamples()) {
    auto db = Database::open(file.string());
    for (const CatalogEntry* e : db->catalog().tables(true)) {
      TableDef def = db->tableDefAt(e->tablePage());
      SCOPED_TRACE(sampleName(file) + " " + e->name);
      EXPECT_EQ(def.page, e->tablePage());
      EXPECT_EQ(def.columns.size(), def.columnCount);
      sawMultiPage |= def.pages.size() > 1;
      std::set<uint16_t> numbers;
      for (const ColumnDef& c : def.columns) numbers.insert(c.number);
      EXPECT_EQ(numbers.size(), def.columns.size()) << "column numbers repeat";
      for (const RealIndexDef& ix : def.realIndexes) {
        for (const auto& k : ix.columns) EXPECT_TRUE(numbers.count(k.column)) << "index on a missing column";
      }
      for (const LogicalIndexDef& li : def.logicalIndexes) {
        ASSERT_LT(li.realIndex, def.realIndexes.size());
        // A primary key's keys are unique.
        if (li.type == 1) {
          EXPECT_TRUE(def.realIndexes[li.realIndex].flags & 0x01) << li.name;
        }
      }
      for (const LongValueMaps& m : def.longValueMaps) {
        EXPECT_TRUE(numbers.count(m.column));
        // A pointer of 0 means the column has no such map yet.
        if (!m.owned.at.isNull()) readUsageMap(db->pages(), m.owned.at);
        if (!m.free.at.isNull()) readUsageMap(db->pages(), m.free.at);
      }
      // Stored counters can be stale, so only an upper-bound sanity check against the data.
      EXPECT_LE(countRows(db->pages(), def), 1000000u);
    }
  }
  EXPECT_TRUE(sawMultiPage);
}

}  // namespace
}  // namespace jet
