// Compaction of every sample database: the result passes the integrity check, holds the same rows as its source
// (by our reader and by mdb-export), is smaller, compacts again to the same bytes, and the source is untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <span>

#include "jet/testing/compact_test_support.h"
#include "jet/compact/compact.h"
#include "jet/pager/header.h"
#include "jet/check/integrity_check.h"
#include "jet/pager/rc4.h"
#include "jet/testing/reader_test_support.h"
#include "jet/testing/generated_database.h"

namespace jet {
namespace {

using namespace reader_testing;
using namespace compact_testing;
namespace fs = std::filesystem;

constexpr const char* kSlovenian = ";LANGID=0x0424;CP=1250;COUNTRY=0";

bool haveMdbExport() { return std::system("command -v mdb-export >/dev/null 2>&1") == 0; }

std::string quoted(const std::string& s) { return "'" + s + "'"; }

TEST(CompactSamples, EverySampleCompactsToAnEquivalentSmallerFile) {
  JET_REQUIRE_SAMPLES();
  TempDir tmp;
  for (const fs::path& sample : allSamples()) {
    SCOPED_TRACE(sample.filename().string());
    const std::string before = fileDigest(sample);
    const fs::path once = tmp.path() / ("1-" + sample.filename().string());
    const fs::path twice = tmp.path() / ("2-" + sample.filename().string());

    CompactReport report = compactDatabase(sample, once, kSlovenian);
    EXPECT_EQ(fileDigest(sample), before) << "the source changed";
    EXPECT_LT(fs::file_size(once), fs::file_size(sample));
    EXPECT_EQ(report.sortOrder, 0x0409);
    EXPECT_EQ(report.requestedSortOrder, 0x0424);

    auto source = Database::open(sample);
    auto result = Database::open(once);
    CheckReport check = checkDatabase(*result);
    EXPECT_TRUE(check.clean(true)) << (check.problems.empty() ? "" : describeProblem(check.problems.front()));
    EXPECT_EQ(dumpTables(*result, false), dumpTables(*source, false));
    EXPECT_EQ(result->header().sortOrder, source->header().sortOrder);
    EXPECT_EQ(result->header().codePage, source->header().codePage);
    EXPECT_EQ(result->header().hasPassword, source->header().hasPassword);
    EXPECT_EQ(result->header().unmasked, source->header().unmasked);

    compactDatabase(once, twice, "");
    EXPECT_EQ(fileDigest(twice), fileDigest(once)) << "compacting the result again changed it";
  }
}

// mdb-export reads rows through the usage maps in page order, as the compacted file stores them; in the source it
// meets overflow rows where they are stored rather than at their home slot, so the source side is our own reader
// in mdb-export's style.
TEST(CompactSamples, MdbExportReadsTheSameRows) {
  JET_REQUIRE_SAMPLES();
  if (!haveMdbExport()) GTEST_SKIP() << "mdb-export (mdbtools) is not installed";
  TempDir tmp;
  CsvStyle style;
  style.mdbExportQuirks = true;
  for (const fs::path& sample : allSamples()) {
    SCOPED_TRACE(sample.filename().string());
    const fs::path out = tmp.path() / sample.filename();
    compactDatabase(sample, out, kSlovenian);
    auto source = Database::open(sample);
    // In catalog row order, which differs where the source has overflow rows: compared as sets.
    EXPECT_EQ(runCommand("mdb-tables -1 " + quoted(out) + " | sort"),
              runCommand("mdb-tables -1 " + quoted(sample) + " | sort"));
    for (const CatalogEntry* e : source->catalog().tables(false)) {
      EXPECT_EQ(runCommand("mdb-export " + quoted(out) + " " + quoted(e->name)), dumpTable(*source, e->name, style))
          << e->name;
    }
  }
}

// Rows of each table as lines, sorted: mdb-reader, like mdb-export, meets a source's overflow rows where they are
// stored, so only the sets of rows are compared.
std::map<std::string, std::vector<std::string>> rowsByTable(const std::string& printed) {
  std::map<std::string, std::vector<std::string>> out;
  std::vector<std::string>* rows = nullptr;
  size_t at = 0;
  while (at < printed.size()) {
    size_t end = printed.find('\n', at);
    if (end == std::string::npos) end = printed.size();
    std::string line = printed.substr(at, end - at);
    at = end + 1;
    if (line.rfind("## ", 0) == 0) {
      rows = &out[line.substr(3)];
    } else if (rows != nullptr) {
      rows->push_back(line);
    }
  }
  for (auto& [name, lines] : out) std::sort(lines.begin(), lines.end());
  return out;
}

TEST(CompactSamples, MdbReaderReadsTheSameRows) {
  JET_REQUIRE_SAMPLES();
  const fs::path oracle = JET_MDB_READER_ORACLE;
  if (!fs::exists(oracle / "node_modules" / "mdb-reader") || std::system("command -v node >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "mdb-reader is not installed (npm ci --prefix " << oracle.string() << ")";
  }
  TempDir tmp;
  for (const fs::path& sample : allSamples()) {
    SCOPED_TRACE(sample.filename().string());
    const fs::path out = tmp.path() / sample.filename();
    compactDatabase(sample, out, kSlovenian);
    const std::string print = "node " + quoted((oracle / "print-tables.mjs").string()) + " ";
    const std::string before = runCommand(print + quoted(sample) + " 2>&1");
    const std::string after = runCommand(print + quoted(out) + " 2>&1");
    EXPECT_TRUE(before.empty() || before.rfind("## ", 0) == 0) << before;  // read without an error
    EXPECT_TRUE(after.empty() || after.rfind("## ", 0) == 0) << after;
    EXPECT_EQ(rowsByTable(after), rowsByTable(before));
  }
}

// Definitions are renumbered densely from page 2, and every table Id follows: the catalog's own, the permissions'
// and the navigation pane's.
TEST(CompactSamples, TableIdsFollowTheirDefinitions) {
  JET_REQUIRE_SAMPLES();
  TempDir tmp;
  const fs::path out = tmp.path() / "ids.mdb";
  CompactReport report = compactDatabase(samplesDir() / "jet4/testV2003.mdb", out, "");
  // The navigation pane's row for MSysAccessObjects (Id 758), a table the file no longer has, is left out.
  EXPECT_EQ(report.droppedRows, 1u);
  auto db = Database::open(out);
  std::vector<uint32_t> pages;
  for (const CatalogEntry* e : db->catalog().tables(true)) {
    TableDef def = db->tableDefAt(e->tablePage());  // throws unless the Id leads to the table's definition
    EXPECT_EQ(def.page, static_cast<uint32_t>(e->id));
    pages.push_back(def.page);
  }
  std::sort(pages.begin(), pages.end());
  EXPECT_EQ(pages.front(), 2u);
  EXPECT_LT(pages.back(), 2u + 2u * pages.size());  // dense: Table2's definition takes two pages
  // Every Id that names a table in the permission and navigation tables names a live one, and Table3 (page 736 in
  // the source) is found under its new Id.
  const std::string nav = dumpTable(*db, "MSysNavPaneObjectIDs");
  const uint32_t table3 = static_cast<uint32_t>(db->catalog().findTable("Table3")->id);
  EXPECT_LT(table3, 100u);
  EXPECT_NE(nav.find(std::to_string(table3) + ",\"Table3\""), std::string::npos) << nav;
  EXPECT_EQ(nav.find("736,"), std::string::npos);
  EXPECT_EQ(nav.find("MSysAccessObjects"), std::string::npos);
}

// Foreign keys name the related table by its definition page, which moves (indexTestV2000: 24, 27, 33 -> 7, 8, 9).
TEST(CompactSamples, ForeignKeysFollowTheirTables) {
  JET_REQUIRE_SAMPLES();
  TempDir tmp;
  const fs::path out = tmp.path() / "fk.mdb";
  compactDatabase(samplesDir() / "jet4/indexTestV2000.mdb", out, "");
  auto db = Database::open(out);
  const uint32_t table1 = static_cast<uint32_t>(db->catalog().findTable("Table1")->id);
  int foreignKeys = 0;
  for (const char* name : {"Table2", "Table3"}) {
    TableDef def = db->tableDef(name);
    for (const LogicalIndexDef& li : def.logicalIndexes) {
      if (li.relatedTablePage == 0) continue;
      EXPECT_EQ(li.relatedTablePage, table1) << name;
      ++foreignKeys;
    }
  }
  for (const LogicalIndexDef& li : db->tableDef("Table1").logicalIndexes) {
    if (li.relatedTablePage == 0) continue;
    EXPECT_NO_THROW(db->tableDefAt(li.relatedTablePage));
    ++foreignKeys;
  }
  EXPECT_EQ(foreignKeys, 4);
}

// A database with an encoding key is written with the same key, each page encrypted for its new number: a generated
// Jet 4 database, and a Jet 3 sample where the samples are.
TEST(CompactSamples, EncodedDatabasesStayEncoded) {
  TempDir tmp;
  std::vector<fs::path> plainFiles{generatedDatabasePath()};
  if (!samplesDir().empty()) plainFiles.push_back(samplesDir() / "jet3/testV1997.mdb");
  for (const fs::path& name : plainFiles) {
    std::vector<uint8_t> coded = readFile(name);
    const Format& f = coded[0x14] == 0 ? kJet3Format : kJet4Format;
    const uint32_t key = 0x5A3C9617;
    reader_testing::encodeWithKey(coded, key);
    const fs::path in = tmp.path() / "coded.mdb";
    const fs::path out = tmp.path() / "coded-compact.mdb";
    fs::remove(in);
    fs::remove(out);
    writeFile(in, coded);
    compactDatabase(in, out, "");
    auto plain = Database::open(name);
    auto result = Database::open(out);
    EXPECT_EQ(result->header().encodingKey, key);
    EXPECT_EQ(dumpTables(*result, false), dumpTables(*plain, false)) << name;
    // Page 2 as stored is not a readable definition page: it is encrypted.
    std::vector<uint8_t> stored = readFile(out);
    EXPECT_NE(stored[size_t{2} * f.pageSize], static_cast<uint8_t>(PageType::TableDef));
  }
}

}  // namespace
}  // namespace jet
