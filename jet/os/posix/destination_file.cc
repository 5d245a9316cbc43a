#include "jet/os/posix/posix_env.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "jet/os/posix/whole_file_lock.h"
#include "jet/os/posix/writeback.h"
#include "jet/os/unicode.h"

namespace jet::posix {
namespace {

// The process's umask, which a new file's permissions respect (mkostemp makes every file 0600). Read where the
// kernel shows it, since setting it to learn it would race with threads that create files.
mode_t currentUmask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr)
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask);
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Pages reach the sink one at a time and not quite in order (a data page is written once it is full, after the long
// values of its rows), so writes are collected in batches of up to 512 KB, each written out sorted by offset as runs of
// adjacent pieces with one pwritev each. A page handed over (writeOwned) is kept as it is, not copied into the batch:
// its buffer goes back to the caller's thread with the batch and is freed there, where it was allocated. A second
// thread does the writing, so that the kernel's share of it overlaps the work of the caller; without a thread the
// caller writes each batch itself. A failure is reported by a later
// write or by finish.
class PosixDestination : public PageSink {
 public:
  PosixDestination(std::string path, int fd, dev_t dev, ino_t ino)
      : path_(std::move(path)), fd_(fd), dev_(dev), ino_(ino), writeback_(fd) {
    try {
      writer_ = std::thread([this] { writeQueued(); });
    } catch (const std::system_error&) {
      // No thread: batches are written as they fill.
    }
  }
  ~PosixDestination() override {
    stopWriter();
    writeback_.stop();
    if (fd_ >= 0) ::close(fd_);
    if (guard_ >= 0) ::close(guard_);
  }
  // Keeps the file's lock after finish() has closed the file, for as long as the object lives.
  void holdLockWith(int guard) { guard_ = guard; }
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
    if (current_.size + data.size() > kBatchBytes) submit();
    if (current_.bytes.capacity() < kBatchBytes) current_.bytes.reserve(kBatchBytes);  // grown once, not by doubling
    current_.pieces.push_back({offset, current_.bytes.size(), data.size(), false});
    current_.bytes.insert(current_.bytes.end(), data.begin(), data.end());
    current_.size += data.size();
  }

  void writeOwned(uint64_t offset, std::vector<uint8_t> data) override {
    if (data.size() > kBatchBytes) {
      write(offset, data);
      return;
    }
    if (fd_ < 0) fail(ErrorCode::DiskIoWrite, path_ + ": write after the file was closed");
    throwFailure();
    if (current_.size + data.size() > kBatchBytes) submit();
    current_.pieces.push_back({offset, current_.owned.size(), data.size(), true});
    current_.size += data.size();
    current_.owned.push_back(std::move(data));
  }

  bool observeWritten(WrittenObserver observer) override {
    std::lock_guard lock(mutex_);
    onWritten_ = std::move(observer);
    return true;
  }

  bool writeOut() override {
    if (fd_ < 0) return true;
    submit();
    drain();
    throwFailure();
    return true;
  }

  void finish() override {
    if (fd_ < 0) return;
    submit();
    drain();
    stopWriter();
    throwFailure();
    if (const int err = writeback_.finish(); err != 0) failed("flush", err);
    if (::fdatasync(fd_) != 0) failed("flush", errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) failed("close", errno);
    syncFolder();
  }

  void discard() noexcept override {
    stopWriter();
    writeback_.stop();
    current_.clear();
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) ::unlink(path_.c_str());
  }

 private:
  static constexpr size_t kBatchBytes = size_t{512} << 10;
  static constexpr size_t kBatches = 3;  // being filled, queued, being written
  static constexpr size_t kMaxRun = 64;  // pieces per pwritev, well below IOV_MAX

  struct Piece {
    uint64_t offset;
    size_t at;  // position in bytes, or in owned
    size_t length;
    bool owned;
  };
  struct Batch {
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint8_t>> owned;  // pages handed over
    std::vector<Piece> pieces;
    size_t size = 0;  // bytes of all pieces
    void clear() {
      bytes.clear();
      owned.clear();
      pieces.clear();
      size = 0;
    }
    uint8_t* data(const Piece& p) { return p.owned ? owned[p.at].data() : bytes.data() + p.at; }
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
      lock.lock();
      if (failure && !failure_) failure_ = failure;
      writing_ = false;
      spare_.push_back(std::move(batch));
      returned_.notify_all();
    }
  }

  void writeBatch(Batch& batch) {
    std::vector<Piece> pieces = batch.pieces;
    // Pieces are sorted by offset, the later of two writes to the same place last; pieces that overlap otherwise
    // (never written by the compactor) are written in the order they came.
    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
    for (size_t i = 1; i < pieces.size(); ++i) {
      const Piece& a = pieces[i - 1];
      const Piece& b = pieces[i];
      if (b.offset < a.offset + a.length && (b.offset != a.offset || b.length != a.length)) {
        for (const Piece& p : batch.pieces) writeAt(p.offset, Bytes(batch.data(p), p.length));
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
        io[n++] = {batch.data(pieces[i]), pieces[i].length};
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
    const uint64_t start = offset;
    size_t first = 0;
    while (first < count) {
      ssize_t n = ::pwritev(fd_, io + first, static_cast<int>(count - first), static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) failed("write", n < 0 ? errno : ENOSPC);
      offset += static_cast<uint64_t>(n);
      writeback_.written(static_cast<uint64_t>(n));
      auto left = static_cast<size_t>(n);
      while (first < count && left >= io[first].iov_len) left -= io[first++].iov_len;
      if (left > 0) {
        io[first].iov_base = static_cast<uint8_t*>(io[first].iov_base) + left;
        io[first].iov_len -= left;
      }
    }
    if (onWritten_) onWritten_(start, offset - start);
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
  int guard_ = -1;
  dev_t dev_;
  ino_t ino_;
  Writeback writeback_;  // asked for by whoever writes
  // Told of every run written. Set before the first write, so that the queue's lock orders it before the writer's use.
  WrittenObserver onWritten_;
  Batch current_;        // being filled by the caller
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
    case EFBIG: return ErrorCode::DiskFull;
    default: return ErrorCode::DiskIoWrite;
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

namespace {

std::pair<std::string, std::string> splitPath(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string joinPath(const std::string& folder, const std::string& leaf) {
  if (folder == ".") return leaf;
  if (folder == "/") return "/" + leaf;
  return folder + "/" + leaf;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

void syncFolderOf(const std::string& path) {
  try {
    flushFolder(splitPath(path).first);
  } catch (const Error& e) {
    if (e.code() == ErrorCode::FileNotFound) return;
    throw Error(e.code(), path + ": " + e.what(), e.systemError());
  }
}

// Gives `from` the name `to` unless something has it: a second link where the file system has them (the hidden name
// stays until the caller removes it), a rename that replaces nothing where it has not.
int linkNoReplace(const std::string& from, const std::string& to, bool& linked) {
  linked = false;
  if (::link(from.c_str(), to.c_str()) == 0) {
    linked = true;
    return 0;
  }
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK) return -1;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  return -1;
}

}  // namespace

void removeLeftovers(const std::string& path, const std::string& source) {
  const auto [folder, leaf] = splitPath(path);
  const std::string prefix = partialNamePrefix(folder, leaf);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(dir)) {
    if (isPartialName(entry->d_name, prefix)) found.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  struct stat sourceInfo {};
  const bool sourceKnown = ::stat(source.c_str(), &sourceInfo) == 0;
  for (const std::string& name : found) {
    const std::string partial = joinPath(folder, name);
    const int fd = ::open(partial.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;  // not ours to judge
    struct stat opened {};
    struct stat named {};
    // A shared lock: refused while a writer holds the file, and keeps a writer from taking it back meanwhile.
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && lockWholeFile(fd, WholeFileLock::shared) &&
        ::lstat(partial.c_str(), &named) == 0 && sameFile(opened, named)) {
      struct stat destination {};
      if (::lstat(path.c_str(), &destination) == 0 && sameFile(destination, opened) &&
          !(sourceKnown && sameFile(destination, sourceInfo))) {
        ::unlink(path.c_str());
      }
      ::unlink(partial.c_str());
    }
    ::close(fd);
  }
}

std::unique_ptr<PageSink> createHiddenDestination(const std::string& path) {
  const auto [folder, leaf] = splitPath(path);
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) fail(ErrorCode::DatabaseExists, path + ": database already exists");
  if (errno == ENOTDIR || errno == ENAMETOOLONG || (errno == ENOENT && ::access(folder.c_str(), F_OK) != 0)) {
    fail(ErrorCode::InvalidPath, path + ": cannot create the destination (" + std::strerror(errno) + ")");
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    static_assert(kPartialNameUniqueLength == 6, "mkostemp fills in six characters");
    std::string partial = joinPath(folder, partialNamePrefix(folder, leaf) + "XXXXXX");
    const int fd = ::mkostemp(partial.data(), O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      const std::string why = path + ": cannot create the destination (" + std::strerror(err) + ")";
      if (err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG) throw Error(ErrorCode::InvalidPath, why, err);
      if (err == ENOSPC || err == EDQUOT) throw Error(ErrorCode::DiskFull, why, err);
      throw Error(ErrorCode::CannotOpen, why, err);
    }
    // Somebody removing leftovers may have seen the file before it was held: it is theirs then, and another is made.
    struct stat opened {};
    struct stat named {};
    if (lockWholeFile(fd, WholeFileLock::exclusive) && ::fstat(fd, &opened) == 0 &&
        ::lstat(partial.c_str(), &named) == 0 && sameFile(opened, named)) {
      ::fchmod(fd, 0666 & ~currentUmask());
      const int guard = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (guard < 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(partial.c_str());
        throw Error(ErrorCode::CannotOpen, path + ": " + std::strerror(err), err);
      }
      auto sink = std::make_unique<PosixDestination>(partial, fd, opened.st_dev, opened.st_ino);
      sink->holdLockWith(guard);
      return sink;
    }
    ::close(fd);
  }
  fail(ErrorCode::CannotOpen, path + ": cannot create the destination (its hidden names are all taken)");
}

void publishDestination(const std::string& hidden, const std::string& path, bool keepHiddenName) {
  bool linked = false;
  if (linkNoReplace(hidden, path, linked) != 0) {
    const int err = errno;
    if (err == EEXIST) throw Error(ErrorCode::DatabaseExists, path + ": database already exists", err);
    throw Error(writeErrorFor(err), path + ": cannot name the destination (" + std::strerror(err) + ")", err);
  }
  syncFolderOf(path);
  if (linked && !keepHiddenName) ::unlink(hidden.c_str());
}

}  // namespace jet::posix

namespace jet {

size_t longestName(const std::string& folder) {
  const long max = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return max > 0 ? static_cast<size_t>(max) : 255;
}

}  // namespace jet
