// Writeback asked for as a file grows, for the POSIX files of the engine and of the utility's platform: the
// compacted database and the backup copy.
#pragma once

#include <fcntl.h>

#include <cstdint>

namespace jet::posix {

// The kernel would hold a file's written pages back until the final flush (a file far smaller than memory never
// reaches its thresholds), and the flush would then wait for all of them: a database written to the page cache and
// flushed only then takes about twice as long. Asking for writeback every 16 MB lets the disk work while the writer
// does. Only a hint: the flush at the end is what guarantees the bytes, so a failure here is ignored.
class Writeback {
 public:
  explicit Writeback(int fd) : fd_(fd) {}
  // Counts bytes just written to the file, and asks for writeback once 16 MB have come since it last did.
  void written(uint64_t bytes) {
    pending_ += bytes;
    if (pending_ < kStep) return;
    pending_ = 0;
#ifdef __linux__
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  }

 private:
  static constexpr uint64_t kStep = uint64_t{16} << 20;
  int fd_;
  uint64_t pending_ = 0;
};

}  // namespace jet::posix
