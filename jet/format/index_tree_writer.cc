#include "jet/format/index_tree_writer.h"

#include <algorithm>
#include <string>

#include "jet/errors.h"

namespace jet {
namespace {

bool sameKey(const IndexEntry& a, const IndexEntry& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end() - kIndexRowPointerSize, b.begin());
}

}  // namespace

IndexTreeWriter::IndexTreeWriter(const Format& format, uint32_t owner, IndexPageOutput output)
    : format_(format),
      owner_(owner),
      output_(std::move(output)),
      capacity_(indexEntryAreaSize(format)),
      prefixLimit_(format.version == Version::Jet3 ? 0xFF : 0xFFFF) {}

void IndexTreeWriter::add(IndexEntry entry) {
  if (entry.size() < kIndexRowPointerSize) {
    fail(ErrorCode::InvalidArgument, "an index entry without a row pointer");
  }
  if (entry.size() + kIndexChildPointerSize > capacity_) {
    fail(ErrorCode::InvalidArgument, "an index entry too large for a page");
  }
  if (result_.entries > 0) {
    if (!indexEntryLess(last_, entry)) fail(ErrorCode::InvalidArgument, "index entries out of order or repeated");
    if (!sameKey(last_, entry)) ++result_.distinctKeys;
  } else {
    ++result_.distinctKeys;
  }
  ++result_.entries;
  last_ = entry;

  if (!leaf_.entries.empty()) {
    // Adding an entry can only shorten the prefix the page shares, which lengthens every entry stored after the first.
    const IndexEntry& first = leaf_.entries.front();
    size_t limit = std::min({first.size(), entry.size(), leafPrefix_});
    size_t common = 0;
    while (common < limit && first[common] == entry[common]) ++common;
    size_t prefix = std::min(common, entry.size() - 1);
    size_t later = leaf_.entries.size();  // entries after the first, the new one included
    size_t used = leafBytes_ + entry.size() - prefix * later;
    if (used <= capacity_) {
      leafBytes_ += entry.size();
      leafPrefix_ = prefix;
      leaf_.entries.push_back(std::move(entry));
      return;
    }
    uint32_t next = output_.allocate();
    closeLeaf(next);
    leafNumber_ = next;
  } else if (!haveLeafNumber_) {
    leafNumber_ = output_.allocate();
    haveLeafNumber_ = true;
  }
  leafBytes_ = entry.size();
  leafPrefix_ = std::min(entry.size(), prefixLimit_);
  leaf_.entries.push_back(std::move(entry));
}

void IndexTreeWriter::closeLeaf(uint32_t nextPage) {
  leaf_.leaf = true;
  leaf_.owner = owner_;
  leaf_.prevPage = prevLeaf_;
  leaf_.nextPage = nextPage;
  leaf_.tailPage = 0;
  leaf_.prefixLength = static_cast<uint16_t>(std::min<size_t>(sharedPrefixLength(leaf_.entries), prefixLimit_));
  output_.write(leafNumber_, encodeIndexPage(format_, leaf_));
  result_.pages.push_back(leafNumber_);
  leafLast_.push_back(leaf_.entries.empty() ? IndexEntry{} : leaf_.entries.back());
  leafPages_.push_back(leafNumber_);
  prevLeaf_ = leafNumber_;
  for (IndexEntry& e : leaf_.entries) spare_.push_back(std::move(e));
  leaf_.entries.clear();
}

IndexEntry IndexTreeWriter::entryBuffer() {
  if (spare_.empty()) return {};
  IndexEntry e = std::move(spare_.back());
  spare_.pop_back();
  e.clear();
  return e;
}

WrittenIndexTree IndexTreeWriter::finish() {
  if (!haveLeafNumber_) {
    leafNumber_ = output_.allocate();  // an empty index is one empty leaf
    haveLeafNumber_ = true;
  }
  closeLeaf(0);
  result_.pagesPerLevel.push_back(static_cast<uint32_t>(leafPages_.size()));
  if (leafPages_.size() == 1) {
    result_.rootPage = leafPages_.front();
    return std::move(result_);
  }

  // Node levels, held in memory: one entry per page of the level below. Each node lists every child but the last,
  // which it reaches through its tail pointer; siblings are linked only under the same parent.
  struct Node {
    std::vector<size_t> kids;
    IndexEntry last;
    uint32_t number = 0;
    uint32_t prev = 0;
    uint32_t next = 0;
  };
  struct Below {
    const IndexEntry* last;
    uint32_t number;
  };
  std::vector<std::vector<Node>> levels;
  std::vector<Below> below;
  for (size_t i = 0; i < leafPages_.size(); ++i) below.push_back({&leafLast_[i], leafPages_[i]});
  std::vector<std::vector<Below>> belowOf;  // belowOf[l] = the children of level l
  while (below.size() > 1) {
    std::vector<Node> level;
    size_t a = 0;
    while (a < below.size()) {
      // Grow the group [a, b) while the entries of all children but the last (the tail) fit.
      size_t b = a + 1;
      size_t stored = 0;
      while (b < below.size()) {
        size_t next = stored + below[b - 1].last->size() + kIndexChildPointerSize;
        if (next > capacity_) break;
        stored = next;
        ++b;
      }
      // Never leave a lone child for the last page when a bigger group can give one up.
      if (below.size() - b == 1 && b - a >= 3) --b;
      Node n;
      for (size_t c = a; c < b; ++c) n.kids.push_back(c);
      n.last = *below[b - 1].last;
      level.push_back(std::move(n));
      a = b;
    }
    belowOf.push_back(below);
    levels.push_back(std::move(level));
    for (Node& n : levels.back()) n.number = output_.allocate();
    result_.pagesPerLevel.push_back(static_cast<uint32_t>(levels.back().size()));
    below.clear();
    for (const Node& n : levels.back()) below.push_back({&n.last, n.number});
  }
  // Links of each level's pages come from their parents' grouping.
  for (size_t l = 1; l < levels.size(); ++l) {
    for (const Node& parent : levels[l]) {
      for (size_t k = 0; k < parent.kids.size(); ++k) {
        Node& child = levels[l - 1][parent.kids[k]];
        child.prev = k > 0 ? levels[l - 1][parent.kids[k - 1]].number : 0;
        child.next = k + 1 < parent.kids.size() ? levels[l - 1][parent.kids[k + 1]].number : 0;
      }
    }
  }
  for (size_t l = 0; l < levels.size(); ++l) {
    for (const Node& n : levels[l]) {
      IndexPage page;
      page.leaf = false;
      page.owner = owner_;
      page.prevPage = n.prev;
      page.nextPage = n.next;
      const std::vector<Below>& kids = belowOf[l];
      if (n.kids.size() == 1) {
        page.entries.push_back(makeNodeEntry(*kids[n.kids[0]].last, kids[n.kids[0]].number));
      } else {
        for (size_t k = 0; k + 1 < n.kids.size(); ++k) {
          page.entries.push_back(makeNodeEntry(*kids[n.kids[k]].last, kids[n.kids[k]].number));
        }
        page.tailPage = kids[n.kids.back()].number;
      }
      output_.write(n.number, encodeIndexPage(format_, page));
      result_.pages.push_back(n.number);
    }
  }
  result_.rootPage = levels.back().front().number;
  return std::move(result_);
}

}  // namespace jet
