// Compaction of generated databases, larger than the samples: tables whose pages need reference usage maps, index
// trees with node levels, long values in every storage form, deleted rows and dropped tables.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "jet/testing/compact_test_support.h"
#include "jet/compact/compact.h"
#include "jet/create/database_writer.h"
#include "jet/create/generator.h"
#include "jet/format/index_keys.h"
#include "jet/read/index_walk.h"
#include "jet/check/integrity_check.h"
#include "jet/testing/reader_test_support.h"
#include "jet/os/env.h"
#include "jet/os/testing/fault_env.h"

namespace jet {
namespace {

using namespace reader_testing;
using namespace compact_testing;
namespace fs = std::filesystem;

// The compacted file checks clean, without even a warning, and holds the rows of its source.
void expectCleanAndEquivalent(Database& original, Database& result) {
  CheckReport check = checkDatabase(result);
  EXPECT_TRUE(check.clean(true)) << (check.problems.empty() ? "" : describeProblem(check.problems.front()));
  EXPECT_EQ(dumpTables(result, false), dumpTables(original, false));
}

TEST(CompactGenerated, ABloatedDatabaseCompactsToAnEquivalentFile) {
  TempDir tmp;
  const fs::path source = tmp.path() / "gen.mdb";
  create::GeneratorOptions options;
  options.articles = 3000;
  options.seed = 7;
  options.bloatPercent = 40;
  create::generateDatabase(source.string(), options);
  const std::string before = fileDigest(source);

  const fs::path once = tmp.path() / "once.mdb";
  const fs::path twice = tmp.path() / "twice.mdb";
  CompactReport report = compactDatabase(source, once, ";LANGID=0x0424;CP=1250;COUNTRY=0");
  EXPECT_EQ(fileDigest(source), before);
  EXPECT_LT(report.destinationPages, report.sourcePages * 3 / 4);
  EXPECT_GT(report.longValues, 0u);

  expectCleanAndEquivalent(*Database::open(source), *Database::open(once));

  compactDatabase(once, twice, "");
  EXPECT_EQ(fileDigest(twice), fileDigest(once));
}

// Table Ids in the navigation pane's tables follow their tables. Access keeps the names in the pane's list of objects
// up to date but leaves the Ids alone when it compacts a file, so real files carry rows whose Id is an old page of the
// table they name, or the page another table has now: a row's name decides where it names a table, and its Id where
// not. Each table keeps one row; the rest, and rows naming no table, are left out. That includes the groups of tables
// that are gone: one kept with its old Id named whichever table the destination numbered so (a real file's group of a
// deleted table came out as the group of another), so the source is built twice, the second time with a group naming
// an Id that no table has in the source and that the first compaction gave to Delta.
TEST(CompactGenerated, NavigationPaneRowsFollowTheTablesTheyName) {
  TempDir tmp;
  const fs::path source = tmp.path() / "nav.mdb";
  constexpr int32_t kStaleGamma = 40001, kSecondAlpha = 40002, kGone = 40003;
  auto build = [&](int32_t staleGroup) {
    fs::remove(source);
    create::DatabaseWriter db(Env::system().createDestination(source.string()), create::HeaderSettings{});
    auto longColumns = [](std::string name, std::vector<std::string> columns) {
      create::TableSchema t;
      t.name = std::move(name);
      for (const std::string& c : columns) t.columns.push_back(create::columnSpec(c, ColumnType::Long));
      return t;
    };
    auto add = [](create::TableWriter& t, std::vector<create::FieldValue> fields) {
      return t.addRow(std::move(fields));
    };
    std::vector<create::TableWriter*> tables;
    for (const char* name : {"Alpha", "Beta", "Gamma", "Delta"}) {  // each with its data before the next
      tables.push_back(&db.createTable(longColumns(name, {"X"})));
      add(*tables.back(), {create::longField(1)});
      tables.back()->finishRows();
    }
    const auto alpha = static_cast<int32_t>(tables[0]->tdefPage());
    const auto gamma = static_cast<int32_t>(tables[2]->tdefPage());
    const auto delta = static_cast<int32_t>(tables[3]->tdefPage());
    create::TableSchema objectsSchema = longColumns("MSysNavPaneObjectIDs", {"Id"});
    objectsSchema.columns.push_back(create::columnSpec("Name", ColumnType::Text, 510));
    objectsSchema.columns.push_back(create::columnSpec("Type", ColumnType::Long));
    objectsSchema.indexes = {create::IndexSpec{"Id", {0}}};
    create::TableWriter& objects = db.createTable(std::move(objectsSchema));
    create::TableWriter& members = db.createTable(longColumns("MSysNavPaneGroupToObjects", {"GroupID", "ObjectID"}));
    create::TableWriter& groups = db.createTable(longColumns("MSysNavPaneGroups", {"Id", "ObjectID"}));
    std::vector<IndexEntry> byId;
    for (auto [id, name] : {std::pair{alpha, "Alpha"}, std::pair{gamma, "Beta"}, std::pair{kStaleGamma, "Gamma"},
                            std::pair{kSecondAlpha, "ALPHA"}, std::pair{delta, "Renamed"}, std::pair{kGone, "Gone"}}) {
      const RowPointer at = add(
          objects, {create::longField(id), create::textField(create::utf8ToUtf16(name), true), create::longField(1)});
      std::vector<uint8_t> key;
      appendLongKey(id, key);
      byId.push_back(makeLeafEntry(key, at));
    }
    objects.finishRows();
    objects.writeIndex(0, std::move(byId));
    for (int32_t object : {gamma, kStaleGamma, kSecondAlpha, kGone}) {
      add(members, {create::longField(10), create::longField(object)});
    }
    members.finishRows();
    for (auto [group, object] :
         {std::pair{10, gamma}, std::pair{11, staleGroup}, std::pair{12, 0}, std::pair{13, kSecondAlpha}}) {
      add(groups, {create::longField(group), create::longField(object)});
    }
    groups.finishRows();
    db.finish();
  };

  const fs::path out = tmp.path() / "nav-compact.mdb";
  build(kGone);
  compactDatabase(source, out, "");
  const auto deltaInDestination = static_cast<int32_t>(Database::open(out)->catalog().findTable("Delta")->id);
  fs::remove(out);
  build(deltaInDestination);
  {
    auto built = Database::open(source);
    for (const CatalogEntry* t : built->catalog().tableDefinitions())
      ASSERT_NE(static_cast<int32_t>(t->id), deltaInDestination) << "the group's Id names a table in the source";
  }

  CompactReport report = compactDatabase(source, out, "");
  // The second row for Alpha and Gone's, the entries naming them, and the groups naming no table.
  EXPECT_EQ(report.droppedRows, 6u);
  auto db = Database::open(out);
  CheckReport check = checkDatabase(*db);
  EXPECT_TRUE(check.clean(true)) << (check.problems.empty() ? "" : describeProblem(check.problems.front()));
  auto idOf = [&](const char* table) { return std::to_string(db->catalog().findTable(table)->id); };
  EXPECT_EQ(dumpTable(*db, "MSysNavPaneObjectIDs"), "Id,Name,Type\n" + idOf("Alpha") + ",\"Alpha\",1\n" + idOf("Beta") +
                                                        ",\"Beta\",1\n" + idOf("Gamma") + ",\"Gamma\",1\n" +
                                                        idOf("Delta") + ",\"Renamed\",1\n");
  EXPECT_EQ(dumpTable(*db, "MSysNavPaneGroupToObjects"),
            "GroupID,ObjectID\n10," + idOf("Beta") + "\n10," + idOf("Gamma") + "\n");
  EXPECT_EQ(dumpTable(*db, "MSysNavPaneGroups"), "Id,ObjectID\n10," + idOf("Beta") + "\n12,0\n");
  // The list's index on Id holds the Ids its rows hold (the tables' new Ids keep their old order).
  const TableDef list = db->tableDef("MSysNavPaneObjectIDs");
  IndexWalker walker(db->pages(), list.page, list.realIndexes.at(0).rootPage);
  std::string keys;
  IndexWalkEntry entry;
  while (walker.next(entry)) keys += std::to_string(decodeLongKey(entry.key.data() + 1, false)) + " ";
  EXPECT_EQ(keys, idOf("Alpha") + " " + idOf("Beta") + " " + idOf("Gamma") + " " + idOf("Delta") + " ");
}

// A log of narrow rows fills its pages with close to 200 rows each, near the 255 a page can hold, and its index has
// as many entries as the table has rows.
TEST(CompactGenerated, NarrowRowsFillThePagesAndCompactToAnEquivalentFile) {
  TempDir tmp;
  const fs::path source = tmp.path() / "log.mdb";
  create::GeneratorOptions options;
  options.articles = 50;
  options.logRows = 30000;
  options.bloatPercent = 40;
  create::GeneratorSummary made = create::generateDatabase(source.string(), options);
  EXPECT_GT(made.logRows, 15000u);
  const fs::path out = tmp.path() / "out.mdb";
  CompactReport report = compactDatabase(source, out, "");
  auto original = Database::open(source);
  auto result = Database::open(out);
  TableDef log = result->tableDef("Dnevnik");
  EXPECT_EQ(log.rowCount, made.logRows);
  TableScan scan(result->pages(), log);
  EXPECT_LT(scan.pages().size(), made.logRows / 150) << "the rows are not packed";
  expectCleanAndEquivalent(*original, *result);
  EXPECT_GE(report.indexEntries, made.logRows);
}

// A workgroup information file (System.mdw) is a database of the same layout whose header names another engine. It
// is read and compacted like a database, and its result keeps that name: Jet would not take it for a workgroup file
// otherwise. The Jet 4 case is generated; a Jet 3 sample is made into one where the samples are at hand.
TEST(CompactGenerated, WorkgroupInformationFilesCompactAndStayWorkgroupFiles) {
  TempDir tmp;
  const fs::path generated = tmp.path() / "gen.mdb";
  create::GeneratorOptions options;
  options.articles = 200;
  options.bloatPercent = 30;
  create::generateDatabase(generated.string(), options);
  std::vector<fs::path> bases = {generated};
  if (!samplesDir().empty()) bases.push_back(samplesDir() / "jet3" / "testV1997.mdb");

  for (const fs::path& base : bases) {
    SCOPED_TRACE(base.filename().string());
    std::vector<uint8_t> bytes = readFile(base);
    static constexpr char kName[] = "Jet System DB  ";
    std::memcpy(bytes.data() + 4, kName, sizeof kName - 1);
    const fs::path source = tmp.path() / ("System-" + base.filename().string() + ".mdw");
    const fs::path out = tmp.path() / ("Compacted-" + base.filename().string() + ".mdw");
    writeFile(source, bytes);

    auto original = Database::open(source);
    EXPECT_TRUE(original->header().workgroupFile);
    compactDatabase(source, out, "");
    auto result = Database::open(out);
    EXPECT_TRUE(result->header().workgroupFile);
    std::vector<uint8_t> written = readFile(out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(written.data() + 4), 15), kName);
    expectCleanAndEquivalent(*original, *result);
  }
  // A database is no workgroup file.
  EXPECT_FALSE(Database::open(generated)->header().workgroupFile);
}

// Where the compaction writes: under a hidden, held name until the result is finished, so that an interrupted run
// leaves nothing under the destination's name, and the next run removes what it left.
class CompactOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    create::GeneratorOptions options;
    options.articles = 40;
    options.bloatPercent = 30;
    create::generateDatabase(source_.string(), options);
  }
  int32_t errorOf(const fs::path& source, const fs::path& destination, const CompactOptions& options = {}) {
    try {
      compactDatabase(source, destination, "", options);
    } catch (const Error& e) {
      return e.number();
    }
    return 0;
  }
  std::vector<std::string> hiddenFiles() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(tmp_.path())) {
      if (entry.path().filename().string().front() == '.') names.push_back(entry.path().filename().string());
    }
    return names;
  }

  TempDir tmp_;
  fs::path source_ = tmp_.path() / "DATA.MDB";
  fs::path out_ = tmp_.path() / "DATA.MDN";
};

