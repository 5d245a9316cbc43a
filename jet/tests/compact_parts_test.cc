// Parts of the compactor that are easier to prove on their own: the streaming index tree writer.
#include <gtest/gtest.h>

#include <map>

#include "jet/compact_index.h"
#include "jet/index_walk.h"
#include "jet/page_source.h"
#include "reader_test_support.h"

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

TEST(CompactParts, StreamedIndexTreesWalkBackInOrder) {
  JET_REQUIRE_SAMPLES();
  for (const char* name : {"jet3/testV1997.mdb", "jet4/testV2003.mdb"}) {
    for (uint32_t count : {0u, 1u, 150u, 20000u}) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(count));
      std::vector<uint8_t> base = readFile(samplesDir() / name);
      const Format& f = base[0x14] == 0 ? kJet3Format : kJet4Format;
      MemorySink sink(base);
      PageWriter writer(sink, f, 0);
      PageAllocator allocator(static_cast<uint32_t>(base.size() / f.pageSize));
      const uint32_t owner = 2;
      IndexTreeWriter tree(f, owner, allocator, writer);
      std::vector<IndexEntry> entries;
      for (uint32_t i = 0; i < count; ++i) entries.push_back(entryFor(i));
      std::sort(entries.begin(), entries.end(), indexEntryLess);
      for (const IndexEntry& e : entries) tree.add(e);
      if (!entries.empty()) {
        EXPECT_THROW(tree.add(entries.front()), Error);  // out of order
      }
      IndexTreeWriter::Result r = tree.finish();
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

}  // namespace
}  // namespace jet
