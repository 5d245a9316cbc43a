// The file a new database is written to, page by page, and the numbering of its pages.
//
// Pages are numbered as they are handed out and may be written in any order; a page handed out but never written
// reads as zeros. Writes are collected in small batches and written in runs, so memory stays small whatever the size
// of the database. The file, the numbering and the writing are the compactor's (jet/os/page_sink.h,
// jet/pager/page_writer.h): the file must not exist yet, so nobody's data is overwritten, and a file that was not
// finished is removed again, so that a failure leaves no half-written database behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/pager/page_writer.h"
#include "jet/os/page_sink.h"
#include "jet/format/format.h"

namespace jet::create {

class PageFile {
 public:
  // Creates the file. Throws DatabaseExists (3204) when it exists, InvalidPath (3044) when its folder does not,
  // CannotOpen (3051) when it cannot be created.
  PageFile(const std::string& path, const Format& format);
  // Writes into `sink` instead of a file of its own (tests inject write failures this way).
  PageFile(std::unique_ptr<PageSink> sink, const Format& format);
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // Throws DiskFull (3026) past the largest page number the format's 3-byte pointers can hold.
  uint32_t allocate() { return numbers_.allocate(); }
  uint32_t pageCount() const { return numbers_.next(); }
  // Throws DiskIoWrite (3043) or DiskFull (3026).
  void write(uint32_t page, std::vector<uint8_t> bytes);
  // Writes page 1, the map of `freePages` (sorted), once every other page has its number; a large file's map takes
  // pages of its own at the end.
  void writeFreePageMap(const std::vector<uint32_t>& freePages);
  // Makes the file exactly pageCount() pages long and flushes it.
  void finish();

 private:
  const Format& format_;
  std::unique_ptr<PageSink> sink_;
  PageAllocator numbers_{0};
  PageWriter writer_;
  uint32_t end_ = 0;  // pages up to the last one written
  bool finished_ = false;
};

}  // namespace jet::create
