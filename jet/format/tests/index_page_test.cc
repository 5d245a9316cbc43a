#include "jet/format/index_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "jet/read/database.h"
#include "jet/errors.h"
#include "jet/os/page_source.h"
#include "jet/testing/codec_samples.h"
#include "jet/testing/generated_database.h"

namespace jet {
namespace {

using testing::loadSamples;
using testing::SampleFile;

bool isIndexPage(std::span<const uint8_t> p) {
  return p[0] == static_cast<uint8_t>(PageType::IndexLeaf) || p[0] == static_cast<uint8_t>(PageType::IndexNode);
}

// Walks a tree the way a checker would: every node entry must equal its child's last leaf entry plus the child page,
// the tail child comes last, and the leaves met in order must be in strictly increasing order.
class TreeWalker {
 public:
  TreeWalker(const Format& f, const std::map<uint32_t, IndexPage>& pages) : format_(f), pages_(pages) {}

  // Returns the last leaf entry under `page`, appending leaf entries to `out`.
  IndexEntry walk(uint32_t page, std::vector<IndexEntry>& out, int depth = 0) {
    auto it = pages_.find(page);
    EXPECT_NE(it, pages_.end()) << "missing page " << page;
    if (it == pages_.end() || depth > 8) return {};
    const IndexPage& p = it->second;
    if (p.leaf) {
      EXPECT_EQ(p.tailPage, 0u);
      EXPECT_EQ(p.nodeMarker, 0);
      leafOrder_.push_back(page);
      for (const IndexEntry& e : p.entries) {
        if (!out.empty()) {
          EXPECT_TRUE(indexEntryLess(out.back(), e)) << "leaf entries out of order on page " << page;
        }
        out.push_back(e);
      }
      return p.entries.empty() ? IndexEntry{} : p.entries.back();
    }
    EXPECT_EQ(p.nodeMarker, 1);
    IndexEntry last;
    for (const IndexEntry& e : p.entries) {
      IndexEntryParts parts = splitNodeEntry(e);
      IndexEntry childLast = walk(parts.childPage, out, depth + 1);
      EXPECT_EQ(makeNodeEntry(childLast, parts.childPage), e) << "node entry on page " << page;
      last = childLast;
    }
    if (p.tailPage != 0) last = walk(p.tailPage, out, depth + 1);
    return last;
  }
  const std::vector<uint32_t>& leafOrder() const { return leafOrder_; }

 private:
  const Format& format_;
  const std::map<uint32_t, IndexPage>& pages_;
  std::vector<uint32_t> leafOrder_;
};

std::map<uint32_t, IndexPage> decodeTree(const Format& f, const IndexTree& tree) {
  std::map<uint32_t, IndexPage> pages;
  for (size_t i = 0; i < tree.pages.size(); ++i) {
    uint32_t n = tree.rootPage + static_cast<uint32_t>(i);
    pages.emplace(n, decodeIndexPage(f, tree.pages[i], n));
  }
  return pages;
}

// Builds a tree from the entries, decodes and walks it, and checks that the same entries come back in order, the
// leaf chain runs through every leaf, and every page's free space agrees with its entries.
void expectRoundTrip(const Format& f, std::vector<IndexEntry> entries, uint32_t owner, uint32_t firstPage) {
  IndexTree tree = buildIndexTree(f, owner, entries, firstPage);
  std::map<uint32_t, IndexPage> pages = decodeTree(f, tree);
  for (const auto& [n, p] : pages) {
    EXPECT_EQ(p.owner, owner);
    EXPECT_EQ(p.freeSpace, indexEntryAreaSize(f) - p.usedBytes) << "page " << n;
  }
  TreeWalker walker(f, pages);
  std::vector<IndexEntry> back;
  walker.walk(tree.rootPage, back);
  std::sort(entries.begin(), entries.end(), indexEntryLess);
  EXPECT_EQ(back, entries);
  // The leaf chain visits the leaves in the same order as the tree.
  std::vector<uint32_t> chain;
  for (uint32_t n = walker.leafOrder().empty() ? 0 : walker.leafOrder().front(); n != 0; n = pages.at(n).nextPage) {
    chain.push_back(n);
    if (chain.size() > pages.size()) break;
  }
  EXPECT_EQ(chain, walker.leafOrder());
  EXPECT_EQ(tree.leafPageCount, walker.leafOrder().size());
}

TEST(IndexPage, EveryIndexPageOfTheSamplesDecodesAndReencodesToTheSameBytes) {
  std::vector<SampleFile> samples = loadSamples();
  if (samples.empty()) GTEST_SKIP() << "JET_SAMPLES is not set or does not name the sample folder";
  size_t pagesSeen = 0;
  for (const SampleFile& s : samples) {
    SCOPED_TRACE(s.name);
    for (uint32_t n = 1; n < s.pageCount(); ++n) {
      std::span<const uint8_t> raw = s.page(n);
      if (!isIndexPage(raw)) continue;
      ++pagesSeen;
      IndexPage p = decodeIndexPage(*s.format, raw, n);
      EXPECT_EQ(p.freeSpace, indexEntryAreaSize(*s.format) - p.usedBytes) << "page " << n;
      EXPECT_EQ(p.nodeMarker, p.leaf ? 0 : 1) << "page " << n;
      EXPECT_LE(p.prefixLength, sharedPrefixLength(p.entries)) << "page " << n;
      // Re-encoding with the page's own prefix reproduces the header and the entry area exactly. Bytes after the
      // last entry are not compared: Jet leaves stale bytes there (entries that moved away at a split).
      std::vector<uint8_t> again = encodeIndexPage(*s.format, p);
      size_t end = s.format->indexEntriesStart + p.usedBytes;
      EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(end), again.begin()))
          << "page " << n;
    }
  }
  EXPECT_GT(pagesSeen, 400u);
}

