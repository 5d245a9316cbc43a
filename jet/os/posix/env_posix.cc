// The Env of POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "jet/os/posix/posix_env.h"
#include "jet/os/unicode.h"

namespace jet::posix {

// File systems that cannot flush a folder (EINVAL) or may not (EROFS) keep their entries by other means.
void flushFolder(const std::string& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    throw Error(ErrorCode::FileNotFound, folder + ": cannot open the folder (" + std::strerror(err) + ")", err);
  }
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  if (rc != 0 && err != EINVAL && err != EROFS) {
    throw Error(writeErrorFor(err), folder + ": flush of the folder failed (" + std::strerror(err) + ")", err);
  }
}

namespace {

class PosixEnv final : public Env {
 public:
  std::unique_ptr<PageSource> openSource(const std::string& path) override { return posix::openSource(path); }

  std::unique_ptr<FileLock> lockSource(const std::string& path) override { return posix::lockSource(*this, path); }

  std::unique_ptr<PageSink> createDestination(const std::string& path) override {
    return posix::createDestination(path);
  }

  std::unique_ptr<PageSink> createHiddenDestination(const std::string& path) override {
    return posix::createHiddenDestination(path);
  }

  void publishDestination(const std::string& hidden, const std::string& path, bool keepHiddenName) override {
    posix::publishDestination(hidden, path, keepHiddenName);
  }

  void removeLeftovers(const std::string& path, const std::string& source) override {
    posix::removeLeftovers(path, source);
  }

  bool lockedByOthers(const std::string& path, LockProbe kind) override {
    int fd;
    do {
      fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // a FIFO is not waited for
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    const bool locked = posix::lockedByOthers(fd, kind);
    ::close(fd);
    return locked;
  }

  void flushFolder(const std::string& folder) override { posix::flushFolder(folder); }

  std::vector<std::string> findIgnoringCase(const std::string& folder, const std::string& name) override {
    std::vector<std::string> found;
    DIR* directory = ::opendir(folder.empty() ? "." : folder.c_str());
    if (directory == nullptr) return found;
    const std::u16string wanted = unicode::upperCase(unicode::fromUtf8(name));
    while (const dirent* entry = ::readdir(directory)) {
      const std::string candidate = entry->d_name;
      if (candidate == "." || candidate == "..") continue;
      if (unicode::upperCase(unicode::fromUtf8(candidate)) == wanted) found.push_back(candidate);
    }
    ::closedir(directory);
    std::sort(found.begin(), found.end());
    return found;
  }
};

}  // namespace
}  // namespace jet::posix

namespace jet {

Env& Env::system() {
  static posix::PosixEnv env;
  return env;
}

}  // namespace jet
