// Writes an index tree as its sorted leaf entries arrive, so that an index of millions of rows needs memory for one
// leaf page and one entry per leaf, not for all entries.
//
// The pages look like those of jet/index_page.h's buildIndexTree: every leaf but the last is filled completely and
// carries the longest prefix its entries share; leaves form one prev/next chain in key order; a node page lists the
// last entry of each child's subtree with the child's page, except for its last child, which only its tail pointer
// names; node pages have no prefix and are linked only to siblings under the same parent. The leaves are numbered in
// key order as they fill, the node levels after them, the root last.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/create/page_file.h"
#include "jet/index_page.h"

namespace jet::create {

struct WrittenIndex {
  uint32_t rootPage = 0;
  uint32_t distinctKeys = 0;
  uint64_t entries = 0;
  std::vector<uint32_t> pages;  // every page of the tree
};

class IndexTreeWriter {
 public:
  IndexTreeWriter(PageFile& file, uint32_t ownerTdef);

  // Adds the next leaf entry (key bytes, then the 3-byte big-endian page and 1-byte row of the row). Throws
  // InvalidArgument when it does not sort after the previous entry or cannot fit a page.
  void add(IndexEntry entry);
  // Writes the remaining pages.
  WrittenIndex finish();

 private:
  struct Child {
    IndexEntry lastEntry;
    uint32_t page = 0;
  };
  void flushLeaf(uint32_t nextPage);

  PageFile& file_;
  const Format& format_;
  uint32_t owner_;
  uint32_t capacity_;
  std::vector<IndexEntry> leaf_;  // entries of the leaf being filled
  size_t leafRawBytes_ = 0;
  size_t leafPrefix_ = 0;
  uint32_t leafPage_ = 0;
  uint32_t previousLeaf_ = 0;
  IndexEntry last_;
  std::vector<Child> leaves_;
  WrittenIndex result_;
};

}  // namespace jet::create
