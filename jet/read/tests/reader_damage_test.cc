// Damaged and foreign files: each is made in a temporary folder from the bytes of a generated database or of a sample,
// and each must fail with a numbered error that names the file, never crash, hang or read outside its buffers.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>

#include "tools/jetdb/csv_export.h"
#include "jet/create/generator.h"
#include "jet/format/data_page.h"
#include "jet/read/database.h"
#include "jet/format/long_value.h"
#include "jet/format/row_layout.h"
#include "jet/read/table_scan.h"
#include "jet/testing/reader_test_support.h"
#include "jet/testing/generated_database.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using reader_testing::readFile;
using reader_testing::samplesDir;
using reader_testing::TempDir;
using reader_testing::writeFile;

std::vector<uint8_t> sample(const char* name) { return readFile(samplesDir() / name); }
// A sound Jet 4 database, where any one will do; "Artikli" is a table of it with rows on several data pages.
std::vector<uint8_t> someDatabase() { return reader_testing::generatedDatabase(); }

// Opens the file and prints every table, as `jetdb dump` would.
void readEverything(const std::string& path) {
  auto db = Database::open(path);
  std::unique_ptr<FILE, int (*)(FILE*)> sink(std::fopen("/dev/null", "w"), std::fclose);
  for (const CatalogEntry* e : db->catalog().tables(true)) exportCsv(*db, db->tableDefAt(e->tablePage()), sink.get());
}

// Writes bytes to a scratch file, reads it whole and returns the error number (0 when it read cleanly).
int errorReading(const TempDir& dir, const std::vector<uint8_t>& bytes, std::string* message = nullptr) {
  fs::path path = dir.path() / "damaged.mdb";
  writeFile(path, bytes);
  try {
    readEverything(path.string());
  } catch (const Error& e) {
    if (message) *message = e.what();
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << "message does not name the file";
    return e.number();
  }
  return 0;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
}

struct Located {
  uint32_t tdefPage = 0;
  std::vector<uint32_t> tdefPages;
  std::vector<uint32_t> dataPages;
};

Located locate(const std::vector<uint8_t>& bytes, const std::string& table) {
  Database db(std::make_unique<MemorySource>("sample", bytes));
  TableDef def = db.tableDef(table);
  Located l;
  l.tdefPage = def.page;
  l.tdefPages = def.pages;
  TableScan scan(db.pages(), def);
  RowRecord rec;
  while (scan.next(rec)) {
    if (l.dataPages.empty() || l.dataPages.back() != rec.stored.page) l.dataPages.push_back(rec.stored.page);
  }
  return l;
}

TEST(ReaderDamage, ForeignFilesAreUnrecognized) {
  TempDir dir;
  EXPECT_EQ(errorReading(dir, {}), 3343);
  std::string text = "Name,Value\nJet,4\n";
  EXPECT_EQ(errorReading(dir, std::vector<uint8_t>(text.begin(), text.end())), 3343);
  // An Access 2007 file: same layout, another engine name and version. It is often still named .mdb, so the
  // message says what it is.
  std::vector<uint8_t> ace = someDatabase();
  std::memcpy(ace.data() + 4, "Standard ACE DB", 15);
  ace[0x14] = 2;
  std::string message;
  EXPECT_EQ(errorReading(dir, ace, &message), 3343);
  EXPECT_NE(message.find("an Access 2007 or later database"), std::string::npos) << message;
  std::vector<uint8_t> version5 = someDatabase();
  version5[0x14] = 5;
  EXPECT_EQ(errorReading(dir, version5, &message), 3343);
  EXPECT_NE(message.find("version 5 is neither Jet 3 nor Jet 4 (Access 2007 or later)"), std::string::npos) << message;
  // Access 1.x and 2.0 files start 01 00 00 00 and give their version at 0x40A; cut short, nothing tells them apart.
  std::vector<uint8_t> access2(8192, 0);
  access2[0] = 1;
  access2[0x40A] = 9;
  EXPECT_EQ(errorReading(dir, access2, &message), 3343);
  EXPECT_NE(message.find("an Access 2.0 database"), std::string::npos) << message;
  access2.resize(0x40A);
  EXPECT_EQ(errorReading(dir, access2, &message), 3343);
  EXPECT_NE(message.find("no Jet database header"), std::string::npos) << message;
}

