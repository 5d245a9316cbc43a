// The compactor's read-back of its destination: a destination changed after it was written (a page, a row, a long
// value, an index entry, a count) fails the compaction with 3049 and is removed, although the copy itself went well.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "jet/testing/compact_test_support.h"
#include "jet/compact/compact.h"
#include "jet/compact/verify.h"
#include "jet/create/generator.h"
#include "jet/format/data_page.h"
#include "jet/read/index_walk.h"
#include "jet/format/long_value.h"
#include "jet/format/row_layout.h"
#include "jet/os/testing/fault_env.h"
#include "jet/read/table_scan.h"
#include "jet/testing/reader_test_support.h"

namespace jet {
namespace {

using namespace reader_testing;
namespace fs = std::filesystem;

// Where in the written destination to change a byte, and how.
struct Change {
  uint64_t offset = 0;
  std::function<uint8_t(uint8_t)> with = [](uint8_t b) { return static_cast<uint8_t>(b ^ 0x01); };
};
using Tamper = std::function<std::vector<Change>(Database& written)>;

// Hands the destination to `tamper` once it is written, before the compactor reads it back. With `beside`, the
// compactor reads it back beside the writer: the sink says it will tell what it wrote, and tells nothing, so that the
// read-back waits for the end of the writing, when the change is made (a change after a page was read back is
// what a page written twice stands for, caught elsewhere).
class TamperingSink : public PageSink {
 public:
  TamperingSink(std::unique_ptr<PageSink> inner, Tamper tamper, bool beside)
      : inner_(std::move(inner)), tamper_(std::move(tamper)), beside_(beside) {}
  const std::string& name() const override { return inner_->name(); }
  void write(uint64_t offset, Bytes data) override { inner_->write(offset, data); }
  bool observeWritten(WrittenObserver) override { return beside_; }
  bool writeOut() override {
    const bool readable = inner_->writeOut();
    std::vector<Change> changes;
    {
      auto db = Database::open(name());
      changes = tamper_(*db);
    }
    std::fstream file(name(), std::ios::in | std::ios::out | std::ios::binary);
    for (const Change& c : changes) {
      char b = 0;
      file.seekg(static_cast<std::streamoff>(c.offset));
      file.read(&b, 1);
      file.seekp(static_cast<std::streamoff>(c.offset));
      b = static_cast<char>(c.with(static_cast<uint8_t>(b)));
      file.write(&b, 1);
    }
    EXPECT_TRUE(file.good());
    return readable;
  }
  void finish() override { inner_->finish(); }
  void discard() noexcept override { inner_->discard(); }

 private:
  std::unique_ptr<PageSink> inner_;
  Tamper tamper_;
  bool beside_;
};

// The system's Env, with destinations that are changed once written.
class TamperingEnv : public os_testing::FaultEnv {
 public:
  TamperingEnv(Tamper tamper, bool beside) : tamper_(std::move(tamper)), beside_(beside) {}
  std::unique_ptr<PageSink> createDestination(const std::string& path) override {
    return std::make_unique<TamperingSink>(FaultEnv::createDestination(path), tamper_, beside_);
  }
  std::unique_ptr<PageSink> createHiddenDestination(const std::string& path) override {
    return std::make_unique<TamperingSink>(FaultEnv::createHiddenDestination(path), tamper_, beside_);
  }