// Walks every real index of every table of the samples from the root page its table definition names, rebuilds it
// from its leaf entries and checks the rebuilt tree returns the same entries.
TEST(IndexPage, SampleIndexesRebuildFromTheirLeafEntries) {
  std::vector<SampleFile> samples = loadSamples();
  if (samples.empty()) GTEST_SKIP() << "JET_SAMPLES is not set or does not name the sample folder";
  size_t indexes = 0;
  size_t multiLevel = 0;
  size_t countsAgree = 0;
  for (const SampleFile& s : samples) {
    SCOPED_TRACE(s.name);
    std::map<uint32_t, IndexPage> pages;
    for (uint32_t n = 1; n < s.pageCount(); ++n) {
      if (isIndexPage(s.page(n))) pages.emplace(n, decodeIndexPage(*s.format, s.page(n), n));
    }
    Database db(std::make_unique<MemorySource>(s.name, s.bytes));
    for (const CatalogEntry* table : db.catalog().tables(true)) {
      TableDef def = db.tableDefAt(table->tablePage());
      for (const RealIndexDef& index : def.realIndexes) {
        SCOPED_TRACE(table->name + " root " + std::to_string(index.rootPage));
        ASSERT_EQ(pages.count(index.rootPage), 1u);
        const IndexPage& root = pages.at(index.rootPage);
        EXPECT_EQ(root.owner, def.page);
        TreeWalker walker(*s.format, pages);
        std::vector<IndexEntry> entries;
        walker.walk(index.rootPage, entries);
        if (!root.leaf) ++multiLevel;
        ++indexes;
        expectRoundTrip(*s.format, entries, def.page, 1000);
        IndexTree tree = buildIndexTree(*s.format, def.page, entries, index.rootPage);
        if (tree.distinctKeys == index.keyCount) ++countsAgree;
        // A one-page index rebuilds to the same page when Jet gave it the longest prefix (or none is shared).
        if (root.leaf && root.prefixLength == sharedPrefixLength(root.entries)) {
          ASSERT_EQ(tree.pages.size(), 1u);
          size_t end = s.format->indexEntriesStart + root.usedBytes;
          EXPECT_TRUE(std::equal(tree.pages[0].begin(), tree.pages[0].begin() + static_cast<std::ptrdiff_t>(end),
                                 s.page(index.rootPage).begin()));
        }
      }
    }
  }
  EXPECT_GT(indexes, 400u);
  EXPECT_GE(multiLevel, 10u);  // 9 two-level indexes in the Jet 3 samples, 1 in compIndexTestV2000
  EXPECT_GT(countsAgree, indexes * 8 / 10);
}

