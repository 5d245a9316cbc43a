// Databases made by the generator: they pass the integrity check without a warning, read the same in our reader,
// mdb-export and mdb-reader, come out byte for byte the same for a seed, hold long values in every storage form and
// Slovene text, and compact to a file smaller in proportion to their bloat.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "jet/compact/compact.h"
#include "jet/create/generator.h"
#include "jet/read/database.h"
#include "jet/check/integrity_check.h"
#include "jet/format/long_value.h"
#include "jet/format/row_layout.h"
#include "jet/read/table_scan.h"
#include "jet/os/testing/fault_env.h"
#include "jet/testing/compact_test_support.h"
#include "jet/testing/reader_test_support.h"
#include "jet/format/value.h"

namespace jet::create {
namespace {

namespace fs = std::filesystem;
using compact_testing::dumpTable;
using compact_testing::fileDigest;
using compact_testing::runCommand;
using reader_testing::TempDir;

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

fs::path generate(const TempDir& dir, const std::string& name, uint64_t rows, uint64_t seed, uint32_t bloat) {
  fs::path path = dir.path() / name;
  GeneratorOptions o;
  o.articles = rows;
  o.seed = seed;
  o.bloatPercent = bloat;
  generateDatabase(path.string(), o);
  return path;
}

TEST(GeneratedDatabase, PassesTheIntegrityCheckWithoutWarnings) {
  TempDir dir;
  for (uint32_t bloat : {0u, 40u}) {
    SCOPED_TRACE("bloat " + std::to_string(bloat));
    auto db = Database::open(generate(dir, "check" + std::to_string(bloat) + ".mdb", 300, 7, bloat).string());
    CheckReport report = checkDatabase(*db);
    for (const Problem& p : report.problems) ADD_FAILURE() << describeProblem(p);
    EXPECT_TRUE(report.clean(true));
    EXPECT_EQ(report.tables, 6u);  // four system tables, Artikli, Gibanja; the work tables are gone
    EXPECT_EQ(report.indexes, 13u);
    ASSERT_NE(db->catalog().findTable("Artikli"), nullptr);
    EXPECT_EQ(db->catalog().findTable("tmpPrenos"), nullptr);
    // The enforced relationship: a foreign key on each side naming the other table, and its MSysRelationships row.
    TableDef articles = db->tableDef("Artikli");
    TableDef movements = db->tableDef("Gibanja");
    ASSERT_EQ(movements.logicalIndexes.size(), 3u);
    EXPECT_EQ(movements.logicalIndexes[2].type, 2);
    EXPECT_EQ(movements.logicalIndexes[2].relatedTablePage, articles.page);
    EXPECT_EQ(movements.logicalIndexes[2].realIndex, 1u);
    ASSERT_EQ(articles.logicalIndexes.size(), 5u);
    EXPECT_EQ(articles.logicalIndexes[4].relatedTablePage, movements.page);
    EXPECT_EQ(articles.logicalIndexes[4].realIndex, 0u);
    EXPECT_EQ(compact_testing::dumpTable(*db, "MSysRelationships"),
              "szRelationship,grbit,ccolumn,icolumn,szObject,szColumn,szReferencedObject,szReferencedColumn\n"
              "\"ArtikliGibanja\",0,1,0,\"Gibanja\",\"IdArtikla\",\"Artikli\",\"Id\"\n");
    EXPECT_EQ(db->header().sortOrder, 0x0409);
    EXPECT_EQ(db->header().codePage, 1252);
    EXPECT_FALSE(db->header().hasPassword);
  }
}

TEST(GeneratedDatabase, NeverOverwritesAFileAndLeavesNothingOnFailure) {
  TempDir dir;
  const fs::path existing = dir.path() / "data.mdb";
  reader_testing::writeFile(existing, {1, 2, 3});
  GeneratorOptions o;
  o.articles = 10;
  try {
    generateDatabase(existing.string(), o);
    ADD_FAILURE() << "an existing file was overwritten";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::DatabaseExists);
  }
  EXPECT_EQ(reader_testing::readFile(existing), (std::vector<uint8_t>{1, 2, 3}));
  o.bloatPercent = 95;  // out of range: fails before anything is written
  EXPECT_THROW(generateDatabase((dir.path() / "new.mdb").string(), o), Error);
  EXPECT_FALSE(fs::exists(dir.path() / "new.mdb"));
  EXPECT_THROW(generateDatabase((dir.path() / "missing" / "new.mdb").string(), GeneratorOptions{}), Error);

  // A write that fails half way (the disk filling up) is reported, and the half-written file is removed.
  for (uint64_t writes : {0u, 40u}) {
    os_testing::FaultEnv env;
    env.failWritesAfter(writes, ErrorCode::DiskFull);
    GeneratorOptions failing;
    failing.articles = 100;
    failing.env = &env;
    try {
      generateDatabase((dir.path() / "full.mdb").string(), failing);
      ADD_FAILURE() << "a failed write went unreported";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::DiskFull);
    }
    EXPECT_FALSE(fs::exists(dir.path() / "full.mdb")) << "after " << writes << " writes";
  }
}

