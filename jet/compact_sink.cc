#include "jet/compact_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace jet {
namespace {

// Pages reach the sink one at a time and not quite in order (a data page is written once it is full, after the long
// values of its rows), so writes are collected in a buffer and written out, sorted by offset, as runs of adjacent
// pieces with one pwritev each. A failure is reported by the write or finish that flushes the buffer.
class PosixDestination : public PageSink {
 public:
  PosixDestination(std::string path, int fd, dev_t dev, ino_t ino) : path_(std::move(path)), fd_(fd), dev_(dev), ino_(ino) {}
  ~PosixDestination() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixDestination(const PosixDestination&) = delete;
  PosixDestination& operator=(const PosixDestination&) = delete;

  const std::string& name() const override { return path_; }

  void write(uint64_t offset, Bytes data) override {
    if (fd_ < 0) fail(ErrorCode::DiskIoWrite, path_ + ": write after the file was closed");
    if (data.size() > kBufferBytes) {
      flush();
      writeAt(offset, data);
      return;
    }
    if (buffer_.size() + data.size() > kBufferBytes) flush();
    if (buffer_.capacity() < kBufferBytes) buffer_.reserve(kBufferBytes);
    pieces_.push_back({offset, buffer_.size(), data.size()});
    buffer_.insert(buffer_.end(), data.begin(), data.end());
  }

  void finish() override {
    if (fd_ < 0) return;
    flush();
    if (::fdatasync(fd_) != 0) failed("flush", errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) failed("close", errno);
    syncFolder();
  }

  void discard() noexcept override {
    pieces_.clear();
    buffer_.clear();
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::unlink(path_.c_str());
  }

 private:
  static constexpr size_t kBufferBytes = size_t{1} << 20;
  static constexpr size_t kMaxRun = 64;  // pieces per pwritev, well below IOV_MAX
  static constexpr uint64_t kWritebackStep = uint64_t{16} << 20;

  struct Piece {
    uint64_t offset;
    size_t at;  // position in buffer_
    size_t length;
  };

  void flush() {
    std::vector<Piece> pieces;
    pieces.swap(pieces_);
    struct Cleared {
      std::vector<uint8_t>& buffer;
      ~Cleared() { buffer.clear(); }
    } cleared{buffer_};
    // Pieces are sorted by offset, the later of two writes to the same place last; pieces that overlap otherwise
    // (never written by the compactor) are written in the order they came.
    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < pieces.size(); ++i) {
      const Piece& a = pieces[i - 1];
      const Piece& b = pieces[i];
      if (b.offset < a.offset + a.length && (b.offset != a.offset || b.length != a.length)) {
        std::sort(pieces.begin(), pieces.end(), [](const Piece& x, const Piece& y) { return x.at < y.at; });
        for (const Piece& p : pieces) writeAt(p.offset, Bytes(buffer_).subspan(p.at, p.length));
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
        io[n++] = {buffer_.data() + pieces[i].at, pieces[i].length};
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

  // The new name has to last as well as the bytes: the folder's entry is flushed too. File systems that cannot
  // flush a folder (EINVAL) keep their entries by other means.
  void syncFolder() {
    std::string folder = ".";
    size_t slash = path_.find_last_of('/');
    if (slash != std::string::npos) folder = slash == 0 ? "/" : path_.substr(0, slash);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    if (rc != 0 && err != EINVAL && err != EROFS) failed("flush of the folder", err);
  }

  [[noreturn]] void failed(const char* what, int err) {
    fail(writeErrorFor(err), path_ + ": " + what + " failed (" + std::strerror(err) + ")");
  }

  std::string path_;
  int fd_;
  dev_t dev_;
  ino_t ino_;
  std::vector<uint8_t> buffer_;
  std::vector<Piece> pieces_;
  uint64_t notStarted_ = 0;  // bytes written since writeback was last asked for
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

std::unique_ptr<PageSink> createDestinationFile(const std::string& path) {
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

}  // namespace jet
