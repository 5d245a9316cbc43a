// Parts of the compactor that are easier to prove on their own: the streaming index tree writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "jet/compact/indexes.h"
#include "jet/pager/page_writer.h"
#include "jet/read/read_ahead.h"
#include "jet/compact/rows.h"
#include "jet/format/usage_map_builder.h"
#include "jet/read/index_walk.h"
#include "jet/read/catalog.h"
#include "jet/read/table_scan.h"
#include "jet/compact/plan.h"
#include "jet/os/page_source.h"
#include "jet/testing/reader_test_support.h"
#include "jet/testing/generated_database.h"

namespace jet {
namespace {

using namespace reader_testing;

// A destination in memory, appended to a real database so that the reader can walk what was written.
class MemorySink : public PageSink {
 public:
  explicit MemorySink(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  const std::string& name() const override { return name_; }
  void write(uint64_t offset, Bytes data) override {
    if (bytes_.size() < offset + data.size()) bytes_.resize(offset + data.size());
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  bool writeOut() override { return true; }
  void finish() override {}
  void discard() noexcept override {}
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::string name_ = "memory";
  std::vector<uint8_t> bytes_;
};

IndexEntry entryFor(uint32_t i) {
  // Keys of varying length sharing long prefixes, with duplicates told apart by their row pointers.
  std::vector<uint8_t> key = {0x7F, static_cast<uint8_t>(i >> 16), static_cast<uint8_t>(i >> 8)};
  for (uint32_t k = 0; k < 30 + (i % 13); ++k) key.push_back(static_cast<uint8_t>((i * 2654435761u) >> (k % 24)));
  return makeLeafEntry(key, {1000 + i / 200, static_cast<uint8_t>(i % 200)});
}

// The trees are appended to a Jet 4 file (generated) and, where the samples are, to a Jet 3 one.
TEST(CompactParts, StreamedIndexTreesWalkBackInOrder) {
  std::vector<std::vector<uint8_t>> bases{generatedDatabase()};
  if (!samplesDir().empty()) bases.push_back(readFile(samplesDir() / "jet3/testV1997.mdb"));
  for (const std::vector<uint8_t>& base : bases) {
    for (uint32_t count : {0u, 1u, 150u, 20000u}) {
      SCOPED_TRACE("Jet " + std::to_string(base[0x14] == 0 ? 3 : 4) + ", " + std::to_string(count) + " entries");
      const Format& f = base[0x14] == 0 ? kJet3Format : kJet4Format;
      MemorySink sink(base);
      PageWriter writer(sink, f, 0);
      PageAllocator allocator(static_cast<uint32_t>(base.size() / f.pageSize));
      const uint32_t owner = 2;
      IndexTreeWriter tree(f, owner, indexPageOutput(allocator, writer));
      std::vector<IndexEntry> entries;
      for (uint32_t i = 0; i < count; ++i) entries.push_back(entryFor(i));
      std::sort(entries.begin(), entries.end(), indexEntryLess);
      for (const IndexEntry& e : entries) tree.add(e);
      if (!entries.empty()) {
        EXPECT_THROW(tree.add(entries.front()), Error);  // out of order
      }
      WrittenIndexTree r = tree.finish();
      EXPECT_EQ(r.entries, entries.size());
      EXPECT_EQ(r.pages.size(), allocator.next() - base.size() / f.pageSize);
      EXPECT_EQ(r.rootPage, r.pages.back());

      PageReader reader(std::make_unique<MemorySource>("tree", sink.bytes()));
      IndexWalker walker(reader, owner, r.rootPage);
      IndexWalkEntry e;
      size_t i = 0;
      while (walker.next(e)) {
        ASSERT_LT(i, entries.size());
        EXPECT_TRUE(std::equal(e.entry.begin(), e.entry.end(), entries[i].begin(), entries[i].end())) << i;
        ++i;
      }
      EXPECT_EQ(i, entries.size());
      EXPECT_EQ(walker.distinctKeys(), r.distinctKeys);
      if (count == 20000) {
        EXPECT_GE(walker.depth(), 3u);
      }
    }
  }
}

// Page 1's map of free pages for files large enough to need bitmap pages, around the sizes where one more bitmap
// page is or is not needed: every page of the file is written, and exactly the pages nobody uses read as free.
TEST(CompactParts, FreePageMapsOfLargeFiles) {
  const Format& f = kJet4Format;
  const uint32_t per = pagesPerBitmapPage(f);
  for (uint32_t count : {per - 2, per - 1, per, per + 1, 2 * per - 2, 2 * per - 1, 2 * per, 3 * per + 5}) {
    SCOPED_TRACE(count);
    struct Recorder : PageSink {
      std::map<uint32_t, std::vector<uint8_t>> pages;
      std::string n = "recorder";
      const std::string& name() const override { return n; }
      void write(uint64_t offset, Bytes data) override {
        pages[static_cast<uint32_t>(offset / 4096)] = std::vector<uint8_t>(data.begin(), data.end());
      }
      bool writeOut() override { return true; }
      void finish() override {}
      void discard() noexcept override {}
    } sink;
    PageWriter writer(sink, f, 0);
    PageAllocator allocator(count);
    writeFreePageMap(f, allocator, writer);
    const uint32_t total = allocator.next();
    for (uint32_t p = count; p < total; ++p) EXPECT_TRUE(sink.pages.count(p)) << "page " << p << " never written";

    // Decode page 1 row 0 and collect the pages it marks free below the end of the file.
    const std::vector<uint8_t>& page1 = sink.pages.at(1);
    const uint16_t start = le16(page1.data() + f.rowOffsetTable()) & kRowOffsetMask;
    const uint8_t* row = page1.data() + start;
    std::vector<uint32_t> free;
    ASSERT_EQ(row[0], 1) << "a file this large needs a reference map";
    for (uint32_t k = 0; 1 + 4 * k + 4 <= f.pageSize - start && k * per < total; ++k) {
      uint32_t bitmap = le32(row + 1 + 4 * k);
      if (bitmap == 0) continue;
      const std::vector<uint8_t>& bits = sink.pages.at(bitmap);
      EXPECT_EQ(bits[0], static_cast<uint8_t>(PageType::UsageMap));
      for (uint32_t b = 0; b < per && k * per + b < total; ++b) {
        if (bits[4 + b / 8] & (1u << (b % 8))) free.push_back(k * per + b);
      }
    }
    std::vector<uint32_t> bitmaps;
    for (uint32_t k = 0; 1 + 4 * k + 4 <= f.pageSize - start && k * per < total; ++k) {
      if (le32(row + 1 + 4 * k) != 0) bitmaps.push_back(le32(row + 1 + 4 * k));
    }
    for (uint32_t p = count; p < total; ++p) {
      const bool isBitmap = std::find(bitmaps.begin(), bitmaps.end(), p) != bitmaps.end();
      const bool isFree = std::find(free.begin(), free.end(), p) != free.end();
      EXPECT_TRUE(isBitmap != isFree) << "page " << p << " added for the map is neither its bitmap nor free";
    }
    for (uint32_t p : free) {
      EXPECT_GE(p, count) << "a page in use is marked free";
      EXPECT_TRUE(std::all_of(sink.pages.at(p).begin(), sink.pages.at(p).end(), [](uint8_t b) { return b == 0; }));
    }
    // Pages past the end up to the end of the last bitmap read as free.
    const uint32_t lastBitmap = le32(row + 1 + 4 * ((total - 1) / per));
    if (total % per != 0) {
      ASSERT_NE(lastBitmap, 0u);
      const std::vector<uint8_t>& bits = sink.pages.at(lastBitmap);
      const uint32_t b = total % per;
      EXPECT_TRUE(bits[4 + b / 8] & (1u << (b % 8)));
    }
  }
}

}  // namespace
}  // namespace jet

namespace jet {
namespace {

// The map from old row slots to new ones answers for every row added and for nothing else: rows spread over old pages
// with gaps, several new pages to one old page and several old pages to one new page; room taken for far fewer rows
// and pages than come.
TEST(CompactParts, RowPointerMapFindsExactlyTheRowsAdded) {
  std::mt19937 engine(5);
  auto random = [&engine] { return static_cast<uint32_t>(engine()); };
  RowPointerMap map;
  map.reserve(100, 50, 10);
  std::map<uint32_t, std::pair<RowPointer, uint64_t>> model;
  uint32_t newPage = 1000;
  uint8_t newRow = 0;
  uint32_t oldPage = 40;
  for (uint32_t p = 0; p < 300; ++p) {
    oldPage += 1 + random() % 4;  // pages in between hold none of the table's rows
    const uint32_t rows = random() % 5 == 0 ? 0 : 1 + random() % 200;
    for (uint32_t r = 0; r < rows; ++r) {
      if (random() % 3 == 0) continue;  // deleted or left out
      const uint32_t perPage = 1 + p % 60;
      if (newRow >= perPage) {
        newPage += 1 + random() % 2;
        newRow = 0;
      }
      const RowPointer from{oldPage, static_cast<uint8_t>(r)};
      const RowPointer to{newPage, newRow++};
      model[from.raw()] = {to, map.size()};
      map.add(from, to);
    }
  }
  for (uint32_t page = 0; page <= oldPage + 2; ++page) {
    for (uint32_t row = 0; row < 256; row += (page % 7 == 0 ? 1u : 17u)) {
      const RowPointer at{page, static_cast<uint8_t>(row)};
      std::optional<RowPointerMap::Found> found = map.find(at);
      auto it = model.find(at.raw());
      ASSERT_EQ(found.has_value(), it != model.end()) << page << " " << row;
      if (!found) continue;
      EXPECT_EQ(found->to.raw(), it->second.first.raw()) << page << " " << row;
      EXPECT_EQ(found->ordinal, it->second.second) << page << " " << row;
    }
  }
  for (const auto& [raw, where] : model) {
    std::optional<RowPointerMap::Found> found = map.find(RowPointer::fromRaw(raw));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->to.raw(), where.first.raw());
  }
  EXPECT_THROW(map.add({oldPage, 0}, {newPage, newRow}), Error);  // out of order
}

// The reader hands over every item in order, batch after batch, and an error after exactly the items read before
// it (those of its own batch included); a consumer that stops early is not kept waiting.
TEST(CompactParts, ReadAheadKeepsTheOrderAndPlacesErrorsWhereTheyHappened) {
  struct Batch {
    std::vector<uint32_t> items;
    std::vector<uint8_t> bytes;
  };
  auto makeRead = [](uint32_t items, uint32_t failAt) {
    return [items, failAt, n = uint32_t{0}](Batch& batch) mutable {
      batch.items.clear();
      batch.bytes.clear();
      while (batch.items.size() < 64 && batch.bytes.size() < (64u << 10)) {
        if (n == failAt) corrupt("item " + std::to_string(n) + " cannot be read");
        if (n == items) return false;
        batch.items.push_back(n);
        batch.bytes.insert(batch.bytes.end(), (n * 37) % 20000,
                           static_cast<uint8_t>(n));  // now and then a batch's worth
        ++n;
      }
      return true;
    };
  };
  auto take = [](Batch& batch, uint32_t& n) {
    size_t at = 0;
    for (uint32_t item : batch.items) {
      ASSERT_EQ(item, n);
      const size_t length = (n * 37) % 20000;
      ASSERT_EQ(std::vector<uint8_t>(batch.bytes.data() + at, batch.bytes.data() + at + length),
                std::vector<uint8_t>(length, static_cast<uint8_t>(n)));
      at += length;
      ++n;
    }
  };

  for (uint32_t items : {0u, 1u, 63u, 64u, 65u, 20000u}) {
    ReadAhead<Batch> reader(makeRead(items, ~0u));
    uint32_t n = 0;
    while (Batch* batch = reader.next()) take(*batch, n);
    EXPECT_EQ(n, items);
    EXPECT_EQ(reader.next(), nullptr);
  }

  for (uint32_t failAt : {0u, 1u, 64u, 5000u}) {
    ReadAhead<Batch> reader(makeRead(20000, failAt));
    uint32_t n = 0;
    try {
      while (Batch* batch = reader.next()) take(*batch, n);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::Corrupt);
      EXPECT_EQ(std::string(e.what()), "item " + std::to_string(failAt) + " cannot be read");
    }
    EXPECT_EQ(n, failAt);
  }

