#include "jet/create/index_tree_writer.h"

#include <algorithm>
#include <string>

#include "jet/errors.h"

namespace jet::create {
namespace {

constexpr size_t kRowPointerSize = 4;
constexpr size_t kChildPointerSize = 4;

[[noreturn]] void invalid(const std::string& what) { fail(ErrorCode::InvalidArgument, "index writer: " + what); }

bool sameKey(const IndexEntry& a, const IndexEntry& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end() - kRowPointerSize, b.begin());
}

}  // namespace

IndexTreeWriter::IndexTreeWriter(PageFile& file, uint32_t ownerTdef)
    : file_(file), format_(kJet4Format), owner_(ownerTdef), capacity_(indexEntryAreaSize(kJet4Format)) {}

void IndexTreeWriter::add(IndexEntry entry) {
  if (entry.size() <= kRowPointerSize || entry.size() + kChildPointerSize > capacity_) {
    invalid("an entry of " + std::to_string(entry.size()) + " bytes");
  }
  if (result_.entries > 0) {
    if (!indexEntryLess(last_, entry)) invalid("entries out of order");
    if (!sameKey(last_, entry)) ++result_.distinctKeys;
  } else {
    result_.distinctKeys = 1;
  }
  ++result_.entries;
  last_ = entry;

  if (leaf_.empty()) {
    leafPage_ = file_.allocate();
    leafRawBytes_ = entry.size();
    leafPrefix_ = entry.size();
    leaf_.push_back(std::move(entry));
    return;
  }
  // Adding an entry can only shorten the prefix the page shares, which lengthens every stored entry.
  const IndexEntry& first = leaf_.front();
  size_t limit = std::min({first.size(), entry.size(), leafPrefix_});
  size_t common = 0;
  while (common < limit && first[common] == entry[common]) ++common;
  size_t prefix = std::min(common, entry.size() - 1);
  size_t raw = leafRawBytes_ + entry.size();
  size_t used = raw - prefix * leaf_.size();
  if (used > capacity_) {
    uint32_t next = file_.allocate();
    flushLeaf(next);
    leafPage_ = next;
    leafRawBytes_ = entry.size();
    leafPrefix_ = entry.size();
    leaf_.push_back(std::move(entry));
    return;
  }
  leafRawBytes_ = raw;
  leafPrefix_ = prefix;
  leaf_.push_back(std::move(entry));
}

void IndexTreeWriter::flushLeaf(uint32_t nextPage) {
  IndexPage page;
  page.leaf = true;
  page.owner = owner_;
  page.prevPage = previousLeaf_;
  page.nextPage = nextPage;
  page.prefixLength = static_cast<uint16_t>(leaf_.size() > 1 ? leafPrefix_ : 0);
  page.entries = std::move(leaf_);
  leaf_.clear();
  file_.write(leafPage_, encodeIndexPage(format_, page));
  result_.pages.push_back(leafPage_);
  leaves_.push_back(Child{page.entries.empty() ? IndexEntry{} : page.entries.back(), leafPage_});
  previousLeaf_ = leafPage_;
}

WrittenIndex IndexTreeWriter::finish() {
  if (leaf_.empty() && leaves_.empty()) leafPage_ = file_.allocate();  // an empty index is one empty leaf
  flushLeaf(0);

  // Node levels, bottom up; they are small (one entry per page below), so they are built whole before writing.
  struct Draft {
    IndexPage page;
    uint32_t number = 0;
    std::vector<size_t> children;  // indexes into the level below
  };
  std::vector<std::vector<Draft>> levels;  // levels[0] = the node level just above the leaves
  std::vector<Child> below = std::move(leaves_);
  while (below.size() > 1) {
    std::vector<Draft> level;
    std::vector<Child> above;
    size_t a = 0;
    while (a < below.size()) {
      // Group children while the entries of all but the last (reached through the tail) fit.
      size_t b = a + 1;
      size_t stored = 0;
      while (b < below.size()) {
        size_t next = stored + below[b - 1].lastEntry.size() + kChildPointerSize;
        if (next > capacity_) break;
        stored = next;
        ++b;
      }
      if (below.size() - b == 1 && b - a >= 3) --b;  // leave no lone child for the last page
      Draft d;
      d.page.leaf = false;
      d.page.owner = owner_;
      d.number = file_.allocate();
      for (size_t c = a; c < b; ++c) d.children.push_back(c);
      if (d.children.size() == 1) {
        d.page.entries.push_back(makeNodeEntry(below[a].lastEntry, below[a].page));
      } else {
        for (size_t c = a; c + 1 < b; ++c) d.page.entries.push_back(makeNodeEntry(below[c].lastEntry, below[c].page));
        d.page.tailPage = below[b - 1].page;
      }
      above.push_back(Child{below[b - 1].lastEntry, d.number});
      level.push_back(std::move(d));
      a = b;
    }
    levels.push_back(std::move(level));
    below = std::move(above);
  }
  // Node pages are linked only to siblings under the same parent.
  for (size_t l = 1; l < levels.size(); ++l) {
    for (const Draft& parent : levels[l]) {
      const std::vector<size_t>& kids = parent.children;
      for (size_t k = 0; k < kids.size(); ++k) {
        IndexPage& child = levels[l - 1][kids[k]].page;
        child.prevPage = k > 0 ? levels[l - 1][kids[k - 1]].number : 0;
        child.nextPage = k + 1 < kids.size() ? levels[l - 1][kids[k + 1]].number : 0;
      }
    }
  }
  for (const std::vector<Draft>& level : levels) {
    for (const Draft& d : level) {
      file_.write(d.number, encodeIndexPage(format_, d.page));
      result_.pages.push_back(d.number);
    }
  }
  result_.rootPage = below.front().page;
  return std::move(result_);
}

}  // namespace jet::create
