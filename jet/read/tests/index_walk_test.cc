// The index walker over trees laid out by the tree builder in a file made in memory, sound and damaged.
#include "jet/read/index_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "jet/pager/header.h"
#include "jet/os/page_source.h"

namespace jet {
namespace {

constexpr uint32_t kOwner = 2;
constexpr uint32_t kFirstIndexPage = 3;

// A file of the given version: a header page that unmasks to zeros (no encoding key), two empty pages, the tree.
std::vector<uint8_t> fileWithTree(const Format& f, const IndexTree& tree) {
  std::vector<uint8_t> bytes(size_t{f.pageSize} * (kFirstIndexPage + tree.pages.size()), 0);
  bytes[1] = 1;
  std::memcpy(bytes.data() + 4, "Standard Jet DB", 15);
  bytes[0x14] = f.version == Version::Jet3 ? 0 : 1;
  unmaskHeader(std::span<uint8_t>(bytes.data(), f.pageSize), f);
  for (size_t i = 0; i < tree.pages.size(); ++i) {
    std::copy(tree.pages[i].begin(), tree.pages[i].end(),
              bytes.begin() + static_cast<std::ptrdiff_t>((kFirstIndexPage + i) * f.pageSize));
  }
  return bytes;
}

std::vector<IndexEntry> randomEntries(size_t n, uint32_t seed, size_t keySize = 12) {
  std::mt19937 rng(seed);
  std::vector<IndexEntry> out;
  for (size_t i = 0; i < n; ++i) {
    std::vector<uint8_t> key{0x7F};
    for (size_t k = 0; k < keySize; ++k) key.push_back(static_cast<uint8_t>(0x40 + rng() % 8));
    out.push_back(makeLeafEntry(key, RowPointer{static_cast<uint32_t>(100 + i / 200), static_cast<uint8_t>(i % 200)}));
  }
  return out;
}

struct Walked {
  std::vector<IndexEntry> entries;
  std::vector<IndexWalkIssue> issues;
  uint64_t distinct = 0;
  uint32_t depth = 0;
  uint32_t leaves = 0;
};

Walked walk(std::vector<uint8_t> bytes, uint32_t root = kFirstIndexPage) {
  PageReader reader(std::make_unique<MemorySource>("tree.mdb", std::move(bytes)), 16);
  Walked w;
  IndexWalker walker(reader, kOwner, root, [&](const IndexWalkIssue& i) { w.issues.push_back(i); });
  IndexWalkEntry e;
  while (walker.next(e)) {
    w.entries.emplace_back(e.entry.begin(), e.entry.end());
    EXPECT_EQ(splitLeafEntry(e.entry).row, e.row);
  }
  w.distinct = walker.distinctKeys();
  w.depth = walker.depth();
  w.leaves = walker.leafPages();
  return w;
}

size_t pageOffset(const Format& f, uint32_t page) { return size_t{page} * f.pageSize; }

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (size_t k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

// Replaces one page by the encoding of `page`.
void rewrite(const Format& f, std::vector<uint8_t>& bytes, uint32_t n, const IndexPage& page) {
  std::vector<uint8_t> encoded = encodeIndexPage(f, page);
  std::copy(encoded.begin(), encoded.end(), bytes.begin() + static_cast<std::ptrdiff_t>(pageOffset(f, n)));
}

IndexPage decoded(const Format& f, const std::vector<uint8_t>& bytes, uint32_t n) {
  return decodeIndexPage(f, Bytes(bytes.data() + pageOffset(f, n), f.pageSize), n);
}

int errorNumber(std::vector<uint8_t> bytes, std::string* message = nullptr) {
  try {
    PageReader reader(std::make_unique<MemorySource>("tree.mdb", std::move(bytes)), 16);
    IndexWalker walker(reader, kOwner, kFirstIndexPage);  // no handler: issues throw
    IndexWalkEntry e;
    while (walker.next(e)) {
    }
  } catch (const Error& e) {
    if (message) *message = e.what();
    return e.number();
  }
  return 0;
}

class IndexWalkTest : public ::testing::TestWithParam<Version> {
 protected:
  const Format& f = formatFor(GetParam());
};

TEST_P(IndexWalkTest, SoundTreesWalkInKeyOrderAtEveryDepth) {
  for (size_t n : {size_t{0}, size_t{1}, size_t{40}, size_t{3000}, size_t{30000}}) {
    SCOPED_TRACE(n);
    std::vector<IndexEntry> entries = randomEntries(n, static_cast<uint32_t>(n));
    // Repeated keys (with different rows) count once.
    for (size_t i = 0; i + 1 < entries.size(); i += 7) {
      std::copy(entries[i].begin(), entries[i].end() - 4, entries[i + 1].begin());
    }
    IndexTree tree = buildIndexTree(f, kOwner, entries, kFirstIndexPage);
    Walked w = walk(fileWithTree(f, tree));
    std::sort(entries.begin(), entries.end(), indexEntryLess);
    EXPECT_EQ(w.entries, entries);
    EXPECT_TRUE(w.issues.empty()) << w.issues.front().message;
    EXPECT_EQ(w.distinct, tree.distinctKeys);
    EXPECT_EQ(w.depth, tree.levels);
    EXPECT_EQ(w.leaves, tree.leafPageCount);
  }
  // The largest tree has three levels, so node pages below the root were walked too.
  IndexTree big = buildIndexTree(f, kOwner, randomEntries(30000, 1), kFirstIndexPage);
  EXPECT_GE(big.levels, GetParam() == Version::Jet3 ? 3u : 2u);
}

TEST_P(IndexWalkTest, DamageThatStopsTheWalkIsCorrupt) {
  IndexTree tree = buildIndexTree(f, kOwner, randomEntries(3000, 7), kFirstIndexPage);
  ASSERT_GE(tree.levels, 2u);
  const std::vector<uint8_t> sound = fileWithTree(f, tree);
  const IndexPage root = decoded(f, sound, kFirstIndexPage);
  std::string message;

  std::vector<uint8_t> loop = sound;  // the tail points back at the root
  IndexPage looping = root;
  looping.tailPage = kFirstIndexPage;
  rewrite(f, loop, kFirstIndexPage, looping);
  EXPECT_EQ(errorNumber(loop, &message), 3049);
  EXPECT_NE(message.find("loops"), std::string::npos) << message;

  std::vector<uint8_t> outside = sound;  // a child past the end of the file
  IndexPage far = root;
  far.tailPage = 0x00FFFFFF;
  rewrite(f, outside, kFirstIndexPage, far);
  EXPECT_EQ(errorNumber(outside, &message), 3049);
  EXPECT_NE(message.find("outside the file"), std::string::npos) << message;

  std::vector<uint8_t> foreign = sound;  // a leaf of another table
  uint32_t leaf = splitNodeEntry(root.entries[0]).childPage;
  put32(foreign, pageOffset(f, leaf) + 4, 99);
  EXPECT_EQ(errorNumber(foreign, &message), 3049);
  EXPECT_NE(message.find("table 99"), std::string::npos) << message;

  std::vector<uint8_t> notIndex = sound;  // a child that is a data page
  notIndex[pageOffset(f, leaf)] = 0x01;
  EXPECT_EQ(errorNumber(notIndex, &message), 3049);
  EXPECT_NE(message.find("page " + std::to_string(leaf)), std::string::npos) << message;

  // A chain of nodes deeper than any real tree: each page's tail is the next page.
  IndexTree chain;
  for (uint32_t i = 0; i < IndexWalker::kMaxDepth + 2; ++i) {
    IndexPage p;
    p.leaf = false;
    p.owner = kOwner;
    p.tailPage = kFirstIndexPage + i + 1;
    chain.pages.push_back(encodeIndexPage(f, p));
  }
  EXPECT_EQ(errorNumber(fileWithTree(f, chain), &message), 3049);
  EXPECT_NE(message.find("deeper"), std::string::npos) << message;
}

TEST_P(IndexWalkTest, DamageThatLeavesTheWalkPossibleIsAnIssue) {
  IndexTree tree = buildIndexTree(f, kOwner, randomEntries(3000, 11), kFirstIndexPage);
  ASSERT_EQ(tree.levels, 2u);
  const std::vector<uint8_t> sound = fileWithTree(f, tree);
  const IndexPage root = decoded(f, sound, kFirstIndexPage);
  const uint32_t leaf0 = splitNodeEntry(root.entries[0]).childPage;
  const uint32_t leaf1 = splitNodeEntry(root.entries[1]).childPage;

  auto expectIssue = [&](const std::vector<uint8_t>& bytes, uint32_t page, const std::string& words) {
    Walked w = walk(bytes);
    ASSERT_FALSE(w.issues.empty()) << words;
    EXPECT_EQ(w.issues.front().page, page);
    EXPECT_NE(w.issues.front().message.find(words), std::string::npos) << w.issues.front().message;
    EXPECT_EQ(errorNumber(bytes), 3049) << "without a handler an issue throws";
  };

  std::vector<uint8_t> swapped = sound;  // two entries of a leaf out of order
  IndexPage p = decoded(f, sound, leaf0);
  std::swap(p.entries[3], p.entries[4]);
  rewrite(f, swapped, leaf0, p);
  expectIssue(swapped, leaf0, "sorts before");

  std::vector<uint8_t> repeated = sound;  // an entry twice
  p = decoded(f, sound, leaf0);
  p.entries[4] = p.entries[3];
  rewrite(f, repeated, leaf0, p);
  expectIssue(repeated, leaf0, "repeats");

  std::vector<uint8_t> link = sound;  // the first leaf skips the second in the chain
  put32(link, pageOffset(f, leaf0) + f.indexNextPage, leaf1 + 1);
  expectIssue(link, leaf0, "links forward");

  std::vector<uint8_t> back = sound;
  put32(back, pageOffset(f, leaf1) + f.indexPrevPage, 0);
  expectIssue(back, leaf1, "links back");

  std::vector<uint8_t> below = sound;  // the root's first entry sorts below its child's last entry
  IndexPage r = root;
  r.entries[0] = makeNodeEntry(decoded(f, sound, leaf0).entries[0], leaf0);
  rewrite(f, below, kFirstIndexPage, r);
  expectIssue(below, kFirstIndexPage, "sorts before the last entry of its child page");

  std::vector<uint8_t> reaching = sound;  // the root's first entry equals the first entry of the next child
  r = root;
  r.entries[0] = makeNodeEntry(decoded(f, sound, leaf1).entries[0], leaf0);
  rewrite(f, reaching, kFirstIndexPage, r);
  expectIssue(reaching, kFirstIndexPage, "does not sort before the first entry after its child page");
}

// Access deletes the last entry of a leaf without rewriting the node entry above it, which then names a deleted row
// and sorts between the leaf's new last entry and the next leaf's first: lookups still find every entry.
TEST_P(IndexWalkTest, NodeEntriesLeftAboveTheirChildByADeletionAreWarnings) {
  IndexTree tree = buildIndexTree(f, kOwner, randomEntries(30000, 5), kFirstIndexPage);
  ASSERT_GE(tree.levels, 2u);
  std::vector<uint8_t> bytes = fileWithTree(f, tree);
  // Drop the last entry of the first leaf (its node entry is the first of its parent) and of the last leaf below
  // the root's last entry (whose node entry is up in the root, while the entry that follows it lies in another
  // subtree when the tree has three levels).
  uint32_t first = kFirstIndexPage;
  while (!decoded(f, bytes, first).leaf) first = splitNodeEntry(decoded(f, bytes, first).entries[0]).childPage;
  uint32_t last = splitNodeEntry(decoded(f, bytes, kFirstIndexPage).entries.back()).childPage;
  while (!decoded(f, bytes, last).leaf) last = decoded(f, bytes, last).tailPage;
  size_t deletions = 0;
  for (uint32_t leaf : {first, last}) {
    IndexPage p = decoded(f, bytes, leaf);
    p.entries.pop_back();
    p.prefixLength = std::min<uint16_t>(p.prefixLength, sharedPrefixLength(p.entries));
    rewrite(f, bytes, leaf, p);
    ++deletions;
  }
  Walked w = walk(bytes);
  ASSERT_EQ(w.issues.size(), deletions);
  for (const IndexWalkIssue& i : w.issues) {
    EXPECT_TRUE(i.warning) << i.message;
    EXPECT_NE(i.message.find("still bounds it"), std::string::npos) << i.message;
  }
  EXPECT_EQ(w.entries.size(), 30000u - deletions);
  EXPECT_EQ(errorNumber(bytes), 0) << "a walk without a handler does not stop for a warning";
}

INSTANTIATE_TEST_SUITE_P(BothVersions, IndexWalkTest, ::testing::Values(Version::Jet3, Version::Jet4),
                         [](const ::testing::TestParamInfo<Version>& p) {
                           return p.param == Version::Jet3 ? "Jet3" : "Jet4";
                         });

}  // namespace
}  // namespace jet