// Sees the destination while it is written: nothing under its name, the hidden file held against removal.
class WatchingSink : public PageSink {
 public:
  WatchingSink(std::unique_ptr<PageSink> inner, fs::path source, fs::path out)
      : inner_(std::move(inner)), source_(std::move(source)), out_(std::move(out)) {}
  const std::string& name() const override { return inner_->name(); }
  void write(uint64_t offset, Bytes data) override {
    if (!watched) {
      watched = true;
      Env::system().removeLeftovers(out_, source_);  // as a second run would
      nameTakenEarly = fs::exists(out_);
      hiddenKept = fs::exists(inner_->name()) &&
                   fs::path(inner_->name()).filename().string().rfind(".DATA.MDN.partial-", 0) == 0;
    }
    inner_->write(offset, data);
  }
  bool writeOut() override { return inner_->writeOut(); }
  void finish() override { inner_->finish(); }
  void discard() noexcept override { inner_->discard(); }

  static inline bool watched = false;
  static inline bool nameTakenEarly = true;
  static inline bool hiddenKept = false;

 private:
  std::unique_ptr<PageSink> inner_;
  fs::path source_;
  fs::path out_;
};

class WatchingEnv : public os_testing::FaultEnv {
 public:
  WatchingEnv(fs::path source, fs::path out) : source_(std::move(source)), out_(std::move(out)) {}
  std::unique_ptr<PageSink> createHiddenDestination(const std::string& path) override {
    return std::make_unique<WatchingSink>(FaultEnv::createHiddenDestination(path), source_, out_);
  }

