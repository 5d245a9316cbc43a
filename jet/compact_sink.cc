#include "jet/compact_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace jet {
namespace {

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
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) failed("write", n < 0 ? errno : ENOSPC);
      done += static_cast<size_t>(n);
    }
  }

  void finish() override {
    if (fd_ < 0) return;
    if (::fsync(fd_) != 0) failed("flush", errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) failed("close", errno);
  }

  void discard() noexcept override {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::unlink(path_.c_str());
  }

 private:
  [[noreturn]] void failed(const char* what, int err) {
    fail(writeErrorFor(err), path_ + ": " + what + " failed (" + std::strerror(err) + ")");
  }

  std::string path_;
  int fd_;
  dev_t dev_;
  ino_t ino_;
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
