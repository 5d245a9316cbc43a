// The read-back of a destination while it is written: which of its pages are in the file, the file as the read-back
// sees it (reads wait for the pages they cover), and what the writer tells the check of each table as it goes.
//
// The writer never waits for the read-back: it only records. The read-back waits for the writer, page by page, and
// is let go when the writing ends, however it ends.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/check/table_checker.h"
#include "jet/os/page_source.h"

namespace jet {

// The pages of the destination that are in the file for good, as its sink reports them, and how many pages are
// handed out so far (the size of the file as the read-back sees it: everything a written page points at is below).
class WrittenPages {
 public:
  explicit WrittenPages(uint32_t pageSize) : pageSize_(pageSize) {}

  // From the sink, on its thread.
  void written(uint64_t offset, uint64_t length);
  // From the writer: the pages handed out so far (the count only grows).
  void allocated(uint32_t pages);
  uint32_t allocatedPages() const;
  // Waits until every page the bytes touch is written, or the writing is over.
  void waitFor(uint64_t offset, uint64_t length);
  // How many of the bytes from offset on lie on pages written already, one after the other.
  uint64_t writtenFrom(uint64_t offset, uint64_t length) const;
  // The writing is over, done or given up: nothing waits any more.
  void release();
  // A page the sink wrote a second time: what was read of it may be stale.
  std::optional<uint32_t> writtenTwice() const;

 private:
  bool isWritten(uint32_t page) const { return page / 64 < bits_.size() && (bits_[page / 64] >> (page % 64)) & 1; }

  const uint32_t pageSize_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint64_t> bits_;
  uint32_t allocated_ = 0;
  bool released_ = false;
  std::optional<uint32_t> twice_;
};

// The destination as the read-back sees it while it is written: as large as the pages handed out, and each read
// waits for the pages it covers. Once the writing is over it is the file as it is.
class GatedSource : public PageSource {
 public:
  GatedSource(std::unique_ptr<PageSource> file, WrittenPages& pages, uint32_t pageSize)
      : file_(std::move(file)), pages_(pages), pageSize_(pageSize) {}
  const std::string& name() const override { return file_->name(); }
  uint64_t size() const override;
  void read(uint64_t offset, std::span<uint8_t> out) override;
  void readScattered(uint64_t offset, std::span<const std::span<uint8_t>> parts) override;
  // Reading ahead stops at the first page not written yet: the writer may still be filling it, or keep it for last
  // (a page of usage maps), and the read-back would wait for it.
  uint64_t readableNow(uint64_t offset, uint64_t length) override { return pages_.writtenFrom(offset, length); }

 private:
  std::unique_ptr<PageSource> file_;
  WrittenPages& pages_;
  uint32_t pageSize_;
};

// What the writer tells the read-back of each table (by its place in the plan), with a TableFeed per table for the
// check. Every call of the writer first takes the count of pages handed out into `pages`.
class WriterFeed {
 public:
  WriterFeed(size_t tables, WrittenPages& pages);
  ~WriterFeed();

  // The writer's side.
  void dataPage(size_t table, uint32_t page, uint32_t allocated);
  void rowsDone(size_t table, uint32_t allocated);
  void indexDone(size_t table, uint32_t index, uint32_t root, uint32_t allocated);
  void allWritten();
  // The writer failed: every wait of the read-back throws from now on.
  void giveUp();

  // The read-back's side.
  TableFeed& table(size_t table);
  // Waits until everything is written; throws when the writer gave up.
  void waitAllWritten();

 private:
  struct Table;
  class Feed;
  static constexpr size_t kPagesPerWake = 16;
  // Waits for `ready` under the lock; throws (internal failure) once the writer gave up.
  template <class Ready>
  void waitUntil(std::unique_lock<std::mutex>& lock, Ready ready);

  WrittenPages& pages_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<Table>> tables_;
  bool allWritten_ = false;
  bool gaveUp_ = false;
};

}  // namespace jet
