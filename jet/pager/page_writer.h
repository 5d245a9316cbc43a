// The output side of a compaction: page numbers handed out in order, pages written (encrypted when the database has
// an encoding key) to the destination, and the rows of usage maps collected on shared data pages.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/os/page_sink.h"
#include "jet/format/data_page_builder.h"
#include "jet/format/format.h"
#include "jet/format/usage_map_builder.h"

namespace jet {

// Page numbers of the destination, handed out densely from a first page.
class PageAllocator {
 public:
  explicit PageAllocator(uint32_t first) : next_(first) {}
  uint32_t allocate();
  uint32_t next() const { return next_; }  // = the number of pages once everything is allocated

 private:
  uint32_t next_;
};

class PageWriter {
 public:
  PageWriter(PageSink& sink, const Format& format, uint32_t encodingKey)
      : sink_(sink), format_(format), encodingKey_(encodingKey) {}
  // Writes page n. Page 0 is written as given; every other page is encrypted with the encoding key XOR n when the
  // database has one, since Jet derives each page's key from the page's number.
  void write(uint32_t n, std::vector<uint8_t> page);

 private:
  PageSink& sink_;
  const Format& format_;
  uint32_t encodingKey_;
};

// Usage maps are rows on ordinary data pages (owner 0), several maps to a page. Each map's location is known as soon
// as it is added; its page is written once no later map can go there.
class UsageMapStore {
 public:
  UsageMapStore(const Format& format, PageAllocator& allocator, PageWriter& writer);
  // Encodes the map of `pages` and stores it; returns where it lives.
  RowPointer add(std::vector<uint32_t> pages);
  // Writes the last page.
  void finish();

 private:
  const Format& format_;
  PageAllocator& allocator_;
  PageWriter& writer_;
  DataPageBuilder builder_;
  std::vector<uint32_t> numbers_;
  uint32_t written_ = 0;
};

// Page 1: the map of free pages, written once every other page has its number. A compacted file has no free pages
// (a generated one lists those of its dropped tables in `freePages`, sorted), but the map also covers the pages past
// the end of the file; a large file needs 0x05 bitmap pages for it, which are themselves part of the file. They are
// taken from the end; any reserved page the map turns out not to need is written as an empty page and marked free.
void writeFreePageMap(const Format& format, PageAllocator& allocator, PageWriter& writer,
                      const std::vector<uint32_t>& freePages = {});

}  // namespace jet