  {
    ReadAhead<Batch> reader(makeRead(1'000'000, ~0u));
    for (int i = 0; i < 3; ++i) ASSERT_NE(reader.next(), nullptr);
  }  // leaves with the reader far ahead of the consumer
}

// Rebuilding an index looks up every entry's row among the rows copied: an entry of a row left out on purpose is
// left out too, and one of a row that was not copied otherwise is damage, reported with the row it names. The table
// copied here lacks one row in the middle, so that the entries around it are read in the same batch.
TEST(CompactParts, IndexEntriesOfRowsNotCopiedAreLeftOutOrRefused) {
  const std::vector<uint8_t>& base = generatedDatabase();
  PageReader pages(std::make_unique<MemorySource>("generated", base));
  const CompactPlan plan = planCompaction(pages, readCatalog(pages));
  const TablePlan* table = nullptr;
  for (const TablePlan& t : plan.tables) {
    if (t.name == "Gibanja") table = &t;
  }
  ASSERT_NE(table, nullptr);
  ASSERT_FALSE(table->def.realIndexes.empty());
  std::vector<RowPointer> homes;
  {
    TableScan scan(pages, table->def);
    RowRecord rec;
    while (scan.next(rec)) homes.push_back({rec.home.page, static_cast<uint8_t>(rec.home.row)});
  }
  ASSERT_GT(homes.size(), 100u);
  const RowPointer missing = homes[homes.size() / 2];
  auto copiedWithout = [&](RowPointer left) {
    CopiedTable copied;
    uint32_t n = 0;
    for (RowPointer home : homes) {
      if (home.raw() == left.raw()) continue;
      copied.rows.add(home, {5000 + n / 50, static_cast<uint8_t>(n % 50)});
      ++n;
    }
    return copied;
  };

  for (bool leftOnPurpose : {true, false}) {
    SCOPED_TRACE(leftOnPurpose ? "left out on purpose" : "not copied");
    CopiedTable copied = copiedWithout(missing);
    if (leftOnPurpose) copied.dropped.push_back(missing.raw());
    for (size_t k = 0; k < table->def.realIndexes.size(); ++k) {
      MemorySink sink(base);
      PageWriter writer(sink, pages.format(), 0);
      PageAllocator allocator(static_cast<uint32_t>(base.size() / pages.pageSize()));
      try {
        RebuiltIndex rebuilt = rebuildIndex(pages, plan, *table, copied, k, allocator, writer);
        EXPECT_TRUE(leftOnPurpose) << "index " << k << " was rebuilt without the row it names";
        if ((table->def.realIndexes[k].flags & kIndexIgnoreNulls) == 0) {
          EXPECT_EQ(rebuilt.entries, homes.size() - 1);
        }
      } catch (const Error& e) {
        EXPECT_FALSE(leftOnPurpose) << e.what();
        EXPECT_EQ(e.code(), ErrorCode::Corrupt);
        const std::string names = "points at row " + std::to_string(missing.row) + " of page " +
                                  std::to_string(missing.page) + ", which holds no row";
        EXPECT_NE(std::string(e.what()).find(names), std::string::npos) << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace jet