TEST(GeneratedDatabase, SameSeedSameBytesOtherSeedOtherBytes) {
  TempDir dir;
  const std::string a = fileDigest(generate(dir, "a.mdb", 200, 11, 20));
  const std::string b = fileDigest(generate(dir, "b.mdb", 200, 11, 20));
  const std::string c = fileDigest(generate(dir, "c.mdb", 200, 12, 20));
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

TEST(GeneratedDatabase, LongValuesInEveryFormAndSloveneText) {
  TempDir dir;
  auto db = Database::open(generate(dir, "lv.mdb", 300, 3, 0).string());
  TableDef def = db->tableDef("Gibanja");
  const ColumnDef* note = def.findColumn("opomba");
  ASSERT_NE(note, nullptr);
  const size_t k = static_cast<size_t>(note - def.columns.data());
  std::set<LongValueRef::Kind> kinds;
  bool slovene = false;
  TableScan scan(db->pages(), def);
  RowRecord rec;
  RowLayout layout;
  Value value;
  uint64_t rows = 0;
  while (scan.next(rec)) {
    ++rows;
    crackRow(db->format(), def, rec.bytes, layout);
    if (!layout.fields[k].present) continue;
    kinds.insert(parseLongValueRef(rec.bytes.subspan(layout.fields[k].offset, layout.fields[k].length)).kind);
    decodeValue(db->pages(), *note, rec.bytes, layout.fields[k], value);
    slovene = slovene || value.text.find("č") != std::string::npos || value.text.find("š") != std::string::npos ||
              value.text.find("ž") != std::string::npos;
  }
  EXPECT_EQ(rows, 900u);
  EXPECT_EQ(kinds.size(), 3u) << "inline, single-row and chained notes";
  EXPECT_TRUE(slovene);
}

TEST(GeneratedDatabase, MdbExportPrintsEveryTableAsWeDo) {
  if (std::system("command -v mdb-export >/dev/null 2>&1") != 0) GTEST_SKIP() << "mdb-export is not installed";
  TempDir dir;
  const fs::path file = generate(dir, "export.mdb", 250, 5, 30);
  auto db = Database::open(file.string());
  EXPECT_EQ(runCommand("mdb-tables -1 " + quoted(file)), "Artikli\nGibanja\n");
  CsvStyle style;
  style.mdbExportQuirks = true;
  for (const char* table : {"Artikli", "Gibanja", "MSysObjects", "MSysACEs"}) {
    EXPECT_EQ(runCommand("mdb-export " + quoted(file) + " " + table), dumpTable(*db, table, style)) << table;
  }
}

TEST(GeneratedDatabase, MdbReaderReadsEveryRow) {
  const fs::path oracle = fs::path(JET_PROJECT_DIR) / "tools" / "mdb-reader-oracle";
  if (!fs::exists(oracle / "node_modules" / "mdb-reader") || std::system("command -v node >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "mdb-reader is not installed (npm ci --prefix " << oracle.string() << ")";
  }
  TempDir dir;
  const fs::path file = generate(dir, "reader.mdb", 250, 9, 30);
  auto db = Database::open(file.string());
  const std::string out = runCommand("node " + quoted(oracle / "print-tables.mjs") + " " + quoted(file) + " 2>&1");
  ASSERT_EQ(out.rfind("## Artikli\n", 0), 0u) << out.substr(0, 300);
  size_t movementsAt = out.find("## Gibanja\n");
  ASSERT_NE(movementsAt, std::string::npos);
  auto lines = [](const std::string& s) { return static_cast<uint64_t>(std::count(s.begin(), s.end(), '\n')); };
  EXPECT_EQ(lines(out.substr(0, movementsAt)) - 1, countRows(db->pages(), db->tableDef("Artikli")));
  EXPECT_EQ(lines(out.substr(movementsAt)) - 1, countRows(db->pages(), db->tableDef("Gibanja")));
  EXPECT_NE(out.find("\u010d"), std::string::npos);  // č read back
}

TEST(GeneratedDatabase, CompactionTakesAwayTheBloat) {
  TempDir dir;
  auto compactedSize = [&](uint32_t bloat) {
    const fs::path src = generate(dir, "b" + std::to_string(bloat) + ".mdb", 400, 21, bloat);
    const fs::path dst = dir.path() / ("c" + std::to_string(bloat) + ".mdb");
    compactDatabase(src.string(), dst.string(), "");
    auto db = Database::open(dst.string());
    EXPECT_TRUE(checkDatabase(*db).clean(true));
    return std::pair<double, double>(static_cast<double>(fs::file_size(src)), static_cast<double>(fs::file_size(dst)));
  };
  auto [plain, plainCompacted] = compactedSize(0);
  auto [bloated, bloatedCompacted] = compactedSize(40);
  // Without bloat there is little to take away; with 40 % bloat about 40 % of the file goes.
  EXPECT_GT(plainCompacted / plain, 0.9);
  EXPECT_LT(bloatedCompacted / bloated, 0.66);
  EXPECT_GT(bloatedCompacted / bloated, 0.5);
  EXPECT_GT(bloated, plain);
}

}  // namespace
}  // namespace jet::create