TEST(ReaderDamage, MissingAndUnopenableFiles) {
  TempDir dir;
  try {
    Database::open((dir.path() / "absent.mdb").string());
    FAIL() << "opened a missing file";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3024);
    EXPECT_NE(std::string(e.what()).find("absent.mdb"), std::string::npos);
  }
  try {
    Database::open(dir.path().string());
    FAIL() << "opened a folder";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3051);
  }
}

// A source whose reads fail after a number of them: a disk that goes bad while the file is read.
class FailingSource : public PageSource {
 public:
  FailingSource(std::vector<uint8_t> bytes, int goodReads)
      : inner_("failing.mdb", std::move(bytes)), left_(goodReads) {}
  const std::string& name() const override { return inner_.name(); }
  uint64_t size() const override { return inner_.size(); }
  void read(uint64_t offset, std::span<uint8_t> out) override {
    if (left_-- <= 0) fail(ErrorCode::DiskIoRead, "failing.mdb: disk I/O error during read");
    inner_.read(offset, out);
  }

 private:
  MemorySource inner_;
  int left_;
};

TEST(ReaderDamage, ReadErrorsAreReportedAs3040) {
  std::vector<uint8_t> bytes = someDatabase();
  for (int good : {0, 1, 3, 6}) {
    try {
      Database db(std::make_unique<FailingSource>(bytes, good), 8);
      std::unique_ptr<FILE, int (*)(FILE*)> sink(std::fopen("/dev/null", "w"), std::fclose);
      for (const CatalogEntry* e : db.catalog().tables(true)) exportCsv(db, db.tableDefAt(e->tablePage()), sink.get());
      ADD_FAILURE() << "no error after " << good << " good reads";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 3040) << e.what();
    }
  }
}

TEST(ReaderDamage, TruncatedFiles) {
  TempDir dir;
  std::vector<uint8_t> bytes = someDatabase();
  std::vector<uint8_t> headerOnly(bytes.begin(), bytes.begin() + 4096 + 100);
  EXPECT_EQ(errorReading(dir, headerOnly), 3049);
  std::vector<uint8_t> half(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(bytes.size() / 2));
  EXPECT_EQ(errorReading(dir, half), 3049);
  if (samplesDir().empty()) return;  // Jet 3 files come only from the samples
  std::vector<uint8_t> jet3 = sample("jet3/testV1997.mdb");
  std::vector<uint8_t> jet3Short(jet3.begin(), jet3.begin() + 2048 * 3 - 1);
  EXPECT_EQ(errorReading(dir, jet3Short), 3049);
}

TEST(ReaderDamage, ChangedPageTypes) {
  TempDir dir;
  std::vector<uint8_t> bytes = someDatabase();
  std::vector<uint8_t> catalog = bytes;
  catalog[2 * 4096] = 0x01;  // the catalog's definition becomes a data page
  std::string message;
  EXPECT_EQ(errorReading(dir, catalog, &message), 3049);
  EXPECT_NE(message.find("page 2"), std::string::npos) << message;

  Located t = locate(bytes, "Artikli");
  std::vector<uint8_t> tdef = bytes;
  tdef[size_t{t.tdefPage} * 4096] = 0x04;
  EXPECT_EQ(errorReading(dir, tdef), 3049);

  // A table's owned-pages map pointing at an index page instead of a data page.
  std::vector<uint8_t> map = bytes;
  TableDef def = Database(std::make_unique<MemorySource>("s", bytes)).tableDef("Artikli");
  map[size_t{def.ownedPages.at.page} * 4096] = 0x03;
  EXPECT_EQ(errorReading(dir, map), 3049);
}

TEST(ReaderDamage, CyclicDefinitionChain) {
  JET_REQUIRE_SAMPLES();
  TempDir dir;
  std::vector<uint8_t> bytes = sample("jet4/testV2003.mdb");
  Located t = locate(bytes, "Table2");
  ASSERT_GE(t.tdefPages.size(), 2u) << "Table2 should span two definition pages";
  put32(bytes, size_t{t.tdefPages.back()} * 4096 + 4, t.tdefPages.front());
  std::string message;
  EXPECT_EQ(errorReading(dir, bytes, &message), 3049);
  EXPECT_NE(message.find("loops"), std::string::npos) << message;
}

