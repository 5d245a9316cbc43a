#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/os/posix/posix_env.h"
#include "jet/os/posix/whole_file_lock.h"

namespace jet::posix {
namespace {

// Holds the source open with a shared lock on every byte.
class PosixSourceLock : public FileLock {
 public:
  explicit PosixSourceLock(int fd) : fd_(fd) {}
  ~PosixSourceLock() override { ::close(fd_); }
  PosixSourceLock(const PosixSourceLock&) = delete;
  PosixSourceLock& operator=(const PosixSourceLock&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool lockWholeFile(int fd, WholeFileLock kind) {
  const short type = kind == WholeFileLock::exclusive ? F_WRLCK : F_RDLCK;
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
  if (errno != EINVAL) return false;
  lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_SETLK, &lock) == 0;
}

// Open-file-description locks see both other processes' classic record locks and other open files' own; kernels
// without them fall back to the former.
bool lockedByOthers(int fd, LockProbe kind) {
  // A read lock conflicts with exclusive locks only, a write lock with every lock.
  const short type = kind == LockProbe::exclusive ? F_RDLCK : F_WRLCK;
  struct flock probe {};
  probe.l_type = type;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;  // to the end of every possible offset: engines lock far past the data
  if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) {
    probe = {};
    probe.l_type = type;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &probe) != 0) return false;
  }
  return probe.l_type != F_UNLCK;
}

// Jet's own locks are exclusive (Win32 LockFile is), so only those count: shared locks, such as another compaction
// reading the same file holds, do not.
std::unique_ptr<FileLock> lockSource(Env& env, const std::string& path) {
  int fd;
  do {
    // Without waiting: a FIFO would block the open until somebody writes to it.
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int err = errno;
    std::string why = path + ": " + std::strerror(err);
    if (err == ENOENT || err == ENOTDIR) throw Error(ErrorCode::FileNotFound, path + ": could not find file", err);
    throw Error(ErrorCode::CannotOpen, why, err);
  }
  auto lock = std::make_unique<PosixSourceLock>(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) fail(ErrorCode::CannotOpen, path + ": not a regular file");
  if (const std::optional<ErrorCode> holder = databaseInUse(env, path)) {
    if (*holder == ErrorCode::InUse) {
      fail(*holder, path + ": the database is in use by another user (its lock file is locked)");
    }
    fail(*holder, path + ": the database is opened exclusively by another user");
  }
  if (!lockWholeFile(fd, WholeFileLock::shared))
    fail(ErrorCode::InUse, path + ": the database is in use by another user");
  return lock;
}

}  // namespace jet::posix
