// Writeback asked for as a file grows, for the POSIX files of the engine and of the utility's platform: the
// compacted database and the backup copy.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

namespace jet::posix {

// The kernel would hold a file's written pages back until the final flush (a file far smaller than memory never
// reaches its thresholds), and the flush would then wait for all of them: a database written to the page cache and
// flushed only then takes about twice as long. Asking for writeback every 16 MB lets the disk work while the writer
// does. That alone still leaves the disk's own write cache to the end: a disk that has one (and the disk of a virtual
// machine, whose host keeps a cache of its own) makes the final flush wait until everything written reached lasting
// storage, about half a millisecond a megabyte on one such machine (0.30 s for 576 MB, 0.034 s for 56 MB). So the
// file is flushed every 16 MB as well, on a thread beside the writer: the final flush then waits for the last few
// megabytes only (0.006 s for 56 MB). The writer never waits for these flushes.
//
// The writeback requests are only hints; the flushes in between are not: the system reports a failed writeback to
// one flush only, so a flush in between that fails must fail the file, which finish() tells. The owner calls
// finish() (or stop()) before it closes the file.
class Writeback {
 public:
  explicit Writeback(int fd) : fd_(fd) {}
  ~Writeback() { stop(); }
  Writeback(const Writeback&) = delete;
  Writeback& operator=(const Writeback&) = delete;

  // Counts bytes just written to the file: once 16 MB have come since it last did, asks for writeback and for a flush
  // beside the writing (asks that come while one runs are served by one flush after it).
  void written(uint64_t bytes) {
    pending_ += bytes;
    if (pending_ < kStep) return;
    pending_ = 0;
#ifdef __linux__
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    flushBeside();
  }

  // Waits for the flush under way, if any (one asked for and not yet begun is made first), and ends the thread that
  // runs them. Returns the system's error number of a flush in between that failed, or 0; the final flush is the
  // owner's.
  int finish() {
    end(true);
    return failure_;
  }

  // Ends the thread where the file is abandoned: a flush asked for and not yet begun is left out, and any failure does
  // not matter.
  void stop() noexcept { end(false); }

 private:
  static constexpr uint64_t kStep = uint64_t{16} << 20;

  void end(bool flushAsked) noexcept {
    stopped_ = true;
    if (!flusher_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      if (!flushAsked) asked_ = false;
    }
    wake_.notify_all();
    flusher_.join();
  }

  void flushBeside() {
    if (!flusher_.joinable()) {
      if (stopped_) return;
      try {
        flusher_ = std::thread([this] { flushWhenAsked(); });
      } catch (const std::system_error&) {
        stopped_ = true;  // no thread: the final flush does it all
        return;
      }
    }
    {
      std::lock_guard lock(mutex_);
      asked_ = true;
    }
    wake_.notify_all();
  }

  void flushWhenAsked() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || asked_; });
      if (!asked_) return;  // stopping
      asked_ = false;
      lock.unlock();
      int err = 0;
      while (::fdatasync(fd_) != 0) {
        if (errno == EINTR) continue;
        // A file system that cannot flush this file leaves it to the final flush, which says so.
        if (errno != EINVAL && errno != EROFS) err = errno;
        break;
      }
      lock.lock();
      if (err != 0 && failure_ == 0) failure_ = err;
      if (err != 0) return;  // one failure is enough
    }
  }

  int fd_;
  uint64_t pending_ = 0;
  bool stopped_ = false;  // no thread could be started, or it was ended: no flushes in between from now on
  std::thread flusher_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool asked_ = false;
  bool stopping_ = false;
  int failure_ = 0;  // read by finish() only after the thread ended
};

}  // namespace jet::posix
