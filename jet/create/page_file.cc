#include "jet/create/page_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/errors.h"

namespace jet::create {

PageFile::PageFile(const std::string& path, uint32_t pageSize) : path_(path), pageSize_(pageSize) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd_ < 0 && errno == EEXIST) fail(ErrorCode::DatabaseExists, path + ": the file already exists");
  if (fd_ < 0) fail(ErrorCode::CannotOpen, path + ": cannot create the file: " + std::strerror(errno));
}

PageFile::~PageFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!finished_) ::unlink(path_.c_str());
}

void PageFile::write(uint32_t page, const std::vector<uint8_t>& bytes) {
  if (bytes.size() != pageSize_) fail(ErrorCode::InvalidArgument, path_ + ": a page of the wrong size");
  if (page >= next_) fail(ErrorCode::InvalidArgument, path_ + ": page " + std::to_string(page) + " was not handed out");
  size_t done = 0;
  const auto base = static_cast<off_t>(uint64_t{page} * pageSize_);
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, base + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      fail(errno == ENOSPC ? ErrorCode::DiskFull : ErrorCode::DiskIoWrite,
           path_ + ": cannot write page " + std::to_string(page) + ": " + std::strerror(errno));
    }
    done += static_cast<size_t>(n);
  }
}

void PageFile::finish() {
  if (::ftruncate(fd_, static_cast<off_t>(uint64_t{next_} * pageSize_)) != 0 || ::fsync(fd_) != 0) {
    fail(errno == ENOSPC ? ErrorCode::DiskFull : ErrorCode::DiskIoWrite, path_ + ": " + std::strerror(errno));
  }
  finished_ = true;
}

}  // namespace jet::create
