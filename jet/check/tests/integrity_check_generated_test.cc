// The database check over files made by the generator: large enough for multi-page indexes and usage maps in their
// reference form, so damage to those can be made and must be found. The check of a file while it is written is fed
// here from a complete file (its tables' data pages as their maps list them, a few at a time, and each index's root):
// it must find what the check of the finished file finds, in its own order.
#include <gtest/gtest.h>

#include <algorithm>

#include "jet/create/generator.h"
#include "jet/format/data_page.h"
#include "jet/format/usage_map.h"
#include "jet/read/index_walk.h"
#include "jet/check/check_while_writing.h"
#include "jet/check/integrity_check.h"
#include "jet/check/table_checker.h"
#include "jet/testing/reader_test_support.h"

namespace jet {
namespace {

using reader_testing::readFile;
using reader_testing::TempDir;
using reader_testing::writeFile;

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

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

class GeneratedCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    std::string path = (dir_->path() / "generated.mdb").string();
    create::GeneratorOptions options;
    options.articles = 800;
    options.seed = 3;
    options.bloatPercent = 30;
    create::generateDatabase(path, options);
    original_ = new std::vector<uint8_t>(readFile(path));
  }
  static void TearDownTestSuite() {
    delete original_;
    delete dir_;
  }

  CheckReport check(const std::vector<uint8_t>& bytes) {
    std::string path = (dir_->path() / "damaged.mdb").string();
    writeFile(path, bytes);
    auto db = Database::open(path);
    CheckOptions options;
    options.maxProblemsPerTable = 100000;
    return checkDatabase(*db, options);
  }

  static std::string all(const CheckReport& r) {
    std::string s;
    for (const Problem& p : r.problems) s += describeProblem(p) + "\n";
    return s;
  }

  static std::vector<Problem> find(const CheckReport& r, const std::string& words) {
    std::vector<Problem> out;
    for (const Problem& p : r.problems) {
      if (p.message.find(words) != std::string::npos) out.push_back(p);
    }
    return out;
  }

  // Both checks of `bytes`: the finished file's, and the one fed table by table as a writer would (see FileFeed).
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
      std::vector<uint32_t> owned = mappedPages(reading->pages(), readUsageMap(reading->pages(), def.ownedPages.at));
      const uint64_t mostRows = uint64_t{owned.size()} * 255;
      FileFeed feed(std::move(owned), def);
      check.table(e->name, e->tablePage(), def, feed, mostRows);
    }
    auto complete = Database::open(path);
    return {after, check.finish(*complete)};
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::vector<uint8_t>* original_ = nullptr;
};

TEST_F(GeneratedCheck, GeneratedFilesCheckStrictlyClean) {
  CheckReport r = check(*original_);
  EXPECT_TRUE(r.clean(true)) << all(r);
  EXPECT_GT(r.indexEntries, 5000u);
}

TEST_F(GeneratedCheck, BitmapPagesListedTwiceOrByTwoMaps) {
  Database db(std::make_unique<MemorySource>("g", *original_));
  TableDef t = db.tableDef("Gibanja");
  UsageMap map = readUsageMap(db.pages(), t.ownedPages.at);
  ASSERT_EQ(map.kind, UsageMap::Kind::Reference) << "the table should need the reference form";
  ASSERT_GE(map.bitmapPages.size(), 2u);
  ASSERT_NE(map.bitmapPages[0], 0u);
  const uint32_t pageSize = db.format().pageSize;
  RowSlot slot = dataPageRow(db.format(), Bytes(original_->data() + size_t{t.ownedPages.at.page} * pageSize, pageSize),
                             t.ownedPages.at.row);
  size_t listAt = size_t{t.ownedPages.at.page} * pageSize + slot.start + 1;

  // The second slot stands for pages past the end of this file: it is never read, so whatever it names (Access
  // leaves any number there) neither marks pages nor takes a page from another map.
  ASSERT_GE(uint64_t{UsageMap::pagesPerBitmapPage(pageSize)}, db.pages().pageCount());
  for (uint32_t named : {map.bitmapPages[0], 0xFFFFFF80u}) {
    std::vector<uint8_t> twice = *original_;
    put32(twice, listAt + 4, named);
    CheckReport r = check(twice);
    EXPECT_TRUE(r.clean(true)) << all(r);
  }

  // The free-space map of the same table taking over the owned map's bitmap page.
  UsageMap freeMap = readUsageMap(db.pages(), t.freeSpacePages.at);
  if (freeMap.kind == UsageMap::Kind::Reference && freeMap.bitmapPages[0] != 0) {
    RowSlot freeSlot =
        dataPageRow(db.format(), Bytes(original_->data() + size_t{t.freeSpacePages.at.page} * pageSize, pageSize),
                    t.freeSpacePages.at.row);
    std::vector<uint8_t> shared = *original_;
    put32(shared, size_t{t.freeSpacePages.at.page} * pageSize + freeSlot.start + 1, map.bitmapPages[0]);
    CheckReport s = check(shared);
    EXPECT_FALSE(find(s, "also for a usage-map bitmap").empty()) << all(s);
  }
}