IndexEntry randomEntry(std::mt19937& rng, size_t keySize, uint32_t page, uint8_t row) {
  std::vector<uint8_t> key{0x7F};
  std::uniform_int_distribution<int> byte(0x60, 0x70);  // narrow alphabet: long shared prefixes
  for (size_t i = 0; i < keySize; ++i) key.push_back(static_cast<uint8_t>(byte(rng)));
  return makeLeafEntry(key, {page, row});
}

TEST(IndexPage, LargeIndexesBuildBalancedMultiLevelTrees) {
  for (Version v : {Version::Jet3, Version::Jet4}) {
    const Format& f = formatFor(v);
    std::mt19937 rng(7);
    std::vector<IndexEntry> entries;
    for (uint32_t i = 0; i < 30000; ++i) {
      entries.push_back(randomEntry(rng, 2 + i % 40, 100 + i / 200, static_cast<uint8_t>(i % 200)));
    }
    IndexTree tree = buildIndexTree(f, 77, entries, 500);
    EXPECT_GE(tree.levels, 3u);
    expectRoundTrip(f, entries, 77, 500);
    // Every leaf but the last is filled until the first entry of the next leaf would not fit.
    std::map<uint32_t, IndexPage> pages = decodeTree(f, tree);
    size_t fullLeaves = 0;
    for (const auto& [n, p] : pages) {
      if (!p.leaf || p.nextPage == 0) continue;
      std::vector<IndexEntry> more = p.entries;
      more.push_back(pages.at(p.nextPage).entries.front());
      IndexPage bigger = p;
      bigger.entries = more;
      bigger.prefixLength = sharedPrefixLength(more);
      EXPECT_THROW(encodeIndexPage(f, bigger), Error) << "page " << n;
      ++fullLeaves;
    }
    EXPECT_EQ(fullLeaves + 1, tree.leafPageCount);
  }
}

TEST(IndexPage, DuplicateKeysSortByRowPointerAndShareLongPrefixes) {
  const Format& f = kJet4Format;
  std::vector<IndexEntry> entries;
  std::vector<uint8_t> key{0x7F, 0x80, 0x00, 0x00, 0x01};
  for (uint32_t i = 0; i < 3000; ++i) entries.push_back(makeLeafEntry(key, {3000 - i, static_cast<uint8_t>(i)}));
  IndexTree tree = buildIndexTree(f, 9, entries, 10);
  IndexPage firstLeaf = decodeIndexPage(f, tree.pages.back(), tree.rootPage + uint32_t(tree.pages.size() - 1));
  EXPECT_GE(firstLeaf.prefixLength, key.size() + 1);  // the prefix runs into the row pointer
  EXPECT_EQ(tree.distinctKeys, 1u);
  expectRoundTrip(f, entries, 9, 10);
  entries.push_back(entries.front());
  EXPECT_THROW(buildIndexTree(f, 9, entries, 10), Error);

  // Jet 3 stores the prefix length in one byte: keys sharing 300 bytes get a prefix of 255.
  std::vector<uint8_t> longKey(300, 0x61);
  std::vector<IndexEntry> similar;
  for (uint32_t i = 0; i < 40; ++i) similar.push_back(makeLeafEntry(longKey, {50 + i, 0}));
  IndexTree jet3 = buildIndexTree(kJet3Format, 9, similar, 10);
  EXPECT_EQ(decodeIndexPage(kJet3Format, jet3.pages.back(), 10).prefixLength, 255);
  expectRoundTrip(kJet3Format, similar, 9, 10);
}

TEST(IndexPage, SmallTreesHaveTheShapesJetWrites) {
  const Format& f = kJet3Format;
  // Empty index: one empty leaf with the whole entry area free.
  IndexTree empty = buildIndexTree(f, 5, {}, 40);
  ASSERT_EQ(empty.pages.size(), 1u);
  IndexPage e = decodeIndexPage(f, empty.pages[0], 40);
  EXPECT_TRUE(e.leaf);
  EXPECT_EQ(e.freeSpace, 1800);
  EXPECT_TRUE(e.entries.empty());
  // Two leaves: the root lists the first leaf and reaches the second only through its tail.
  std::vector<IndexEntry> entries;
  for (uint32_t i = 0; i < 400; ++i) {
    entries.push_back(makeLeafEntry(std::vector<uint8_t>{0x7F, uint8_t(i >> 8), uint8_t(i)}, {i + 100, 0}));
  }
  IndexTree two = buildIndexTree(f, 5, entries, 40);
  ASSERT_EQ(two.pages.size(), 3u);
  IndexPage root = decodeIndexPage(f, two.pages[0], 40);
  IndexPage left = decodeIndexPage(f, two.pages[1], 41);
  IndexPage right = decodeIndexPage(f, two.pages[2], 42);
  EXPECT_FALSE(root.leaf);
  ASSERT_EQ(root.entries.size(), 1u);
  EXPECT_EQ(root.entries[0], makeNodeEntry(left.entries.back(), 41));
  EXPECT_EQ(root.tailPage, 42u);
  EXPECT_EQ(root.prefixLength, 0);
  EXPECT_EQ(root.prevPage, 0u);
  EXPECT_EQ(left.nextPage, 42u);
  EXPECT_EQ(right.prevPage, 41u);
  EXPECT_EQ(left.prefixLength, 1);  // 0x7F shared by all; the second key byte changes within the page
}