 private:
  fs::path source_;
  fs::path out_;
};

TEST_F(CompactOutput, NothingStandsUnderTheDestinationsNameUntilTheFileIsFinished) {
  WatchingEnv env(source_, out_);
  CompactOptions options;
  options.env = &env;
  ASSERT_EQ(errorOf(source_, out_, options), 0);
  EXPECT_TRUE(WatchingSink::watched);
  EXPECT_FALSE(WatchingSink::nameTakenEarly);
  EXPECT_TRUE(WatchingSink::hiddenKept);
  EXPECT_TRUE(fs::exists(out_));
  EXPECT_EQ(hiddenFiles(), std::vector<std::string>{});

  // Kept for a caller that moves the file on: a second name of the same file.
  fs::remove(out_);
  options = {};
  options.keepHiddenName = true;
  ASSERT_EQ(errorOf(source_, out_, options), 0);
  const std::vector<std::string> hidden = hiddenFiles();
  ASSERT_EQ(hidden.size(), 1u);
  EXPECT_TRUE(fs::equivalent(tmp_.path() / hidden[0], out_));
}

TEST_F(CompactOutput, TheNextRunRemovesWhatInterruptedRunsLeftAndNothingElse) {
  // A partial file nobody holds, and a finished one that got the destination's name before its run ended.
  writeFile(tmp_.path() / ".DATA.MDN.partial-a1b2c3", std::vector<uint8_t>(4096, 1));
  writeFile(tmp_.path() / ".DATA.MDN.partial-d4e5f6", std::vector<uint8_t>(4096, 2));
  fs::create_hard_link(tmp_.path() / ".DATA.MDN.partial-d4e5f6", out_);
  // Not of our naming, or of another destination.
  writeFile(tmp_.path() / ".DATA.MDN.partial-toolong", std::vector<uint8_t>(1, 3));
  writeFile(tmp_.path() / ".OTHER.MDN.partial-a1b2c3", std::vector<uint8_t>(1, 4));
  EXPECT_EQ(errorOf(source_, out_), 0);
  EXPECT_GT(fs::file_size(out_), 4096u);
  std::vector<std::string> hidden = hiddenFiles();
  std::sort(hidden.begin(), hidden.end());
  EXPECT_EQ(hidden, (std::vector<std::string>{".DATA.MDN.partial-toolong", ".OTHER.MDN.partial-a1b2c3"}));

  // A file under the destination's name that is no second name of ours is somebody's: 3204, kept.
  fs::remove(out_);
  writeFile(out_, {'k', 'e', 'e', 'p'});
  writeFile(tmp_.path() / ".DATA.MDN.partial-a1b2c3", std::vector<uint8_t>(4096, 1));
  EXPECT_EQ(errorOf(source_, out_), 3204);
  EXPECT_EQ(readFile(out_), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

  // Nor is the source ever taken for a leftover, even when a hidden name of ours leads to it.
  const std::string before = fileDigest(source_);
  fs::create_hard_link(source_, tmp_.path() / ".DATA.MDB.partial-a1b2c3");
  EXPECT_EQ(errorOf(source_, source_), 3204);
  EXPECT_EQ(fileDigest(source_), before);
}

TEST_F(CompactOutput, APartialFileThatIsHeldIsNoLeftover) {
  const fs::path held = tmp_.path() / ".DATA.MDN.partial-a1b2c3";
  writeFile(held, std::vector<uint8_t>(4096, 1));
  const int fd = ::open(held.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
  EXPECT_EQ(errorOf(source_, out_), 0);
  EXPECT_TRUE(fs::exists(held));
  ::close(fd);
}

TEST_F(CompactOutput, AFifoIsRefusedAtOnce) {
  const fs::path fifo = tmp_.path() / "PIPE.MDB";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(errorOf(fifo, out_), 3051);
  EXPECT_THROW(Env::system().openSource(fifo.string()), Error);
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(CompactOutput, TheHiddenNameFitsWhereverTheDestinationsNameFits) {
  const fs::path longest = tmp_.path() / (std::string(251, 'D') + ".MDN");
  EXPECT_EQ(errorOf(source_, longest), 0);
  EXPECT_TRUE(fs::exists(longest));
  EXPECT_EQ(partialNamePrefix(tmp_.path().string(), std::string(251, 'D') + ".MDN").size() + 6, 255u);
  EXPECT_EQ(partialNamePrefix(tmp_.path().string(), "DATA.MDN"), ".DATA.MDN.partial-");
}

}  // namespace
}  // namespace jet
