// Walks one index tree in key order, one leaf entry at a time.
//
// The walk descends from the root through each node's entries and then its tail pointer, so it reaches the leaves
// the way a lookup does rather than by trusting the leaf chain; the prev/next links of each leaf are compared with
// the order the descent found instead. Only the path from the root to the current leaf is held in memory, so walking
// costs the same whatever the size of the index.
//
// Damage that leaves no way to go on (a page outside the file, a page met twice, a page that is not an index page of
// the table, a tree deeper than any real one, a page that does not decode) throws Corrupt (3049). Damage that leaves
// the walk possible but the index untrustworthy (entries out of order, a node entry that does not match its child,
// broken leaf links, empty pages) is an "issue": passed to the issue handler when one is given, thrown as Corrupt
// otherwise, so that a caller who gives no handler never reads a damaged index as if it were sound.
//
// A node entry normally repeats the last entry below its child. When Access deletes the last entry of a leaf it
// leaves the node entry above as it was, so a node entry that sorts above its child's last entry but still below the
// first entry after that child (or is the last node entry of its level) routes every lookup correctly: that is a
// warning-level issue, which a caller without a handler does not hear about.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/index_page.h"
#include "jet/pager/page_reader.h"

namespace jet {

struct IndexWalkEntry {
  Bytes entry;     // the whole leaf entry: key then row pointer (valid until the next call to next())
  Bytes key;       // the key bytes alone
  RowPointer row;  // the row the entry points at
  uint32_t leafPage = 0;
  bool sameKey = false;  // the key is the one of the entry before it
};

struct IndexWalkIssue {
  uint32_t page = 0;  // the index page where it was noticed
  std::string message;
  bool warning = false;  // the index still reads right (a stale node entry Access left behind)
};

class IndexWalker {
 public:
  using IssueHandler = std::function<void(const IndexWalkIssue&)>;
  using PageVisitor = std::function<void(uint32_t page, bool leaf)>;

  static constexpr uint32_t kMaxDepth = 24;  // far beyond any real tree (fan-out is in the tens at least)

  // `owner` is the TDEF page of the table the index belongs to; every page of the tree must name it.
  IndexWalker(PageReader& pages, uint32_t owner, uint32_t rootPage, IssueHandler onIssue = {}, PageVisitor onPage = {});

  // The next leaf entry in key order; false after the last. Throws Corrupt as described above.
  bool next(IndexWalkEntry& out);

  uint64_t entries() const { return emitted_; }
  // Entries whose key differs from the one before: what the table definition keeps as the index's key count.
  uint64_t distinctKeys() const { return distinct_; }
  uint32_t leafPages() const { return leafPages_; }
  uint32_t nodePages() const { return nodePages_; }
  uint32_t depth() const { return maxDepth_; }  // 1 when the root is a leaf

 private:
  struct Frame {
    uint32_t page = 0;
    IndexPage node;
    size_t nextChild = 0;         // entries index of the next child; entries.size() = the tail
    uint64_t emittedAtChild = 0;  // entries walked before the child being walked started
  };

  bool advanceToNextLeaf();
  // Reads and checks one page. Returns true when it is a leaf (now the current leaf).
  bool enter(uint32_t page);
  void finishChild(Frame& frame);
  void finishWalk();
  // Settles the node entries that sorted above their child's last entry against the entry that follows the child.
  void settleStaleNodeEntries(const IndexEntry* following);
  void issue(uint32_t page, const std::string& message, bool warning = false);
  [[noreturn]] void fatal(uint32_t page, const std::string& message) const;

  PageReader& pages_;
  uint32_t owner_;
  uint32_t root_;
  IssueHandler onIssue_;
  PageVisitor onPage_;
  std::vector<bool> visited_;
  std::vector<Frame> stack_;
  IndexPage leaf_;
  IndexPage spare_;          // buffers for the next page to decode
  bool leafLoaded_ = false;  // leaf_ holds the current leaf (not one already walked)
  uint32_t leafNumber_ = 0;
  size_t leafPos_ = 0;
  bool started_ = false;
  bool done_ = false;
  uint32_t prevLeaf_ = 0;      // last leaf walked (0 before the first)
  uint32_t prevLeafNext_ = 0;  // its next link
  IndexEntry last_;            // the entry returned last
  // A node entry above its child's last entry, waiting for the first entry after the child.
  struct StaleNodeEntry {
    uint32_t page = 0;
    size_t position = 0;
    uint32_t childPage = 0;
    IndexEntry bound;  // the node entry without its child pointer
  };
  std::vector<StaleNodeEntry> stale_;
  IndexEntry scratch_;
  uint64_t emitted_ = 0;
  uint64_t distinct_ = 0;
  uint32_t leafPages_ = 0;
  uint32_t nodePages_ = 0;
  uint32_t maxDepth_ = 0;
};

}  // namespace jet
