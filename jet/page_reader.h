// Reads pages of an open database: decrypts them when the database has an encoding key and keeps a bounded number
// of recently used pages, so memory stays the same whatever the size of the file.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/format.h"
#include "jet/header.h"
#include "jet/page_source.h"

namespace jet {

// A page's bytes, shared: a page stays valid for as long as somebody holds it, even after the cache dropped it.
using PageHandle = std::shared_ptr<const std::vector<uint8_t>>;

class PageReader {
 public:
  // Reads and checks the header; throws 3343/3049 (see parseHeader) or the source's own errors.
  explicit PageReader(std::unique_ptr<PageSource> source, size_t cachePages = 256);

  const std::string& name() const { return source_->name(); }
  const DatabaseHeader& header() const { return header_; }
  const Format& format() const { return *header_.format; }
  uint32_t pageSize() const { return header_.format->pageSize; }
  uint32_t pageCount() const { return pageCount_; }
  // True when the file's size is not a whole number of pages (the tail is ignored).
  bool hasPartialPage() const { return partialPage_; }

  // The decrypted bytes of page n (page 0 as stored, its masked area still masked). Throws 3049 when n is past the
  // end of the file.
  PageHandle page(uint32_t n);
  // Pages read from the source so far (cache misses), for benchmarks and tests.
  uint64_t reads() const { return reads_; }

 private:
  std::unique_ptr<PageSource> source_;
  DatabaseHeader header_;
  uint32_t pageCount_ = 0;
  bool partialPage_ = false;
  size_t capacity_;
  uint64_t reads_ = 0;
  std::list<std::pair<uint32_t, PageHandle>> lru_;  // most recent first
  std::unordered_map<uint32_t, std::list<std::pair<uint32_t, PageHandle>>::iterator> index_;
};

}  // namespace jet
