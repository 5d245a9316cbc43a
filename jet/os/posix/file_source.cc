#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/errors.h"
#include "jet/os/posix/posix_env.h"

namespace jet::posix {
namespace {

class PosixFileSource : public PageSource {
 public:
  PosixFileSource(std::string path, int fd, uint64_t size) : path_(std::move(path)), fd_(fd), size_(size) {}
  ~PosixFileSource() override { ::close(fd_); }
  PosixFileSource(const PosixFileSource&) = delete;
  PosixFileSource& operator=(const PosixFileSource&) = delete;

  const std::string& name() const override { return path_; }
  uint64_t size() const override { return size_; }

  void willRead(uint64_t offset, uint64_t length) override {
#ifdef POSIX_FADV_WILLNEED
    // Only a hint: whatever it returns, the reads that follow report their own failures.
    (void)::posix_fadvise(fd_, static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_WILLNEED);
#else
    (void)offset;
    (void)length;
#endif
  }

  void read(uint64_t offset, std::span<uint8_t> out) override {
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        fail(ErrorCode::DiskIoRead, path_ + ": disk I/O error during read at offset " + std::to_string(offset + done) +
                                        " (" + std::strerror(errno) + ")");
      }
      if (n == 0) {
        fail(ErrorCode::DiskIoRead, path_ + ": the file ended at offset " + std::to_string(offset + done) + " while " +
                                        std::to_string(out.size()) + " bytes were being read");
      }
      done += static_cast<size_t>(n);
    }
  }

  void readScattered(uint64_t offset, std::span<const std::span<uint8_t>> parts) override {
    constexpr size_t kMaxParts = 64;
    if (parts.size() > kMaxParts) {
      PageSource::readScattered(offset, parts);
      return;
    }
    iovec io[kMaxParts];
    size_t total = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
      io[i] = {parts[i].data(), parts[i].size()};
      total += parts[i].size();
    }
    size_t first = 0;
    uint64_t at = offset;
    while (first < parts.size()) {
      ssize_t n = ::preadv(fd_, io + first, static_cast<int>(parts.size() - first), static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        fail(ErrorCode::DiskIoRead, path_ + ": disk I/O error during read at offset " + std::to_string(at) + " (" +
                                        std::strerror(errno) + ")");
      }
      if (n == 0) {
        fail(ErrorCode::DiskIoRead, path_ + ": the file ended at offset " + std::to_string(at) + " while " +
                                        std::to_string(total) + " bytes were being read");
      }
      at += static_cast<uint64_t>(n);
      // Skip what was filled; a part filled in part continues where the read stopped.
      auto left = static_cast<size_t>(n);
      while (first < parts.size() && left >= io[first].iov_len) left -= io[first++].iov_len;
      if (left > 0) {
        io[first].iov_base = static_cast<uint8_t*>(io[first].iov_base) + left;
        io[first].iov_len -= left;
      }
    }
  }

 private:
  std::string path_;
  int fd_;
  uint64_t size_;
};

}  // namespace

std::unique_ptr<PageSource> openSource(const std::string& path) {
  // Without waiting: a FIFO would block the open until somebody writes to it. Reads of a regular file ignore the flag.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) fail(ErrorCode::FileNotFound, path + ": could not find the file");
    fail(ErrorCode::CannotOpen, path + ": cannot open the file (" + std::strerror(err) + ")");
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    fail(ErrorCode::CannotOpen, path + ": cannot open the file (" + std::strerror(err) + ")");
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    fail(ErrorCode::CannotOpen, path + ": cannot open the file (not a regular file)");
  }
  return std::make_unique<PosixFileSource>(path, fd, static_cast<uint64_t>(st.st_size));
}

}  // namespace jet::posix
