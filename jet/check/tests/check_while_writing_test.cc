// The check of a file while it is written, fed here from a complete generated file (its tables' data pages as their
// maps list them, a few at a time, and each index's root): on a sound file and on damaged copies it finds what the
// check of the finished file finds, in its own order.
#include <gtest/gtest.h>

#include <algorithm>

#include "jet/check/check_while_writing.h"
#include "jet/create/generator.h"
#include "jet/format/data_page.h"
#include "jet/format/usage_map.h"
#include "jet/testing/reader_test_support.h"

namespace jet {
namespace {

using reader_testing::readFile;
using reader_testing::TempDir;
using reader_testing::writeFile;

// Hands over a table of a complete file as its writer would: data pages in runs of three, then the roots.
class FileFeed : public TableFeed {
 public:
  FileFeed(std::vector<uint32_t> pages, const TableDef& def) : pages_(std::move(pages)), def_(def) {}
  bool nextDataPages(std::vector<uint32_t>& pages) override {
    if (next_ == pages_.size()) return false;
    const size_t end = std::min(next_ + 3, pages_.size());
    pages.insert(pages.end(), pages_.begin() + static_cast<std::ptrdiff_t>(next_),
                 pages_.begin() + static_cast<std::ptrdiff_t>(end));
    next_ = end;
    return true;
  }
  uint32_t indexRoot(uint32_t k) override { return def_.realIndexes[k].rootPage; }

 private:
  std::vector<uint32_t> pages_;
  size_t next_ = 0;
  const TableDef& def_;
};

std::vector<std::string> sorted(const CheckReport& r) {
  std::vector<std::string> out;
  for (const Problem& p : r.problems) out.push_back(describeProblem(p));
  std::sort(out.begin(), out.end());
  return out;
}

class CheckWhileWritingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    std::string path = (dir_->path() / "generated.mdb").string();
    create::GeneratorOptions options;
    options.articles = 300;
    options.seed = 5;
    options.bloatPercent = 30;
    create::generateDatabase(path, options);
    original_ = new std::vector<uint8_t>(readFile(path));
  }
  static void TearDownTestSuite() {
    delete original_;
    delete dir_;
  }

  // Both checks of `bytes`: the finished file's, and the one fed table by table.
  static std::pair<CheckReport, CheckReport> bothChecks(const std::vector<uint8_t>& bytes) {
    const std::string path = (dir_->path() / "checked.mdb").string();
    writeFile(path, bytes);
    CheckOptions options;
    options.maxProblemsPerTable = 100000;
    auto whole = Database::open(path);
    CheckReport after = checkDatabase(*whole, options);

    auto reading = Database::open(path);
    CheckWhileWriting check(reading->pages(), options);
    for (const CatalogEntry* e : reading->catalog().tables(true)) {
      TableDef def = reading->tableDefAt(e->tablePage());
      FileFeed feed(mappedPages(reading->pages(), readUsageMap(reading->pages(), def.ownedPages.at)), def);
      check.table(e->name, e->tablePage(), def, feed);
    }
    auto complete = Database::open(path);
    return {after, check.finish(*complete)};
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::vector<uint8_t>* original_ = nullptr;
};

TEST_F(CheckWhileWritingTest, FindsWhatTheCheckOfTheFinishedFileFinds) {
  Database db(std::make_unique<MemorySource>("g", *original_));
  const TableDef t = db.tableDef("Gibanja");
  const uint32_t pageSize = db.format().pageSize;
  const std::vector<uint32_t> dataPages = mappedPages(db.pages(), readUsageMap(db.pages(), t.ownedPages.at));
  ASSERT_GE(dataPages.size(), 4u);

  struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> make;
  };
  const std::vector<Damage> damages = {
      {"nothing", [](std::vector<uint8_t>&) {}},
      {"a row count", [&](std::vector<uint8_t>& b) { b[size_t{t.page} * pageSize + db.format().tdefRowCount] ^= 1; }},
      {"an index root that is a data page",
       [&](std::vector<uint8_t>& b) {
         const size_t at = size_t{t.page} * pageSize + t.realIndexes[0].usageMap.offset + 4;
         for (size_t k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(dataPages[1] >> (8 * k));
       }},
      {"a data page's row table",
       [&](std::vector<uint8_t>& b) {
         const size_t at = size_t{dataPages[2]} * pageSize + db.format().rowOffsetTable();
         b[at + 1] ^= 0x0F;  // the first row's offset points elsewhere
       }},
      {"a data page emptied of rows",
       [&](std::vector<uint8_t>& b) {
         const size_t at = size_t{dataPages[3]} * pageSize;
         const uint16_t rows = dataPageRowCount(db.format(), Bytes(b.data() + at, pageSize));
         for (uint16_t r = 0; r < rows; ++r) b[at + db.format().rowOffsetTable() + 2u * r + 1] |= 0xC0;
       }},
  };
  for (const Damage& d : damages) {
    std::vector<uint8_t> bytes = *original_;
    d.make(bytes);
    auto [after, beside] = bothChecks(bytes);
    EXPECT_EQ(sorted(beside), sorted(after)) << d.what;
    EXPECT_EQ(beside.rows, after.rows) << d.what;
    EXPECT_EQ(beside.indexEntries, after.indexEntries) << d.what;
    EXPECT_EQ(beside.tables, after.tables) << d.what;
    if (std::string(d.what) != "nothing") {
      EXPECT_FALSE(after.problems.empty()) << d.what;
    }
  }
}

}  // namespace
}  // namespace jet
