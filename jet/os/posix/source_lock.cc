#include "jet/os/source_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "jet/errors.h"

namespace jet {
namespace {

// True when another open file (another process, or another open of the file) holds an exclusive lock anywhere in
// the file, as Jet's locks are (Win32 LockFile is exclusive). Shared locks, such as another compaction reading the
// same file holds, do not count. Open-file-description locks see both those and classic process locks; kernels
// without them fall back to the latter.
bool lockedByOthers(int fd) {
  struct flock probe {};
  probe.l_type = F_RDLCK;  // conflicts with exclusive locks only
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;  // to the end of any possible file
  if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) {
    probe = {};
    probe.l_type = F_RDLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &probe) != 0) return false;
  }
  return probe.l_type != F_UNLCK;
}

bool takeSharedLock(int fd) {
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
  if (errno != EINVAL) return false;
  lock = {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_SETLK, &lock) == 0;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The lock file may differ in case from the database's name (a program under Wine names it after the name it was
// given), so every entry of the folder whose name matches ignoring case is looked at.
bool lockFileInUse(const std::string& path) {
  const std::string wanted = lockFileName(path, false);
  const size_t slash = wanted.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : wanted.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? wanted : wanted.substr(slash + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool used = false;
  while (!used) {
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) break;
    if (!sameIgnoringCase(entry->d_name, name)) continue;
    const std::string candidate = slash == std::string::npos ? std::string(entry->d_name) : folder + entry->d_name;
    int fd = ::open(candidate.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;  // not ours to look at: a lock file nobody can read locks nobody out
    used = lockedByOthers(fd);
    ::close(fd);
  }
  ::closedir(dir);
  return used;
}

}  // namespace

std::string lockFileName(const std::string& path, bool upperCase) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? path.substr(0, dot) : path;
  return base + (upperCase ? ".LDB" : ".ldb");
}

std::unique_ptr<SourceLock> SourceLock::acquire(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int err = errno;
    std::string why = path + ": " + std::strerror(err);
    if (err == ENOENT || err == ENOTDIR) fail(ErrorCode::FileNotFound, path + ": could not find file");
    fail(ErrorCode::CannotOpen, why);
  }
  std::unique_ptr<SourceLock> lock(new SourceLock(fd));
  bool shared = lockFileInUse(path);
  if (shared) fail(ErrorCode::InUse, path + ": the database is in use by another user (its lock file is locked)");
  if (lockedByOthers(fd)) fail(ErrorCode::OpenedExclusively, path + ": the database is opened exclusively by another user");
  if (!takeSharedLock(fd)) fail(ErrorCode::InUse, path + ": the database is in use by another user");
  return lock;
}

SourceLock::~SourceLock() { ::close(fd_); }

}  // namespace jet
