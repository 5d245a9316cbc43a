// The file a new database is written to, page by page, and the numbering of its pages.
//
// Pages are numbered as they are handed out and may be written in any order; a page handed out but never written
// reads as zeros. Writes go straight to the file, so memory stays small whatever the size of the database. The file
// must not exist yet (nobody's data is overwritten), and a file that was not finished is removed again, so that a
// failure leaves no half-written database behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jet::create {

class PageFile {
 public:
  // Creates the file. Throws DatabaseExists (3204) when it exists, CannotOpen (3051) when it cannot be created.
  PageFile(const std::string& path, uint32_t pageSize);
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
  std::string path_;
  uint32_t pageSize_;
  int fd_ = -1;
  uint32_t next_ = 0;
  bool finished_ = false;
};

}  // namespace jet::create
