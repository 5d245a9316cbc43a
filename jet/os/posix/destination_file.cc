#include "jet/os/posix/posix_env.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace jet::posix {
namespace {

// Pages reach the sink one at a time and not quite in order (a data page is written once it is full, after the long
// values of its rows), so writes are collected in batches of up to 1 MB, each written out sorted by offset as runs of
// adjacent pieces with one pwritev each. A second thread does the writing, so that the kernel's share of it overlaps
// the work of the caller; without a thread the caller writes each batch itself. A failure is reported by a later
// write or by finish.
class PosixDestination : public PageSink {
 public:
  PosixDestination(std::string path, int fd, dev_t dev, ino_t ino) : path_(std::move(path)), fd_(fd), dev_(dev), ino_(ino) {
    current_.bytes.reserve(kBatchBytes);
    try {
      writer_ = std::thread([this] { writeQueued(); });
    } catch (const std::system_error&) {
      // No thread: batches are written as they fill.
    }
  }
  ~PosixDestination() override {
    stopWriter();
    if (fd_ >= 0) ::close(fd_);
  }
  PosixDestination(const PosixDestination&) = delete;
  PosixDestination& operator=(const PosixDestination&) = delete;

  const std::string& name() const override { return path_; }

  void write(uint64_t offset, Bytes data) override {
    if (fd_ < 0) fail(ErrorCode::DiskIoWrite, path_ + ": write after the file was closed");
    throwFailure();
    if (data.size() > kBatchBytes) {
      submit();
      drain();
      throwFailure();
      writeAt(offset, data);
      return;
    }
    if (current_.bytes.size() + data.size() > kBatchBytes) submit();
    current_.pieces.push_back({offset, current_.bytes.size(), data.size()});
    current_.bytes.insert(current_.bytes.end(), data.begin(), data.end());
  }

  void finish() override {
    if (fd_ < 0) return;
    submit();
    drain();
    stopWriter();
    throwFailure();
    if (::fdatasync(fd_) != 0) failed("flush", errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) failed("close", errno);
    syncFolder();
  }

  void discard() noexcept override {
    stopWriter();
    current_.clear();
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::unlink(path_.c_str());
  }

 private:
  static constexpr size_t kBatchBytes = size_t{1} << 20;
  static constexpr size_t kBatches = 3;  // being filled, queued, being written
  static constexpr size_t kMaxRun = 64;  // pieces per pwritev, well below IOV_MAX
  static constexpr uint64_t kWritebackStep = uint64_t{16} << 20;

  struct Piece {
    uint64_t offset;
    size_t at;  // position in bytes
    size_t length;
  };
  struct Batch {
    std::vector<uint8_t> bytes;
    std::vector<Piece> pieces;
    void clear() {
      bytes.clear();
      pieces.clear();
    }
  };

  // Hands the batch being filled to the writer and starts a fresh one (waiting for one to come back when all are
  // taken).
  void submit() {
    if (current_.pieces.empty()) return;
    if (!writer_.joinable()) {
      try {
        writeBatch(current_);
      } catch (...) {
        current_.clear();
        throw;
      }
      current_.clear();
      return;
    }
    std::unique_lock lock(mutex_);
    queued_.push_back(std::move(current_));
    wake_.notify_all();
    if (spare_.empty() && batches_ >= kBatches) returned_.wait(lock, [this] { return !spare_.empty(); });
    if (!spare_.empty()) {
      current_ = std::move(spare_.back());
      spare_.pop_back();
    } else {
      current_ = Batch{};
      ++batches_;
    }
    current_.clear();
    if (current_.bytes.capacity() < kBatchBytes) current_.bytes.reserve(kBatchBytes);
  }

  // Waits until everything handed to the writer is written.
  void drain() {
    if (!writer_.joinable()) return;
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [this] { return queued_.empty() && !writing_; });
  }

