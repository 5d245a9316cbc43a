// Reads pages of an open database: decrypts them when the database has an encoding key and keeps a bounded number
// of recently used pages, so memory stays the same whatever the size of the file.
//
// Scans read pages in ascending runs (a table's data pages, its long-value pages, the destination read back); a miss
// that continues such a run reads the next pages with the same call, up to kMaxReadAhead at a time, so that a scan
// costs one read per run instead of one per page. Buffers of pages that drop out of the cache are reused when nobody
// holds them any more.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jet/format/format.h"
#include "jet/pager/header.h"
#include "jet/os/page_source.h"
#include "jet/pager/whole_file_hint.h"

namespace jet {

// A page's bytes, shared: a page stays valid for as long as somebody holds it, even after the cache dropped it.
using PageHandle = std::shared_ptr<const std::vector<uint8_t>>;

class PageReader {
 public:
  static constexpr uint32_t kMaxReadAhead = 32;

  // Reads and checks the header; throws 3343/3049 (see parseHeader) or the source's own errors.
  explicit PageReader(std::unique_ptr<PageSource> source, size_t cachePages = 256);

  const std::string& name() const { return source_->name(); }
  const DatabaseHeader& header() const { return header_; }
  const Format& format() const { return *header_.format; }
  uint32_t pageSize() const { return header_.format->pageSize; }
  uint32_t pageCount() const { return pageCount_; }
  // Takes the source's size again, for a file that grows while it is read (a destination read back as it is written).
  void refreshSize();
  // True when the file's size is not a whole number of pages (the tail is ignored).
  bool hasPartialPage() const { return partialPage_; }

  // The decrypted bytes of page n (page 0 as stored, its masked area still masked). Throws 3049 when n is past the
  // end of the file.
  PageHandle page(uint32_t n);

  // Called with every page as it is read from the source (decrypted), before page() hands it out: a check that must
  // see every page can ride on a pass that reads them anyway. A page dropped from the cache and read again is passed
  // again. An empty function stops it.
  using LoadObserver = std::function<void(uint32_t n, std::span<const uint8_t> bytes)>;
  void observeLoads(LoadObserver observer) { onLoad_ = std::move(observer); }
  // For a reader that will read nearly every page: the source is told, on a thread of its own, that the whole file
  // will be read (see WholeFileHint). Until the reader is gone.
  void hintWholeFile();
  // Pages read from the source so far (cache misses and the pages read ahead with them), for benchmarks and tests.
  uint64_t reads() const { return reads_; }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  struct Slot {
    uint32_t page = kNone;
    uint32_t prev = kNone;  // towards the most recently used
    uint32_t next = kNone;  // towards the least recently used
    std::shared_ptr<std::vector<uint8_t>> bytes;
  };

  void takeSize(uint64_t size);
  // Cache lookup: an open-addressed table from page number to slot, sized once for the capacity.
  uint32_t find(uint32_t page) const;
  void insertKey(uint32_t page, uint32_t slot);
  void eraseKey(uint32_t page);
  // LRU list of slots.
  void unlink(uint32_t slot);
  void pushFront(uint32_t slot);
  // Takes the least recently used slot for page n, with a buffer nobody else holds.
  uint32_t claimSlot(uint32_t n);
  // How many pages from n on to read with one call.
  uint32_t runLength(uint32_t n);
  void load(uint32_t n, uint32_t count);

  std::unique_ptr<PageSource> source_;
  DatabaseHeader header_;
  uint32_t pageCount_ = 0;
  bool partialPage_ = false;
  uint64_t reads_ = 0;
  std::vector<Slot> slots_;
  uint32_t used_ = 0;  // slots handed out so far (they are filled in order until the cache is full)
  uint32_t head_ = kNone;
  uint32_t tail_ = kNone;
  std::vector<uint32_t> keys_;    // page number or kNone
  std::vector<uint32_t> values_;  // slot of keys_[i]
  uint32_t mask_ = 0;
  // Where recent runs of misses would continue, and how long their next read is.
  struct Run {
    uint32_t next = kNone;
    uint32_t length = 1;
  };
  static constexpr size_t kRuns = 4;
  Run runs_[kRuns];
  size_t nextRun_ = 0;
  std::vector<uint8_t> staging_;  // bytes of a multi-page read
  LoadObserver onLoad_;
  std::unique_ptr<WholeFileHint> hint_;  // last: it stops before the source goes
};

}  // namespace jet