 private:
  Tamper tamper_;
  bool beside_;
};

uint64_t pageOffset(Database& db, uint32_t page) { return uint64_t{page} * db.format().pageSize; }

// The file offset of a byte of a row (its first live row when `nth` is 0).
uint64_t rowByte(Database& db, const std::string& table, size_t nth, size_t byte) {
  TableDef def = db.tableDef(table);
  TableScan scan(db.pages(), def);
  RowRecord rec;
  for (size_t i = 0; i <= nth; ++i) EXPECT_TRUE(scan.next(rec));
  return pageOffset(db, rec.stored.page) + static_cast<uint64_t>(rec.bytes.data() - rec.page->data()) + byte;
}

// The first value of `table` stored outside its row, of the given kind: the file offset of its first byte.
uint64_t longValueByte(Database& db, const std::string& table, LongValueRef::Kind kind) {
  TableDef def = db.tableDef(table);
  TableScan scan(db.pages(), def);
  RowRecord rec;
  RowLayout layout;
  while (scan.next(rec)) {
    crackRow(db.format(), def, rec.bytes, layout);
    for (size_t k = 0; k < def.columns.size(); ++k) {
      const FieldLocation& fl = layout.fields[k];
      if (!isLongValueType(def.columns[k].type) || !fl.present || fl.length < kLongValueDefinitionSize) continue;
      LongValueRef ref = parseLongValueRef(rec.bytes.subspan(fl.offset, fl.length));
      if (ref.kind != kind || ref.length < 8) continue;
      PageHandle page = db.pages().page(ref.first.page);
      RowSlot slot = dataPageRow(db.format(), *page, ref.first.row);
      return pageOffset(db, ref.first.page) + slot.start + (kind == LongValueRef::Kind::Chain ? 4 : 0) + 5;
    }
  }
  ADD_FAILURE() << "no such long value in " << table;
  return 0;
}

// Every case twice: read back beside the writer (true) and after it (false), as on a system whose files cannot be read
// while written.
class CompactVerification : public ::testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    create::GeneratorOptions options;
    options.articles = 400;
    options.seed = 11;
    options.bloatPercent = 30;
    create::generateDatabase(source().string(), options);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static fs::path source() { return dir_->path() / "gen.mdb"; }

  // Compacts with the change made after writing; the message of the failure, or "" when the compaction succeeded.
  std::string compactWith(Tamper tamper) {
    const fs::path out = dir_->path() / "out.mdb";
    TamperingEnv env(std::move(tamper), GetParam());
    CompactOptions options;
    options.env = &env;
    std::string message;
    try {
      compactDatabase(source(), out, "", options);
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 3049) << e.what();
      message = e.what();
      EXPECT_FALSE(fs::exists(out)) << "a destination that failed its read-back is left";
    }
    fs::remove(out);
    return message;
  }

  static TempDir* dir_;
};
TempDir* CompactVerification::dir_ = nullptr;

const char* const kDiffers = "differs from its source";

TEST_P(CompactVerification, AnUntouchedDestinationPasses) {
  EXPECT_EQ(compactWith([](Database&) { return std::vector<Change>{}; }), "");
}

// Bytes the integrity check has no way to judge (a price, an article code, the text of a memo) are caught by the
// comparison with what the copy recorded.
TEST_P(CompactVerification, AlteredRowsAndLongValuesAreCaughtByTheComparison) {
  // The first fixed column of a Jet 4 row starts after its two-byte column count.
  for (size_t nth : {size_t{0}, size_t{57}, size_t{150}}) {
    std::string message =
        compactWith([&](Database& db) { return std::vector<Change>{{rowByte(db, "Artikli", nth, 2)}}; });
    EXPECT_NE(message.find(kDiffers), std::string::npos) << message;
    EXPECT_NE(message.find("Artikli"), std::string::npos) << message;
  }
  // The last byte of a row, in its variable part or its null mask.
  std::string last = compactWith([](Database& db) {
    TableDef def = db.tableDef("Gibanja");
    TableScan scan(db.pages(), def);
    RowRecord rec;
    scan.next(rec);
    return std::vector<Change>{{rowByte(db, "Gibanja", 0, rec.bytes.size() - 1)}};
  });
  EXPECT_NE(last.find(kDiffers), std::string::npos) << last;
  for (LongValueRef::Kind kind : {LongValueRef::Kind::SingleRow, LongValueRef::Kind::Chain}) {
    std::string message =
        compactWith([&](Database& db) { return std::vector<Change>{{longValueByte(db, "Gibanja", kind)}}; });
    EXPECT_NE(message.find(kDiffers), std::string::npos) << message;
    EXPECT_NE(message.find("Gibanja"), std::string::npos) << message;
  }
}