TEST(ReaderDamage, CyclicLongValueChain) {
  TempDir dir;
  std::vector<uint8_t> bytes = someDatabase();
  std::vector<LongValuePiece> pieces;
  ASSERT_TRUE(reader_testing::findChainedLongValue(bytes, pieces)) << "no chained long value in the database";
  // Point the first row's link at itself.
  const Format& f = kJet4Format;
  RowPointer first = pieces.front().at;
  Bytes page(bytes.data() + size_t{first.page} * f.pageSize, f.pageSize);
  RowSlot slot = dataPageRow(f, page, first.row);
  put32(bytes, size_t{first.page} * f.pageSize + slot.start, first.raw());
  std::string message;
  EXPECT_EQ(errorReading(dir, bytes, &message), 3049);
  EXPECT_NE(message.find("loops"), std::string::npos) << message;
}

TEST(ReaderDamage, OffsetsPastThePage) {
  TempDir dir;
  const std::vector<uint8_t> bytes = someDatabase();
  Located t = locate(bytes, "Artikli");
  ASSERT_FALSE(t.dataPages.empty());
  const size_t page = size_t{t.dataPages.front()} * 4096;
  const Format& f = kJet4Format;

  std::vector<uint8_t> rowOffset = bytes;  // row 0 starts past the end of the page
  rowOffset[page + f.rowOffsetTable()] = 0xFF;
  rowOffset[page + f.rowOffsetTable() + 1] = 0x1F;
  EXPECT_EQ(errorReading(dir, rowOffset), 3049);

  std::vector<uint8_t> rowCount = bytes;  // more rows than fit the page
  rowCount[page + f.dataRowCountOffset] = 0xFF;
  rowCount[page + f.dataRowCountOffset + 1] = 0x7F;
  EXPECT_EQ(errorReading(dir, rowCount), 3049);

  std::vector<uint8_t> columns = bytes;  // the first row claims 2000 columns: its null mask outgrows it
  RowSlot slot = dataPageRow(f, Bytes(bytes.data() + page, 4096), 0);
  columns[page + slot.start] = 0xD0;
  columns[page + slot.start + 1] = 0x07;
  EXPECT_EQ(errorReading(dir, columns), 3049);

  std::vector<uint8_t> mapPointer = bytes;  // the owned-pages map lives on a page past the end of the file
  TableDef def = Database(std::make_unique<MemorySource>("s", bytes)).tableDef("Artikli");
  put32(mapPointer, size_t{t.tdefPage} * 4096 + def.ownedPages.offset, 0x00FFFF00);
  EXPECT_EQ(errorReading(dir, mapPointer), 3049);

  std::vector<uint8_t> columnCount = bytes;  // the definition claims far more columns than it holds
  columnCount[size_t{t.tdefPage} * 4096 + f.tdefColumnCount] = 0xFF;
  columnCount[size_t{t.tdefPage} * 4096 + f.tdefColumnCount + 1] = 0x7F;
  EXPECT_EQ(errorReading(dir, columnCount), 3049);
}

