#include "jet/compact/read_back.h"

#include <algorithm>

namespace jet {

void WrittenPages::written(uint64_t offset, uint64_t length) {
  if (length == 0) return;
  const auto first = static_cast<uint32_t>(offset / pageSize_);
  const auto last = static_cast<uint32_t>((offset + length - 1) / pageSize_);
  {
    std::lock_guard lock(mutex_);
    if (bits_.size() <= last / 64) bits_.resize(std::max<size_t>(last / 64 + 1, bits_.size() * 2), 0);
    for (uint32_t p = first; p <= last; ++p) {
      uint64_t& word = bits_[p / 64];
      const uint64_t bit = uint64_t{1} << (p % 64);
      if ((word & bit) != 0 && !twice_) twice_ = p;
      word |= bit;
    }
  }
  changed_.notify_all();
}

void WrittenPages::allocated(uint32_t pages) {
  std::lock_guard lock(mutex_);
  allocated_ = std::max(allocated_, pages);
}

uint32_t WrittenPages::allocatedPages() const {
  std::lock_guard lock(mutex_);
  return allocated_;
}

void WrittenPages::waitFor(uint64_t offset, uint64_t length) {
  if (length == 0) return;
  const auto first = static_cast<uint32_t>(offset / pageSize_);
  const auto last = static_cast<uint32_t>((offset + length - 1) / pageSize_);
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] {
    if (released_) return true;
    for (uint32_t p = first; p <= last; ++p) {
      if (!isWritten(p)) return false;
    }
    return true;
  });
}

uint64_t WrittenPages::writtenFrom(uint64_t offset, uint64_t length) const {
  std::lock_guard lock(mutex_);
  if (released_) return length;
  uint64_t at = offset;
  while (at < offset + length && isWritten(static_cast<uint32_t>(at / pageSize_))) at += pageSize_ - at % pageSize_;
  return std::min(at, offset + length) - offset;
}

void WrittenPages::release() {
  {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

std::optional<uint32_t> WrittenPages::writtenTwice() const {
  std::lock_guard lock(mutex_);
  return twice_;
}

uint64_t GatedSource::size() const {
  // The file's own size is the one it had when opened; the pages handed out so far are what the read-back may see.
  return uint64_t{pages_.allocatedPages()} * pageSize_;
}

void GatedSource::read(uint64_t offset, std::span<uint8_t> out) {
  pages_.waitFor(offset, out.size());
  file_->read(offset, out);
}

void GatedSource::readScattered(uint64_t offset, std::span<const std::span<uint8_t>> parts) {
  uint64_t length = 0;
  for (const std::span<uint8_t>& part : parts) length += part.size();
  pages_.waitFor(offset, length);
  file_->readScattered(offset, parts);
}

namespace {

// Thrown into the read-back once the writer gave up: it is no failure of its own and is not reported.
struct WriterGaveUp {};

}  // namespace

struct WriterFeed::Table {
  std::vector<uint32_t> dataPages;
  size_t taken = 0;  // data pages handed to the check so far
  bool rowsDone = false;
  std::vector<std::optional<uint32_t>> roots;
  std::unique_ptr<Feed> feed;
};

class WriterFeed::Feed : public TableFeed {
 public:
  Feed(WriterFeed& owner, Table& table) : owner_(owner), table_(table) {}
  bool nextDataPages(std::vector<uint32_t>& pages) override {
    std::unique_lock lock(owner_.mutex_);
    owner_.waitUntil(lock, [&] { return table_.taken < table_.dataPages.size() || table_.rowsDone; });
    if (table_.taken == table_.dataPages.size()) return false;
    pages.insert(pages.end(), table_.dataPages.begin() + static_cast<std::ptrdiff_t>(table_.taken),
                 table_.dataPages.end());
    table_.taken = table_.dataPages.size();
    return true;
  }
  uint32_t indexRoot(uint32_t k) override {
    std::unique_lock lock(owner_.mutex_);
    owner_.waitUntil(lock, [&] { return k < table_.roots.size() && table_.roots[k].has_value(); });
    return *table_.roots[k];
  }

 private:
  WriterFeed& owner_;
  Table& table_;
};

WriterFeed::WriterFeed(size_t tables, WrittenPages& pages) : pages_(pages) {
  for (size_t i = 0; i < tables; ++i) {
    tables_.push_back(std::make_unique<Table>());
    tables_.back()->feed = std::make_unique<Feed>(*this, *tables_.back());
  }
}

WriterFeed::~WriterFeed() = default;

template <class Ready>
void WriterFeed::waitUntil(std::unique_lock<std::mutex>& lock, Ready ready) {
  changed_.wait(lock, [&] { return gaveUp_ || ready(); });
  if (gaveUp_) throw WriterGaveUp{};
}

void WriterFeed::dataPage(size_t table, uint32_t page, uint32_t allocated) {
  pages_.allocated(allocated);
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    Table& t = *tables_[table];
    t.dataPages.push_back(page);
    // The read-back is woken for a run of pages, not for each: a wake-up costs both threads more than a page's rows.
    wake = t.dataPages.size() - t.taken >= kPagesPerWake;
  }
  if (wake) changed_.notify_all();
}

void WriterFeed::rowsDone(size_t table, uint32_t allocated) {
  pages_.allocated(allocated);
  {
    std::lock_guard lock(mutex_);
    tables_[table]->rowsDone = true;
  }
  changed_.notify_all();
}

void WriterFeed::indexDone(size_t table, uint32_t index, uint32_t root, uint32_t allocated) {
  pages_.allocated(allocated);
  {
    std::lock_guard lock(mutex_);
    std::vector<std::optional<uint32_t>>& roots = tables_[table]->roots;
    if (roots.size() <= index) roots.resize(index + 1);
    roots[index] = root;
  }
  changed_.notify_all();
}

void WriterFeed::allWritten() {
  {
    std::lock_guard lock(mutex_);
    allWritten_ = true;
  }
  changed_.notify_all();
}

void WriterFeed::giveUp() {
  {
    std::lock_guard lock(mutex_);
    gaveUp_ = true;
  }
  changed_.notify_all();
}

TableFeed& WriterFeed::table(size_t table) { return *tables_[table]->feed; }

void WriterFeed::waitAllWritten() {
  std::unique_lock lock(mutex_);
  waitUntil(lock, [&] { return allWritten_; });
}

}  // namespace jet