TEST_F(GeneratedCheck, LeavesOfMultiPageIndexes) {
  Database db(std::make_unique<MemorySource>("g", *original_));
  TableDef t = db.tableDef("Gibanja");
  // The first index with more than one leaf.
  uint32_t k = 0;
  std::vector<uint32_t> leaves;
  for (; k < t.realIndexes.size(); ++k) {
    leaves.clear();
    IndexWalker w(db.pages(), t.page, t.realIndexes[k].rootPage, {}, [&](uint32_t page, bool leaf) {
      if (leaf) leaves.push_back(page);
    });
    IndexWalkEntry e;
    while (w.next(e)) {
    }
    if (leaves.size() >= 3) break;
  }
  ASSERT_LT(k, t.realIndexes.size()) << "no index with three leaves";
  const uint32_t pageSize = db.format().pageSize;

  // The middle leaf emptied: every row it listed is now missing from the index, and the tree reports the empty page.
  std::vector<uint8_t> emptied = *original_;
  IndexPage middle =
      decodeIndexPage(db.format(), Bytes(original_->data() + size_t{leaves[1]} * pageSize, pageSize), leaves[1]);
  const size_t lost = middle.entries.size();
  IndexPage empty = middle;
  empty.entries.clear();
  empty.prefixLength = 0;
  std::vector<uint8_t> encoded = encodeIndexPage(db.format(), empty);
  std::copy(encoded.begin(), encoded.end(),
            emptied.begin() + static_cast<std::ptrdiff_t>(size_t{leaves[1]} * pageSize));
  CheckReport r = check(emptied);
  EXPECT_EQ(find(r, "an empty leaf page").size(), 1u) << all(r);
  EXPECT_EQ(find(r, "missing from").size(), lost) << all(r);
  EXPECT_EQ(find(r, "holds no entries").size(), 1u) << all(r);
  EXPECT_FALSE(r.clean());

  // The table checked on its own finds what the whole check finds for it: it needs nothing of the whole-file parts
  // but the names of the catalog's tables.
  {
    std::string path = (dir_->path() / "damaged.mdb").string();
    writeFile(path, emptied);
    auto damaged = Database::open(path);
    CheckReport alone;
    ProblemLog log(alone, 100000);
    PageClaims claims(damaged->pages().pageCount(), log);
    for (const CatalogEntry* e : damaged->catalog().tables(true)) claims.nameTable(e->tablePage(), e->name);
    CheckOptions options;
    TableChecker(damaged->pages(), "Gibanja", t.page, claims, options, log).run();
    std::string whole;
    for (const Problem& problem : r.problems) {
      if (problem.table == "Gibanja") whole += describeProblem(problem) + "\n";
    }
    EXPECT_FALSE(whole.empty());
    EXPECT_EQ(all(alone), whole);
    EXPECT_EQ(alone.tables, 1u);
    EXPECT_GT(alone.rows, 1000u);
  }

  // Two leaves swapped in the leaf chain only: the descent still finds every entry, the links disagree with it.
  std::vector<uint8_t> relinked = *original_;
  put32(relinked, size_t{leaves[0]} * pageSize + db.format().indexNextPage, leaves[2]);
  CheckReport s = check(relinked);
  std::vector<Problem> p = find(s, "links forward");
  ASSERT_EQ(p.size(), 1u) << all(s);
  EXPECT_EQ(p[0].page, leaves[0]);
  EXPECT_TRUE(find(s, "missing from").empty()) << all(s);
}

TEST_F(GeneratedCheck, TheCheckWhileWritingFindsWhatTheCheckOfTheFinishedFileFinds) {
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
         b[at] = 0xFF;  // the first row starts at the page's last byte: one byte cannot hold it
         b[at + 1] = static_cast<uint8_t>(b[at + 1] | 0x0F);
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
