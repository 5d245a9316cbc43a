#include "jet/pager/page_reader.h"

#include <algorithm>
#include <bit>

#include "jet/format/bytes.h"
#include "jet/pager/rc4.h"

namespace jet {

namespace {
uint32_t hashSlot(uint32_t page, uint32_t mask) { return (page * 2654435761u >> 7) & mask; }
}  // namespace

PageReader::PageReader(std::unique_ptr<PageSource> source, size_t cachePages) : source_(std::move(source)) {
  uint64_t size = source_->size();
  // Read enough to recognise the format, then the whole header page once the page size is known.
  std::vector<uint8_t> probe(static_cast<size_t>(std::min<uint64_t>(size, kHeaderProbeSize)));
  if (!probe.empty()) source_->read(0, probe);
  if (const uint32_t page = announcedPageSize(probe); page > probe.size() && size >= page) {
    probe.resize(page);
    source_->read(0, probe);
  }
  try {
    header_ = parseHeader(probe, size);
  } catch (const Error& e) {
    fail(e.code(), source_->name() + ": " + e.what());
  }
  takeSize(size);

  const auto capacity = static_cast<uint32_t>(std::clamp<size_t>(cachePages, 8, 1u << 20));
  slots_.resize(capacity);
  const uint32_t tableSize = std::bit_ceil(capacity * 2);
  keys_.assign(tableSize, kNone);
  values_.assign(tableSize, kNone);
  mask_ = tableSize - 1;
}

void PageReader::takeSize(uint64_t size) {
  uint64_t pages = size / pageSize();
  if (pages > 0xFFFFFFull) pages = 0xFFFFFF;  // page numbers are 3 bytes wide
  pageCount_ = static_cast<uint32_t>(pages);
  partialPage_ = size % pageSize() != 0;
}

void PageReader::hintWholeFile() {
  if (!hint_) hint_ = std::make_unique<WholeFileHint>(*source_, uint64_t{pageCount_} * pageSize());
}

void PageReader::refreshSize() { takeSize(source_->size()); }

uint32_t PageReader::find(uint32_t page) const {
  for (uint32_t i = hashSlot(page, mask_);; i = (i + 1) & mask_) {
    if (keys_[i] == page) return values_[i];
    if (keys_[i] == kNone) return kNone;
  }
}

void PageReader::insertKey(uint32_t page, uint32_t slot) {
  uint32_t i = hashSlot(page, mask_);
  while (keys_[i] != kNone) i = (i + 1) & mask_;
  keys_[i] = page;
  values_[i] = slot;
}

void PageReader::eraseKey(uint32_t page) {
  uint32_t i = hashSlot(page, mask_);
  while (keys_[i] != page) {
    if (keys_[i] == kNone) return;
    i = (i + 1) & mask_;
  }
  // Linear probing: later keys of the same cluster move back so that no lookup stops at the hole.
  for (uint32_t j = (i + 1) & mask_; keys_[j] != kNone; j = (j + 1) & mask_) {
    uint32_t home = hashSlot(keys_[j], mask_);
    bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (stays) continue;
    keys_[i] = keys_[j];
    values_[i] = values_[j];
    i = j;
  }
  keys_[i] = kNone;
}

void PageReader::unlink(uint32_t s) {
  Slot& slot = slots_[s];
  if (slot.prev != kNone)
    slots_[slot.prev].next = slot.next;
  else
    head_ = slot.next;
  if (slot.next != kNone)
    slots_[slot.next].prev = slot.prev;
  else
    tail_ = slot.prev;
  slot.prev = slot.next = kNone;
}

void PageReader::pushFront(uint32_t s) {
  Slot& slot = slots_[s];
  slot.prev = kNone;
  slot.next = head_;
  if (head_ != kNone) slots_[head_].prev = s;
  head_ = s;
  if (tail_ == kNone) tail_ = s;
}

uint32_t PageReader::claimSlot(uint32_t n) {
  const uint32_t s = used_ < slots_.size() ? used_ : tail_;
  Slot& slot = slots_[s];
  // A buffer still held elsewhere stays with its holder; the slot gets a fresh one.
  if (!slot.bytes || slot.bytes.use_count() > 1) slot.bytes = std::make_shared<std::vector<uint8_t>>(pageSize());
  if (s == used_) {
    ++used_;
  } else {
    unlink(s);
    if (slot.page != kNone) eraseKey(slot.page);
  }
  slot.page = n;
  return s;
}

uint32_t PageReader::runLength(uint32_t n) {
  // At most a quarter of the cache, so that a run never pushes out the pages it has just read.
  const uint32_t limit = std::min<uint32_t>(kMaxReadAhead, static_cast<uint32_t>(slots_.size() / 4));
  uint32_t want = 1;
  Run* run = nullptr;
  for (Run& r : runs_) {
    if (r.next == n) run = &r;
  }
  if (run != nullptr) {
    want = std::min(run->length * 2, limit);
  } else {
    run = &runs_[nextRun_];
    nextRun_ = (nextRun_ + 1) % kRuns;
  }
  if (want > 1) {
    const uint64_t readable = source_->readableNow(uint64_t{n} * pageSize(), uint64_t{want} * pageSize());
    want = std::max<uint32_t>(1, static_cast<uint32_t>(readable / pageSize()));
  }
  uint32_t count = 1;
  while (count < want && n + count < pageCount_ && find(n + count) == kNone) ++count;
  run->next = n + count;
  run->length = std::max<uint32_t>(count, 1);
  return count;
}

void PageReader::load(uint32_t n, uint32_t count) {
  uint32_t first[kMaxReadAhead];
  std::span<uint8_t> parts[kMaxReadAhead];
  for (uint32_t i = 0; i < count; ++i) {
    first[i] = claimSlot(n + i);
    parts[i] = *slots_[first[i]].bytes;
  }
  try {
    source_->readScattered(uint64_t{n} * pageSize(), std::span(parts, count));
  } catch (...) {
    // The slots go back empty, to be taken first.
    for (uint32_t i = 0; i < count; ++i) slots_[first[i]].page = kNone;
    for (uint32_t i = 0; i < count; ++i) {
      Slot& slot = slots_[first[i]];
      slot.prev = tail_;
      slot.next = kNone;
      if (tail_ != kNone)
        slots_[tail_].next = first[i];
      else
        head_ = first[i];
      tail_ = first[i];
    }
    throw;
  }
  reads_ += count;
  // Last page first, so that page n ends up the most recently used.
  for (uint32_t i = count; i-- > 0;) {
    uint32_t page = n + i;
    if (header_.encodingKey != 0 && page != 0) cryptPage(*slots_[first[i]].bytes, header_.encodingKey, page);
    insertKey(page, first[i]);
    pushFront(first[i]);
  }
  if (onLoad_) {
    for (uint32_t i = 0; i < count; ++i) onLoad_(n + i, *slots_[first[i]].bytes);
  }
}

PageHandle PageReader::page(uint32_t n) {
  uint32_t s = find(n);
  if (s != kNone) {
    if (head_ != s) {
      unlink(s);
      pushFront(s);
    }
    return slots_[s].bytes;
  }
  if (n >= pageCount_) {
    corrupt("page " + std::to_string(n) + " is past the end of the file (" + std::to_string(pageCount_) + " pages)");
  }
  uint32_t count = runLength(n);
  try {
    load(n, count);
  } catch (const Error&) {
    // A failure further along the run does not concern page n: read it alone, as if no run had been seen.
    if (count == 1) throw;
    load(n, 1);
  }
  return slots_[find(n)].bytes;
}

}  // namespace jet
