// Writes an index tree as its sorted leaf entries arrive, so that an index of millions of rows needs memory for one
// leaf page and one entry per leaf, not for all entries. The compactor rebuilds indexes with it, the database
// generator writes its own, and buildIndexTree (jet/format/index_page.h) lays out whole trees in memory with it.
//
// The pages: every leaf but the last is filled until the next entry would not fit and carries the longest prefix its
// entries share (at most 255 bytes in Jet 3, whose prefix field is one byte); leaves form one prev/next chain in key
// order; a node page lists the last entry of each child's subtree with the child's page, except for its last child,
// which only its tail pointer names; node pages have no prefix and are linked only to siblings under the same parent.
// Page numbers come from the output as they are needed: the leaves in key order as they fill, then each node level in
// key order from the bottom up, the root last.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "jet/format/format.h"
#include "jet/format/index_page.h"

namespace jet {

// Where the pages of a tree go: `allocate` hands out the next page number, `write` receives a finished page.
struct IndexPageOutput {
  std::function<uint32_t()> allocate;
  std::function<void(uint32_t pageNumber, std::vector<uint8_t> page)> write;
};

// The output of anything that hands out page numbers with allocate() and writes pages with write(number, page).
template <class Allocator, class Writer>
IndexPageOutput indexPageOutput(Allocator& allocator, Writer& writer) {
  return {[&allocator] { return allocator.allocate(); },
          [&writer](uint32_t pageNumber, std::vector<uint8_t> page) { writer.write(pageNumber, std::move(page)); }};
}

struct WrittenIndexTree {
  uint32_t rootPage = 0;
  std::vector<uint32_t> pages;          // every page of the tree, in the order they were handed out
  std::vector<uint32_t> pagesPerLevel;  // [0] = leaves, the last = 1 (the root)
  uint64_t entries = 0;
  uint64_t distinctKeys = 0;  // entries with different key bytes: the key count a table definition keeps per index
};

class IndexTreeWriter {
 public:
  IndexTreeWriter(const Format& format, uint32_t owner, IndexPageOutput output);

  // Adds the next leaf entry (key bytes, then the 3-byte big-endian page and 1-byte row of the row). Throws
  // InvalidArgument when it does not sort after the previous entry or cannot fit a page.
  void add(IndexEntry entry);
  // An empty entry with room, from the entries of pages already written: building each entry in one saves an
  // allocation per entry.
  IndexEntry entryBuffer();
  // Writes the remaining pages: the last leaf and the node levels. An empty index is one empty leaf.
  WrittenIndexTree finish();

 private:
  void closeLeaf(uint32_t nextPage);

  const Format& format_;
  uint32_t owner_;
  IndexPageOutput output_;
  uint32_t capacity_;
  size_t prefixLimit_;
  // The leaf being filled.
  IndexPage leaf_;
  uint32_t leafNumber_ = 0;
  bool haveLeafNumber_ = false;
  uint32_t prevLeaf_ = 0;
  size_t leafBytes_ = 0;   // sum of whole entry sizes
  size_t leafPrefix_ = 0;  // prefix the page would use
  // One (last entry, page) per finished leaf, for the node levels.
  std::vector<IndexEntry> leafLast_;
  std::vector<uint32_t> leafPages_;
  IndexEntry last_;
  std::vector<IndexEntry> spare_;
  WrittenIndexTree result_;
};

}  // namespace jet
