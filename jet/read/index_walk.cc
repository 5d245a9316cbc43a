#include "jet/read/index_walk.h"

#include <algorithm>

#include "jet/errors.h"

namespace jet {

IndexWalker::IndexWalker(PageReader& pages, uint32_t owner, uint32_t rootPage, IssueHandler onIssue, PageVisitor onPage)
    : pages_(pages),
      owner_(owner),
      root_(rootPage),
      onIssue_(std::move(onIssue)),
      onPage_(std::move(onPage)),
      visited_(pages.pageCount(), false) {}

void IndexWalker::fatal(uint32_t page, const std::string& message) const {
  fail(ErrorCode::Corrupt,
       "index rooted at page " + std::to_string(root_) + ", page " + std::to_string(page) + ": " + message);
}

void IndexWalker::issue(uint32_t page, const std::string& message, bool warning) {
  if (!onIssue_) {
    if (warning) return;
    fatal(page, message);
  }
  onIssue_({page, message, warning});
}

bool IndexWalker::enter(uint32_t page) {
  if (page == 0 || page >= pages_.pageCount()) fatal(page, "the page lies outside the file");
  if (visited_[page]) fatal(page, "the tree reaches this page a second time (the index loops)");
  visited_[page] = true;
  if (stack_.size() >= kMaxDepth) fatal(page, "the tree is deeper than " + std::to_string(kMaxDepth) + " levels");
  PageHandle handle = pages_.page(page);
  // Decoded into the buffers of the leaf walked before this one.
  decodeIndexPage(pages_.format(), Bytes(*handle), page, spare_);
  IndexPage& decoded = spare_;
  if (decoded.owner != owner_) {
    fatal(page, "the page belongs to table " + std::to_string(decoded.owner) + ", not " + std::to_string(owner_));
  }
  maxDepth_ = std::max(maxDepth_, static_cast<uint32_t>(stack_.size() + 1));
  if (onPage_) onPage_(page, decoded.leaf);
  if (!decoded.leaf) {
    ++nodePages_;
    if (decoded.entries.empty() && decoded.tailPage == 0) issue(page, "a node page with no entries and no tail");
    Frame frame;
    frame.page = page;
    frame.node = std::move(decoded);
    decoded = IndexPage{};
    stack_.push_back(std::move(frame));
    return false;
  }
  ++leafPages_;
  if (decoded.tailPage != 0) issue(page, "a leaf page has a tail pointer (" + std::to_string(decoded.tailPage) + ")");
  // The leaf chain must list the leaves in the order the descent meets them.
  if (prevLeaf_ == 0) {
    if (decoded.prevPage != 0) {
      issue(page, "the first leaf links back to page " + std::to_string(decoded.prevPage));
    }
  } else {
    if (prevLeafNext_ != page) {
      issue(prevLeaf_, "the leaf links forward to page " + std::to_string(prevLeafNext_) + " but the next leaf is " +
                           std::to_string(page));
    }
    if (decoded.prevPage != prevLeaf_) {
      issue(page, "the leaf links back to page " + std::to_string(decoded.prevPage) + " but the leaf before it is " +
                      std::to_string(prevLeaf_));
    }
  }
  if (decoded.entries.empty() && page != root_) issue(page, "an empty leaf page inside the tree");
  prevLeaf_ = page;
  prevLeafNext_ = decoded.nextPage;
  std::swap(leaf_, decoded);
  leafNumber_ = page;
  leafPos_ = 0;
  leafLoaded_ = true;
  return true;
}

void IndexWalker::finishChild(Frame& frame) {
  // A node entry repeats the last leaf entry below its child; the tail child has no entry of its own.
  if (frame.nextChild == 0 || frame.nextChild > frame.node.entries.size()) return;
  const IndexEntry& nodeEntry = frame.node.entries[frame.nextChild - 1];
  IndexEntryParts parts = splitNodeEntry(nodeEntry);
  if (emitted_ == frame.emittedAtChild) {
    issue(frame.page, "the child page " + std::to_string(parts.childPage) + " holds no entries");
    return;
  }
  Bytes bound = Bytes(nodeEntry).first(nodeEntry.size() - 4);
  if (std::equal(bound.begin(), bound.end(), last_.begin(), last_.end())) return;
  scratch_.assign(bound.begin(), bound.end());
  const std::string which = "node entry " + std::to_string(frame.nextChild - 1);
  if (indexEntryLess(scratch_, last_)) {
    issue(frame.page, which + " sorts before the last entry of its child page " + std::to_string(parts.childPage));
    return;
  }
  // Above the child's last entry: sound only if it still sorts before whatever follows the child.
  stale_.push_back({frame.page, frame.nextChild - 1, parts.childPage, scratch_});
}

void IndexWalker::settleStaleNodeEntries(const IndexEntry* following) {
  for (const StaleNodeEntry& s : stale_) {
    const std::string which = "node entry " + std::to_string(s.position);
    if (following != nullptr && !indexEntryLess(s.bound, *following)) {
      issue(s.page,
            which + " does not sort before the first entry after its child page " + std::to_string(s.childPage));
    } else {
      issue(s.page,
            which + " does not match the last entry of its child page " + std::to_string(s.childPage) +
                " but still bounds it (left by a deletion)",
            true);
    }
  }
  stale_.clear();
}

void IndexWalker::finishWalk() {
  done_ = true;
  settleStaleNodeEntries(nullptr);
  if (prevLeaf_ != 0 && prevLeafNext_ != 0) {
    issue(prevLeaf_, "the last leaf links forward to page " + std::to_string(prevLeafNext_));
  }
}

bool IndexWalker::advanceToNextLeaf() {
  if (!started_) {
    started_ = true;
    if (enter(root_)) return true;
  }
  while (!stack_.empty()) {
    Frame& frame = stack_.back();
    finishChild(frame);
    uint32_t child = 0;
    if (frame.nextChild < frame.node.entries.size()) {
      child = splitNodeEntry(frame.node.entries[frame.nextChild]).childPage;
    } else if (frame.nextChild == frame.node.entries.size() && frame.node.tailPage != 0) {
      child = frame.node.tailPage;
    } else {
      stack_.pop_back();
      continue;
    }
    ++frame.nextChild;
    frame.emittedAtChild = emitted_;
    // `frame` may move when enter() pushes a node; it is not used after this call.
    if (enter(child)) return true;
  }
  finishWalk();
  return false;
}

bool IndexWalker::next(IndexWalkEntry& out) {
  while (!done_) {
    if (leafLoaded_ && leafPos_ < leaf_.entries.size()) {
      const IndexEntry& e = leaf_.entries[leafPos_++];
      IndexEntryParts parts = splitLeafEntry(e);
      bool sameKey = false;
      if (emitted_ > 0) {
        // One pass over the two entries tells both their order and whether their keys are the same: entries end in
        // a row pointer of the same length, so the keys are the same when the entries are as long and the first
        // difference lies in the pointer.
        const size_t common = std::min(last_.size(), e.size());
        const auto at = static_cast<size_t>(
            std::mismatch(last_.begin(), last_.begin() + static_cast<std::ptrdiff_t>(common), e.begin()).first -
            last_.begin());
        const bool less = at < common ? last_[at] < e[at] : last_.size() < e.size();
        if (!less) {
          issue(leafNumber_, std::string("entry ") + std::to_string(leafPos_ - 1) +
                                 (last_ == e ? " repeats the entry before it" : " sorts before the entry before it"));
        }
        sameKey = last_.size() == e.size() && at >= parts.key.size();
        if (!sameKey) ++distinct_;
      } else {
        ++distinct_;
      }
      if (!stale_.empty()) settleStaleNodeEntries(&e);
      last_.assign(e.begin(), e.end());
      ++emitted_;
      out.entry = Bytes(e);
      out.key = parts.key;
      out.row = parts.row;
      out.leafPage = leafNumber_;
      out.sameKey = sameKey;
      return true;
    }
    // The leaf's entries stay as buffers for the next page.
    leafLoaded_ = false;
    advanceToNextLeaf();
  }
  return false;
}

}  // namespace jet