  void stopWriter() noexcept {
    if (!writer_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    writer_.join();
  }

  void throwFailure() {
    std::exception_ptr failure;
    {
      std::lock_guard lock(mutex_);
      failure = failure_;
    }
    if (failure) std::rethrow_exception(failure);
  }

  // The writer thread: writes queued batches in order until stopped; after a failure it only gives them back.
  void writeQueued() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !queued_.empty(); });
      if (stop_) return;  // finish() waits for the queue first; discard() drops it
      Batch batch = std::move(queued_.front());
      queued_.pop_front();
      writing_ = true;
      const bool write = !failure_;
      lock.unlock();
      std::exception_ptr failure;
      if (write) {
        try {
          writeBatch(batch);
        } catch (...) {
          failure = std::current_exception();
        }
      }
      batch.clear();
      lock.lock();
      if (failure && !failure_) failure_ = failure;
      writing_ = false;
      spare_.push_back(std::move(batch));
      returned_.notify_all();
    }
  }

  void writeBatch(const Batch& batch) {
    std::vector<Piece> pieces = batch.pieces;
    // Pieces are sorted by offset, the later of two writes to the same place last; pieces that overlap otherwise
    // (never written by the compactor) are written in the order they came.
    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < pieces.size(); ++i) {
      const Piece& a = pieces[i - 1];
      const Piece& b = pieces[i];
      if (b.offset < a.offset + a.length && (b.offset != a.offset || b.length != a.length)) {
        for (const Piece& p : batch.pieces) writeAt(p.offset, Bytes(batch.bytes).subspan(p.at, p.length));
        return;
      }
    }
    size_t i = 0;
    while (i < pieces.size()) {
      // A piece written again later is left out: only the last one counts.
      if (i + 1 < pieces.size() && pieces[i + 1].offset == pieces[i].offset) {
        ++i;
        continue;
      }
      iovec io[kMaxRun];
      size_t n = 0;
      const uint64_t start = pieces[i].offset;
      uint64_t end = start;
      while (i < pieces.size() && n < kMaxRun && pieces[i].offset == end) {
        if (i + 1 < pieces.size() && pieces[i + 1].offset == pieces[i].offset) {
          ++i;
          continue;
        }
        io[n++] = {const_cast<uint8_t*>(batch.bytes.data()) + pieces[i].at, pieces[i].length};
        end += pieces[i].length;
        ++i;
      }
      writeRun(start, io, n);
    }
  }

  void writeAt(uint64_t offset, Bytes data) {
    iovec io{const_cast<uint8_t*>(data.data()), data.size()};
    writeRun(offset, &io, 1);
  }

  void writeRun(uint64_t offset, iovec* io, size_t count) {
    size_t first = 0;
    while (first < count) {
      ssize_t n = ::pwritev(fd_, io + first, static_cast<int>(count - first), static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) failed("write", n < 0 ? errno : ENOSPC);
      offset += static_cast<uint64_t>(n);
      notStarted_ += static_cast<uint64_t>(n);
      auto left = static_cast<size_t>(n);
      while (first < count && left >= io[first].iov_len) left -= io[first++].iov_len;
      if (left > 0) {
        io[first].iov_base = static_cast<uint8_t*>(io[first].iov_base) + left;
        io[first].iov_len -= left;
      }
    }
    if (notStarted_ >= kWritebackStep) startWriteback();
  }

  // The kernel would hold the written pages back until the final flush (a file far smaller than memory never reaches
  // its thresholds) and the flush would then wait for all of them. Asking for writeback as the file grows lets the
  // disk work while the compactor does: the flush at the end waits only for the last pages. Only a hint: the flush
  // at the end is what guarantees the bytes, so a failure here is ignored.
  void startWriteback() {
    notStarted_ = 0;
#ifdef __linux__
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  }

  // The new name has to last as well as the bytes: the folder's entry is flushed too. A folder that cannot be opened
  // any more leaves nothing to flush.
  void syncFolder() {
    std::string folder = ".";
    size_t slash = path_.find_last_of('/');
    if (slash != std::string::npos) folder = slash == 0 ? "/" : path_.substr(0, slash);
    try {
      flushFolder(folder);
    } catch (const Error& e) {
      if (e.code() == ErrorCode::FileNotFound) return;
      throw Error(e.code(), path_ + ": " + e.what(), e.systemError());
    }
  }

  [[noreturn]] void failed(const char* what, int err) {
    throw Error(writeErrorFor(err), path_ + ": " + what + " failed (" + std::strerror(err) + ")", err);
  }

  std::string path_;
  int fd_;
  dev_t dev_;
  ino_t ino_;
  uint64_t notStarted_ = 0;  // bytes written since writeback was last asked for (by whoever writes)
  Batch current_;            // being filled by the caller
  // Shared with the writer thread.
  std::mutex mutex_;
  std::condition_variable wake_;      // a batch is queued, or the writer is to stop
  std::condition_variable returned_;  // a batch is written (or dropped after a failure)
  std::deque<Batch> queued_;
  std::vector<Batch> spare_;
  size_t batches_ = 1;  // made so far, current_ included
  bool writing_ = false;
  bool stop_ = false;
  std::exception_ptr failure_;
  std::thread writer_;
};

}  // namespace

ErrorCode writeErrorFor(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ErrorCode::DiskFull;
    default:
      return ErrorCode::DiskIoWrite;
  }
}

std::unique_ptr<PageSink> createDestination(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int err = errno;
    std::string why = path + ": cannot create the destination (" + std::strerror(err) + ")";
    if (err == EEXIST) fail(ErrorCode::DatabaseExists, path + ": database already exists");
    if (err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG) fail(ErrorCode::InvalidPath, why);
    if (err == ENOSPC || err == EDQUOT) fail(ErrorCode::DiskFull, why);
    fail(ErrorCode::CannotOpen, why);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    fail(ErrorCode::DiskIoWrite, path + ": " + std::strerror(err));
  }
  return std::make_unique<PosixDestination>(path, fd, st.st_dev, st.st_ino);
}

}  // namespace jet::posix
