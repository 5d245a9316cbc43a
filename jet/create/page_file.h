// The file a new database is written to, page by page, and the numbering of its pages.
//
// Pages are numbered as they are handed out and may be written in any order; a page handed out but never written
// reads as zeros. Writes go straight to the file, so memory stays small whatever the size of the database. The file
// is the compactor's destination file (jet/compact_sink.h): it must not exist yet, so nobody's data is overwritten,
// and a file that was not finished is removed again, so that a failure leaves no half-written database behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/compact_sink.h"

namespace jet::create {

class PageFile {
 public:
  // Creates the file. Throws DatabaseExists (3204) when it exists, InvalidPath (3044) when its folder does not,
  // CannotOpen (3051) when it cannot be created.
  PageFile(const std::string& path, uint32_t pageSize);
  // Writes into `sink` instead of a file of its own (tests inject write failures this way).
  PageFile(std::unique_ptr<PageSink> sink, uint32_t pageSize);
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  uint32_t allocate() { return next_++; }
  // Hands out `count` consecutive pages; returns the first.
  uint32_t allocateRun(uint32_t count) {
    uint32_t first = next_;
    next_ += count;
    return first;
  }
  uint32_t pageCount() const { return next_; }
  // Throws DiskIoWrite (3043) or DiskFull (3026).
  void write(uint32_t page, const std::vector<uint8_t>& bytes);
  // Makes the file exactly pageCount() pages long and flushes it.
  void finish();

 private:
  std::unique_ptr<PageSink> sink_;
  uint32_t pageSize_;
  uint32_t next_ = 0;
  uint32_t end_ = 0;  // pages up to the last one written
  bool finished_ = false;
};

}  // namespace jet::create