TEST_P(CompactVerification, AlteredIndexEntriesAreCaught) {
  for (const char* table : {"Artikli", "Gibanja"}) {
    TableDef def;
    for (size_t k = 0;; ++k) {
      bool more = true;
      std::string message = compactWith([&](Database& db) {
        def = db.tableDef(table);
        more = k + 1 < def.realIndexes.size();
        IndexWalker walker(db.pages(), def.page, def.realIndexes[k].rootPage);
        IndexWalkEntry e;
        for (int i = 0; i < 10; ++i) EXPECT_TRUE(walker.next(e));
        // Find the entry's bytes on its leaf and change the last byte of its key, or its row when the key is a
        // single byte (a leaf stores entries after the first with the prefix they share left out: the tail is there).
        PageHandle leaf = db.pages().page(e.leafPage);
        std::vector<uint8_t> tail(e.entry.end() - 5, e.entry.end());
        auto at = std::search(leaf->begin(), leaf->end(), tail.begin(), tail.end());
        EXPECT_NE(at, leaf->end());
        return std::vector<Change>{{pageOffset(db, e.leafPage) + static_cast<uint64_t>(at - leaf->begin())}};
      });
      EXPECT_NE(message.find(kDiffers), std::string::npos) << table << " index " << k << ": " << message;
      if (!more) break;
    }
  }
}

TEST_P(CompactVerification, WrongCountsAreCaught) {
  // The row count in the definition.
  std::string rows = compactWith([](Database& db) {
    TableDef def = db.tableDef("Gibanja");
    return std::vector<Change>{{pageOffset(db, def.page) + db.format().tdefRowCount}};
  });
  EXPECT_NE(rows.find(kDiffers), std::string::npos) << rows;
  // The key count of an index.
  std::string keys = compactWith([](Database& db) {
    TableDef def = db.tableDef("Artikli");
    return std::vector<Change>{{pageOffset(db, def.page) + def.realIndexes[0].countOffset + 4}};
  });
  EXPECT_NE(keys.find("key count"), std::string::npos) << keys;
}

// A whole page replaced after writing by another page of the same table: every structure stays sound, the rows are
// the wrong ones.
TEST_P(CompactVerification, APageReplacedAfterWritingIsCaught) {
  std::string message = compactWith([](Database& db) {
    TableDef def = db.tableDef("Gibanja");
    TableScan scan(db.pages(), def);
    const std::vector<uint32_t> pages = scan.pages();
    EXPECT_GE(pages.size(), 3u);
    PageHandle from = db.pages().page(pages[2]);
    std::vector<Change> changes;
    for (uint32_t i = 0; i < db.format().pageSize; ++i) {
      const uint8_t b = (*from)[i];
      changes.push_back({pageOffset(db, pages[1]) + i, [b](uint8_t) { return b; }});
    }
    return changes;
  });
  EXPECT_NE(message.find(kDiffers), std::string::npos) << message;
}

// Writes one page a second time just before the end, telling the read-back of both writes: what it read of the page
// may be stale, and the read-back says so instead of trusting it.
class RewritingSink : public PageSink {
 public:
  explicit RewritingSink(std::unique_ptr<PageSink> inner) : inner_(std::move(inner)) {}
  const std::string& name() const override { return inner_->name(); }
  void write(uint64_t offset, Bytes data) override {
    if (offset == kOffset) first_.assign(data.begin(), data.end());
    inner_->write(offset, data);
  }
  bool observeWritten(WrittenObserver observer) override { return inner_->observeWritten(std::move(observer)); }
  bool writeOut() override {
    EXPECT_FALSE(first_.empty());
    inner_->write(kOffset, first_);
    return inner_->writeOut();
  }
  void finish() override { inner_->finish(); }
  void discard() noexcept override { inner_->discard(); }

 private:
  static constexpr uint64_t kOffset = 4096 * 20;
  std::unique_ptr<PageSink> inner_;
  std::vector<uint8_t> first_;
};

class CompactVerificationOnce : public CompactVerification {};

class RewritingEnv : public os_testing::FaultEnv {
 public:
  std::unique_ptr<PageSink> createHiddenDestination(const std::string& path) override {
    return std::make_unique<RewritingSink>(FaultEnv::createHiddenDestination(path));
  }
};

