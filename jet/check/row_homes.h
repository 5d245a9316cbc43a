// The home slots of a table's live rows, in ascending order as the check finds them: per page its number and the
// ordinal of its first live row, and one byte a row for its slot. A table of narrow rows has some 200 rows a page, so
// a row takes little more than a byte here, where its pointer alone takes four; the check holds this for every row of
// the table it is on, which for a log of tens of millions of rows is most of what it holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "jet/format/lean_growth.h"

namespace jet {

class RowHomes {
 public:
  // Rows come in ascending order of page, and of row within a page.
  void add(uint32_t page, uint8_t row) {
    if (pages_.empty() || pages_.back().page != page) {
      makeRoomForOne(pages_);
      pages_.push_back({page, static_cast<uint32_t>(rows_.size())});
      byPageBuilt_ = false;
    }
    makeRoomForOne(rows_);
    rows_.push_back(row);
  }
  size_t size() const { return rows_.size(); }
  // Room for the rows a table says it has, taken at once: growing a vector of millions of rows holds the old and the
  // new buffer together for a moment. Untouched room costs no memory, so a count too high costs nothing.
  void reserve(size_t rows) { rows_.reserve(rows); }

  // The ordinal of the row whose raw pointer (page << 8 | row) is given, when it is one of them.
  std::optional<size_t> find(uint32_t raw) const {
    const Page* p = pageOf(raw >> 8);
    if (p == nullptr) return std::nullopt;
    const auto row = static_cast<uint8_t>(raw & 0xFF);
    const size_t first = p->first;
    const size_t end = p + 1 == pages_.data() + pages_.size() ? rows_.size() : (p + 1)->first;
    // A page whose rows are all live from slot 0 up (every page a compaction writes) holds the row at its own place.
    if (row < end - first && rows_[first + row] == row) return first + row;
    const auto at = std::lower_bound(rows_.begin() + static_cast<std::ptrdiff_t>(first),
                                     rows_.begin() + static_cast<std::ptrdiff_t>(end), row);
    if (at == rows_.begin() + static_cast<std::ptrdiff_t>(end) || *at != row) return std::nullopt;
    return static_cast<size_t>(at - rows_.begin());
  }

  // Calls f(ordinal, raw pointer) for every row, in order.
  template <class F>
  void forEach(F f) const {
    for (size_t p = 0; p < pages_.size(); ++p) {
      const size_t end = p + 1 < pages_.size() ? pages_[p + 1].first : rows_.size();
      for (size_t i = pages_[p].first; i < end; ++i) f(i, pages_[p].page << 8 | rows_[i]);
    }
  }

 private:
  struct Page {
    uint32_t page;
    uint32_t first;  // ordinal of its first row
  };
  // The entry of a page, or null. An index's entries come in key order, which is not the rows' order, so the lookup
  // of a page goes straight to it through a table of the span of page numbers the rows occupy (four bytes for each
  // page of it), built at the first lookup. A table's pages may lie far apart, among those of long values and of other
  // tables; the span's table is built where it takes at most four bytes for each row and eight for each page of the
  // table. Rows scattered more thinly still are searched for, trying the page of the last lookup and the one after
  // it first, as entries in the order of the rows come page after page.
  const Page* pageOf(uint32_t page) const {
    if (pages_.empty() || page < pages_.front().page || page > pages_.back().page) return nullptr;
    if (!byPageBuilt_) buildByPage();
    if (!byPage_.empty()) {
      const uint32_t entry = byPage_[page - pages_.front().page];
      return entry == 0 ? nullptr : &pages_[entry - 1];
    }
    auto p = pages_.begin() + static_cast<std::ptrdiff_t>(std::min(lastPage_, pages_.size()));
    if (p != pages_.end() && p->page != page && ++p != pages_.end() && p->page != page) p = pages_.end();
    if (p == pages_.end()) {
      p = std::lower_bound(pages_.begin(), pages_.end(), page,
                           [](const Page& a, uint32_t number) { return a.page < number; });
    }
    if (p == pages_.end() || p->page != page) return nullptr;
    lastPage_ = static_cast<size_t>(p - pages_.begin());
    return &*p;
  }
  void buildByPage() const {
    byPageBuilt_ = true;
    byPage_.clear();
    const size_t span = size_t{pages_.back().page} - pages_.front().page + 1;
    // Pages out of order break the contract of add(); they are searched (and not found) rather than indexed wrongly.
    const bool ascending = std::adjacent_find(pages_.begin(), pages_.end(), [](const Page& a, const Page& b) {
                             return a.page >= b.page;
                           }) == pages_.end();
    if (!ascending || span > rows_.size() + 2 * pages_.size() + 1024) {
      byPage_.shrink_to_fit();
      return;
    }
    byPage_.assign(span, 0);
    for (size_t i = 0; i < pages_.size(); ++i)
      byPage_[pages_[i].page - pages_.front().page] = static_cast<uint32_t>(i + 1);
  }

  std::vector<Page> pages_;
  std::vector<uint8_t> rows_;  // slot of each row
  // Lookups only, from one thread at a time.
  mutable std::vector<uint32_t> byPage_;  // page - first page -> its entry + 1, or 0
  mutable bool byPageBuilt_ = false;
  mutable size_t lastPage_ = 0;
};

// Two bits for every row, four rows a byte: what the check keeps per row and index.
class TwoBitsPerRow {
 public:
  void push_back(uint8_t bits) {
    if (size_ % 4 == 0) {
      makeRoomForOne(bytes_);
      bytes_.push_back(0);
    }
    bytes_.back() = static_cast<uint8_t>(unsigned{bytes_.back()} | (bits & 3u) << (2 * (size_ % 4)));
    ++size_;
  }
  uint8_t operator[](size_t row) const {
    return static_cast<uint8_t>((unsigned{bytes_[row / 4]} >> (2 * (row % 4))) & 3u);
  }
  size_t size() const { return size_; }
  void reserve(size_t rows) { bytes_.reserve((rows + 3) / 4); }

 private:
  std::vector<uint8_t> bytes_;
  size_t size_ = 0;
};

}  // namespace jet
