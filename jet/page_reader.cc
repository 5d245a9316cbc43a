#include "jet/page_reader.h"

#include <algorithm>

#include "jet/bytes.h"
#include "jet/rc4.h"

namespace jet {

PageReader::PageReader(std::unique_ptr<PageSource> source, size_t cachePages)
    : source_(std::move(source)), capacity_(std::max<size_t>(cachePages, 8)) {
  uint64_t size = source_->size();
  // Read enough to recognise the format, then the whole header page once the page size is known.
  std::vector<uint8_t> probe(static_cast<size_t>(std::min<uint64_t>(size, 4096)));
  if (!probe.empty()) source_->read(0, probe);
  try {
    header_ = parseHeader(probe, size);
  } catch (const Error& e) {
    fail(e.code(), source_->name() + ": " + e.what());
  }
  uint64_t pages = size / pageSize();
  if (pages > 0xFFFFFFull) pages = 0xFFFFFF;  // page numbers are 3 bytes wide
  pageCount_ = static_cast<uint32_t>(pages);
  partialPage_ = size % pageSize() != 0;
}

PageHandle PageReader::page(uint32_t n) {
  auto it = index_.find(n);
  if (it != index_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return it->second->second;
  }
  if (n >= pageCount_) {
    corrupt("page " + std::to_string(n) + " is past the end of the file (" + std::to_string(pageCount_) + " pages)");
  }
  auto bytes = std::make_shared<std::vector<uint8_t>>(pageSize());
  source_->read(static_cast<uint64_t>(n) * pageSize(), *bytes);
  ++reads_;
  if (header_.encodingKey != 0 && n != 0) cryptPage(*bytes, header_.encodingKey, n);
  PageHandle handle = std::move(bytes);
  lru_.emplace_front(n, handle);
  index_[n] = lru_.begin();
  if (lru_.size() > capacity_) {
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
  return handle;
}

}  // namespace jet