TEST_F(CompactVerificationOnce, APageWrittenTwiceFailsTheReadBackBesideTheWriter) {
  const fs::path out = dir_->path() / "twice.mdb";
  RewritingEnv env;
  CompactOptions options;
  options.env = &env;
  try {
    compactDatabase(source(), out, "", options);
    ADD_FAILURE() << "a page written twice went unnoticed";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3049) << e.what();
    EXPECT_NE(std::string(e.what()).find("written twice"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(ReadBack, CompactVerification, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Beside" : "After"; });

// The digest that stands for the bytes written: any single changed byte changes it, and it does not depend on how
// the bytes were cut into pieces.
TEST(CompactDigest, SingleChangesAlwaysShowAndPiecesDoNotMatter) {
  std::vector<uint8_t> bytes(1000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  Digest whole;
  whole.add(bytes);
  for (size_t cut : {size_t{1}, size_t{7}, size_t{8}, size_t{31}, size_t{32}, size_t{33}, size_t{999}}) {
    Digest pieces;
    for (size_t at = 0; at < bytes.size(); at += cut)
      pieces.add(Bytes(bytes).subspan(at, std::min(cut, bytes.size() - at)));
    EXPECT_EQ(pieces.value(), whole.value()) << cut;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::vector<uint8_t> changed = bytes;
    changed[i] ^= 0x80;
    Digest d;
    d.add(changed);
    EXPECT_NE(d.value(), whole.value()) << i;
  }
  // A number is its eight bytes, little-endian, whatever came before it.
  for (size_t before = 0; before < 40; ++before) {
    Digest asNumber, asBytes;
    asNumber.add(Bytes(bytes).first(before));
    asBytes.add(Bytes(bytes).first(before));
    for (uint64_t v : {uint64_t{0}, uint64_t{0x0123456789ABCDEFull}, ~uint64_t{0}}) {
      asNumber.addNumber(v);
      uint8_t le[8];
      for (int i = 0; i < 8; ++i) le[i] = static_cast<uint8_t>(v >> (8 * i));
      asBytes.add(Bytes(le, 8));
    }
    EXPECT_EQ(asNumber.value(), asBytes.value()) << before;
  }
  // Length counts: trailing zero bytes are not lost.
  Digest shorter, longer;
  shorter.add(Bytes(bytes).first(10));
  longer.add(Bytes(bytes).first(10));
  const uint8_t zero = 0;
  longer.add(Bytes(&zero, 1));
  EXPECT_NE(shorter.value(), longer.value());
}

// Rows are compared by blocks of digests: a changed row changes its own block and no other, and a last block that is
// not full still counts.
TEST(CompactDigest, RowBlocksNameTheBlockOfAChangedRow) {
  auto blocksOf = [](uint64_t rows, uint64_t changed) {
    RowBlocks b;
    for (uint64_t i = 0; i < rows; ++i) b.add(i * 0x9E3779B97F4A7C15ull + (i == changed ? 1 : 0));
    EXPECT_EQ(b.rows(), rows);
    return b.blocks();
  };
  const uint64_t none = ~uint64_t{0};
  for (uint64_t rows : {uint64_t{1}, uint64_t{63}, uint64_t{64}, uint64_t{65}, uint64_t{200}}) {
    const std::vector<uint32_t> same = blocksOf(rows, none);
    EXPECT_EQ(same.size(), (rows + RowBlocks::kRowsPerBlock - 1) / RowBlocks::kRowsPerBlock) << rows;
    for (uint64_t changed = 0; changed < rows; ++changed) {
      const std::vector<uint32_t> other = blocksOf(rows, changed);
      ASSERT_EQ(other.size(), same.size());
      for (size_t b = 0; b < same.size(); ++b) {
        EXPECT_EQ(other[b] != same[b], b == changed / RowBlocks::kRowsPerBlock) << rows << " " << changed << " " << b;
      }
    }
  }
  // One row more in the last block changes it.
  EXPECT_NE(blocksOf(65, none).back(), blocksOf(66, none).back());
}

}  // namespace
}  // namespace jet