// Random damage anywhere in small files (a generated one, and samples where they are): reading either works or fails
// with a numbered error. The sanitizers turn any read outside a buffer into a failure.
TEST(ReaderDamage, RandomDamageNeverCrashes) {
  std::mt19937 rng(20261208);
  int failures = 0, runs = 0;
  std::vector<std::string> names{"generated"};
  if (!samplesDir().empty()) {
    names.insert(names.end(), {"jet3/testV1997.mdb", "jet4/delTestV2000.mdb", "jet3/overflowTestV1997.mdb"});
  }
  for (const std::string& name : names) {
    const std::vector<uint8_t> original = name == "generated" ? someDatabase() : sample(name.c_str());
    for (int round = 0; round < 150; ++round) {
      std::vector<uint8_t> bytes = original;
      int flips = 1 + static_cast<int>(rng() % 16);
      for (int k = 0; k < flips; ++k) {
        size_t at = rng() % bytes.size();
        if (round % 3 == 0) at = at % 16384;  // favour the header, the global map and the catalog
        bytes[at] = static_cast<uint8_t>(rng());
      }
      ++runs;
      try {
        Database db(std::make_unique<MemorySource>(name, std::move(bytes)), 16);
        std::unique_ptr<FILE, int (*)(FILE*)> sink(std::fopen("/dev/null", "w"), std::fclose);
        for (const CatalogEntry* e : db.catalog().tables(true)) {
          exportCsv(db, db.tableDefAt(e->tablePage()), sink.get());
        }
      } catch (const Error& e) {
        ++failures;
        EXPECT_TRUE(e.number() == 3049 || e.number() == 3343) << e.what();
      }
    }
  }
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, runs);
}

// What printing every table of a file gives: the CSV written before the end or the first error, then the error.
std::string printedOrError(const std::vector<uint8_t>& bytes, size_t readAheadPages,
                           FormatAhead formatAhead = FormatAhead::WhenBehind) {
  std::unique_ptr<FILE, int (*)(FILE*)> tmp(std::tmpfile(), std::fclose);
  if (!tmp) throw std::runtime_error("no temporary file for the CSV export");
  std::string error;
  try {
    Database db(std::make_unique<MemorySource>("damaged", bytes), 16);
    CsvStyle style;
    style.readAheadPages = readAheadPages;
    style.formatAhead = formatAhead;
    for (const CatalogEntry* e : db.catalog().tables(true)) {
      exportCsv(db, db.tableDefAt(e->tablePage()), tmp.get(), style);
    }
  } catch (const Error& e) {
    error = "\nerror " + std::to_string(e.number()) + ": " + e.what();
  }
  std::fflush(tmp.get());
  std::rewind(tmp.get());
  std::string out;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, tmp.get())) > 0;) out.append(buf, n);
  return out + error;
}

// A table printed while a second thread reads its rows ahead prints what reading and printing on one thread prints,
// byte for byte, and stops at the same damage with the same error: the reading thread stops at a damaged long value
// and leaves the error for the printing to meet. So it does whether the printing formats every batch, the reading
// thread formats every batch (meeting the damage itself), or they share them. On a sound file whose larger table
// spans several of the reader's batches, and on copies of it with random damage.
TEST(ReaderDamage, ReadingAheadPrintsWhatReadingInPlacePrints) {
  TempDir dir;
  const fs::path path = dir.path() / "larger.mdb";
  create::GeneratorOptions options;
  options.articles = 500;  // Gibanja: 1,500 rows, more than one batch of the reader
  options.seed = 11;
  options.bloatPercent = 20;
  create::generateDatabase(path.string(), options);
  const std::vector<uint8_t> original = readFile(path);
  std::mt19937 rng(20261209);
  int failures = 0;
  for (int round = 0; round < 24; ++round) {
    std::vector<uint8_t> bytes = original;
    if (round > 0) {
      // Past the catalog, where the tables' rows and long values are.
      for (int k = 0, flips = 1 + static_cast<int>(rng() % 6); k < flips; ++k) {
        bytes[16384 + rng() % (bytes.size() - 16384)] = static_cast<uint8_t>(rng());
      }
    }
    const std::string inPlace = printedOrError(bytes, SIZE_MAX);
    if (inPlace.find("\nerror ") != std::string::npos) ++failures;
    for (const FormatAhead formatAhead : {FormatAhead::Never, FormatAhead::Always, FormatAhead::WhenBehind}) {
      const std::string readAhead = printedOrError(bytes, 0, formatAhead);
      ASSERT_EQ(readAhead.size(), inPlace.size()) << "round " << round << ", way " << static_cast<int>(formatAhead);
      EXPECT_TRUE(readAhead == inPlace) << "round " << round << ", way " << static_cast<int>(formatAhead)
                                        << ": the outputs differ";
    }
  }
  EXPECT_GT(failures, 0) << "no damage met: the test does not test the errors";
}

}  // namespace
}  // namespace jet