TEST(IndexPage, DamagedPagesAreReportedAsCorrupt) {
  const Format& f = kJet4Format;
  IndexPage p;
  p.owner = 3;
  p.entries = {makeLeafEntry(std::vector<uint8_t>{0x7F, 1}, {20, 1}),
               makeLeafEntry(std::vector<uint8_t>{0x7F, 2}, {20, 2})};
  p.prefixLength = 1;
  std::vector<uint8_t> good = encodeIndexPage(f, p);
  EXPECT_EQ(decodeIndexPage(f, good, 9).entries, p.entries);

  auto expectCorrupt = [&](std::vector<uint8_t> page, const char* what) {
    try {
      decodeIndexPage(f, page, 9);
      ADD_FAILURE() << what << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::Corrupt) << what;
      EXPECT_NE(std::string(e.what()).find("index page 9"), std::string::npos) << e.what();
    }
  };
  std::vector<uint8_t> bad = good;
  bad[0] = 0x01;
  expectCorrupt(bad, "data page");
  bad = good;
  bad[f.indexPrefixLength] = 200;
  expectCorrupt(bad, "prefix longer than the first entry");
  bad = good;
  bad[f.indexBitmask + f.indexBitmaskLength - 1] = 0x80;  // bit 3623: entry end past the page
  expectCorrupt(bad, "bitmask past the page");
  bad = good;
  bad[f.indexBitmask] |= 0x04;  // an entry ending after 2 bytes cannot hold a row pointer
  expectCorrupt(bad, "short entry");
  bad = good;
  bad[0] = 0x03;  // as a node page, 6-byte entries lack the child pointer
  expectCorrupt(bad, "node entry without child");
  expectCorrupt(std::vector<uint8_t>(100, 4), "short page");

  // Encoding refuses a prefix the entries do not share, and entries that do not fit.
  p.prefixLength = 2;
  EXPECT_THROW(encodeIndexPage(f, p), Error);
  p.prefixLength = 0;
  p.entries.assign(2, IndexEntry(2000, 0x7F));
  EXPECT_THROW(encodeIndexPage(f, p), Error);
}

// Random damage to real pages' headers, bitmasks and entries either decodes or is reported as corrupt; the sanitizers
// catch any read outside the page.
// Over the index pages of a generated database and of the samples where they are.
TEST(IndexPage, RandomDamageNeverReadsOutsideThePage) {
  std::vector<SampleFile> samples = loadSamples();
  samples.push_back(SampleFile{"generated", reader_testing::generatedDatabase(), &kJet4Format});
  std::mt19937 rng(11);
  size_t corrupt = 0;
  for (const SampleFile& s : samples) {
    for (uint32_t n = 1; n < s.pageCount(); n += 3) {
      if (!isIndexPage(s.page(n))) continue;
      for (int trial = 0; trial < 20; ++trial) {
        std::vector<uint8_t> page(s.page(n).begin(), s.page(n).end());
        std::uniform_int_distribution<size_t> where(0, s.format->indexEntriesStart + 64);
        for (int k = 0; k < 3; ++k) page[where(rng)] = static_cast<uint8_t>(rng());
        try {
          decodeIndexPage(*s.format, page, n);
        } catch (const Error& e) {
          EXPECT_EQ(e.code(), ErrorCode::Corrupt);
          ++corrupt;
        }
      }
    }
  }
  EXPECT_GT(corrupt, 0u);
}

}  // namespace
}  // namespace jet
