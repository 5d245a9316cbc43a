// Tells a source, on a thread of its own, that the whole file is about to be read, in file order and a piece at a
// time, so that the system reads what it does not hold in memory in large requests ahead of the reader.
//
// Whoever reads a database whole (the compaction, the dump, the check) reads it table by table, and a table's pages
// are spread over the file. Where the system has dropped some of the file's pages from its cache, or never read them,
// each of those reads would wait for the disk alone; with the hint the disk streams the file instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "jet/os/page_source.h"

namespace jet {

class WholeFileHint {
 public:
  // The pieces are small enough for any system to act on whole (Linux acts on the first 128 KiB of a larger one on
  // some disks) and large enough that hinting a file held in memory costs little: about 20 ms a gigabyte.
  static constexpr uint64_t kPiece = 128 * 1024;

  // Starts hinting bytes [0, length) of `source`, which must outlive this; without a thread there is no hint.
  WholeFileHint(PageSource& source, uint64_t length);
  ~WholeFileHint();  // stops at the next piece and waits for the thread
  WholeFileHint(const WholeFileHint&) = delete;
  WholeFileHint& operator=(const WholeFileHint&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace jet
