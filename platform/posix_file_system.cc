#include "platform/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "jet/errors.h"
#include "jet/os/env.h"
#include "jet/os/posix/whole_file_lock.h"
#include "jet/os/posix/writeback.h"
#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace platform {
namespace {

// A name resolved to the system's path of the entry it stands for.
struct ResolvedName {
  std::string path;
  std::string folder;      // where the entry is or would be
  std::string leaf;        // the entry's own name as found on disk (or as written when missing)
  std::string leafWanted;  // the entry's own name as the caller wrote it
  bool folderExists = false;
  bool exists = false;
};

bool entryExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool isFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string join(const std::string& folder, const std::string& leaf) {
  if (folder.empty() || folder == ".") return leaf;
  if (folder == "/") return "/" + leaf;
  return folder + "/" + leaf;
}

// The entry of `folder` whose name equals `wanted` apart from case; the first in byte order
// when several do, so that the choice does not depend on the order of the directory.
std::optional<std::string> findIgnoringCase(const std::string& folder, const std::string& wanted) {
  std::vector<std::string> found = jet::Env::system().findIgnoringCase(folder, wanted);
  if (found.empty()) return std::nullopt;
  return found.front();
}

ResolvedName resolve(const std::u16string& name) {
  std::string text = toUtf8(name);
  if (text.empty() || text.find('\0') != std::string::npos) throw RuntimeError(error::kBadFileName);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  std::vector<std::string> components;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) components.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  ResolvedName resolved;
  resolved.folder = std::string(1, text.front() == '/' ? '/' : '.');
  resolved.folderExists = true;
  if (components.empty()) {  // the root folder itself
    resolved.path = resolved.folder;
    resolved.exists = true;
    return resolved;
  }
  for (std::size_t i = 0; i < components.size(); ++i) {
    const std::string& component = components[i];
    std::string leaf = component;
    bool found = entryExists(join(resolved.folder, component));
    if (!found && resolved.folderExists) {
      if (auto match = findIgnoringCase(resolved.folder, component)) {
        leaf = *match;
        found = true;
      }
    }
    if (i + 1 == components.size()) {
      resolved.leaf = leaf;
      resolved.leafWanted = component;
      resolved.exists = found;
      resolved.path = join(resolved.folder, leaf);
    } else {
      resolved.folder = join(resolved.folder, leaf);
      resolved.folderExists = found && isFolder(resolved.folder);
    }
  }
  return resolved;
}

// The run-time's number for a system error on the named entry.
std::int32_t errorNumber(int systemError, const ResolvedName& name) {
  switch (systemError) {
    case ENOENT: return name.folderExists ? error::kFileNotFound : error::kPathNotFound;
    case ENOTDIR: return error::kPathNotFound;
    case EACCES:
    case EPERM: return error::kPermissionDenied;
    case EEXIST:
    case ENOTEMPTY: return error::kFileAlreadyExists;
    case ENOSPC:
    case EDQUOT: return error::kDiskFull;
    case EIO: return error::kDeviceIoError;
    case ENAMETOOLONG: return error::kBadFileName;
    case ENOMEM: return error::kOutOfMemory;
    default: return error::kPathFileAccessError;
  }
}

[[noreturn]] void fail(int systemError, const ResolvedName& name) {
  throw RuntimeError(errorNumber(systemError, name));
}

void requireExisting(const ResolvedName& name) {
  if (!name.exists) throw RuntimeError(name.folderExists ? error::kFileNotFound : error::kPathNotFound);
}

// Closes on every path out of a scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closing reports write-back failures, which a file that must reach the disk cannot ignore.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

void flushFolder(const ResolvedName& name) {
  try {
    jet::Env::system().flushFolder(name.folder);
  } catch (const jet::Error& e) {
    fail(e.systemError(), name);
  }
}

void copyByReading(int from, int to, const ResolvedName& source, const ResolvedName& destination,
                   jet::posix::Writeback& writeback) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail(errno, source);
    if (got == 0) return;
    for (ssize_t written = 0; written < got;) {
      const ssize_t put = ::write(to, buffer.data() + written, static_cast<std::size_t>(got - written));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) fail(errno, destination);
      written += put;
    }
    writeback.written(static_cast<uint64_t>(got));
  }
}

// The kernel copies from file to file without passing the bytes through this process (and may share the blocks where
// the file system can). Where it cannot (another file system on old kernels, a special file system), the copy reads
// and writes; that is decided before the first byte is copied, so both never mix.
void copyWithWriteback(int from, int to, const ResolvedName& source, const ResolvedName& destination,
                       jet::posix::Writeback& writeback) {
  constexpr size_t kChunk = size_t{8} << 20;
  bool started = false;
  for (;;) {
    const ssize_t got = ::copy_file_range(from, nullptr, to, nullptr, kChunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && !started && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP)) {
      copyByReading(from, to, source, destination, writeback);
      return;
    }
    // Which side failed is not told; the number depends on the error alone, apart from a missing file, which only
    // the source can be once both are open.
    if (got < 0) fail(errno, errno == ENOSPC || errno == EDQUOT ? destination : source);
    if (got == 0) return;
    started = true;
    writeback.written(static_cast<uint64_t>(got));
  }
}

void copyContents(int from, int to, const ResolvedName& source, const ResolvedName& destination) {
  // Writeback and flushes as the copy grows, so that the flush at the end does not wait for the whole file. A flush
  // in between that failed fails the copy: the final one would not report it again.
  jet::posix::Writeback writeback(to);
  copyWithWriteback(from, to, source, destination, writeback);
  if (const int err = writeback.finish(); err != 0) fail(err, destination);
}

// Renames without replacing an existing `to`.
int renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without that flag: a plain rename once `to` is seen to be free. A link and an
  // unlink would close that gap but leave a moment with two names.
  struct stat existing {};
  if (::lstat(to.c_str(), &existing) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::rename(from.c_str(), to.c_str());
}

// A file being written, and the leftovers of runs that were interrupted while writing one, are named as the engine
// names its destination while writing it (jet::partialNamePrefix + six characters, jet::isPartialName): hidden,
// unique, and fitting wherever the final name fits.
std::string partialPrefix(const std::string& folder, const std::string& leaf) {
  return jet::partialNamePrefix(folder.empty() ? "." : folder, leaf);
}

// The entries of `folder` whose names make them partial files of `leaf`.
std::vector<std::string> partialsOf(const std::string& folder, const std::string& leaf) {
  const std::string prefix = partialPrefix(folder, leaf);
  std::vector<std::string> found;
  std::error_code failure;
  for (std::filesystem::directory_iterator entry(folder.empty() ? "." : folder, failure), end; !failure && entry != end;
       entry.increment(failure)) {
    const std::string name = entry->path().filename().native();
    if (jet::isPartialName(name, prefix)) found.push_back(name);
  }
  return found;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Partial files are locked as the engine locks its own (jet/os/posix/whole_file_lock.h).
using jet::posix::lockWholeFile;
using jet::posix::WholeFileLock;

// Removes the partial files of `leaf` in `folder` that an interrupted run left: those that no process holds.
void removeLeftoverPartials(const std::string& folder, const std::string& leaf) {
  for (const std::string& name : partialsOf(folder, leaf)) {
    const std::string path = join(folder, name);
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) continue;  // not ours to judge
    struct stat opened {};
    struct stat named {};
    if (::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) continue;
    if (!lockWholeFile(file.get(), WholeFileLock::shared)) continue;  // being written
    if (::lstat(path.c_str(), &named) == 0 && sameFile(opened, named)) ::unlink(path.c_str());
  }
}

// A new, empty partial file for `leaf` in `folder`, held for writing; `path` receives its name.
int createPartial(const std::string& folder, const std::string& leaf, std::string& path, const ResolvedName& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = join(folder, partialPrefix(folder, leaf) + "XXXXXX");
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) fail(errno, name);
    // Someone removing leftovers may have seen the file before it was held: then it is theirs, and another is made.
    struct stat opened {};
    struct stat named {};
    if (lockWholeFile(fd, WholeFileLock::exclusive) && ::fstat(fd, &opened) == 0 &&
        ::lstat(path.c_str(), &named) == 0 && sameFile(opened, named)) {
      return fd;
    }
    ::close(fd);
  }
  throw RuntimeError(error::kPathFileAccessError);
}

// Gives `to` the owner, group, permissions and access control list of the file `from`: other users of a shared
// database must be able to open what replaces it, and a read-only database stays read-only. Owner and group are
// set as far as the process may (a user who is no member of the group keeps their own); the rest must succeed.
void adoptAccess(int to, const struct stat& from, int fromFd, const ResolvedName& name) {
  if (::fchown(to, from.st_uid, from.st_gid) != 0 && ::fchown(to, static_cast<uid_t>(-1), from.st_gid) != 0 &&
      errno != EPERM) {
    fail(errno, name);
  }
  // File systems without permissions (FAT) refuse them; there is nothing to keep.
  if (::fchmod(to, from.st_mode & 07777) != 0 && errno != EPERM && errno != ENOTSUP) fail(errno, name);
  if (fromFd < 0) return;
  static constexpr char accessList[] = "system.posix_acl_access";
  std::vector<char> list(256);
  for (;;) {
    const ssize_t size = ::fgetxattr(fromFd, accessList, list.data(), list.size());
    if (size >= 0) {
      if (::fsetxattr(to, accessList, list.data(), static_cast<std::size_t>(size), 0) != 0 && errno != ENOTSUP) {
        fail(errno, name);
      }
      return;
    }
    if (errno == ERANGE && list.size() < (1u << 20)) {
      list.resize(list.size() * 4);
      continue;
    }
    if (errno == ENODATA || errno == ENOTSUP) return;  // no list beyond the permissions, or none possible
    fail(errno, name);
  }
}

// Opens a file to read without waiting: a FIFO or a device given as a database would otherwise block the open for
// ever. Anything but a regular file is refused.
int openRegularFile(const ResolvedName& name, struct stat& info) {
  const int fd = ::open(name.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) fail(errno, name);
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    throw RuntimeError(error::kPathFileAccessError);
  }
  return fd;
}

}  // namespace

// The same rule as the engine's before it writes anything (jet::databaseInUse).
bool fileIsLockedByOthers(const std::filesystem::path& file) {
  return jet::databaseInUse(jet::Env::system(), file.string()).has_value();
}

std::filesystem::path executablePath(std::error_code& failure) {
  return std::filesystem::read_symlink("/proc/self/exe", failure);
}

std::u16string PosixFileSystem::executableFolder() {
  std::error_code failure;
  const std::filesystem::path executable = executablePath(failure);
  if (failure) throw RuntimeError(error::kPathFileAccessError);
  return fromUtf8(executable.parent_path().native());
}

void PosixFileSystem::changeCurrentFolder(const std::u16string& folder) {
  const ResolvedName name = resolve(folder);
  if (::chdir(name.path.c_str()) != 0) {
    throw RuntimeError(errno == ENOENT ? error::kPathNotFound : errorNumber(errno, name));
  }
}

void PosixFileSystem::createFolder(const std::u16string& folder) {
  const ResolvedName name = resolve(folder);
  if (name.exists) throw RuntimeError(error::kPathFileAccessError);
  if (::mkdir(name.path.c_str(), 0777) != 0) {
    throw RuntimeError(errno == EEXIST ? error::kPathFileAccessError : errorNumber(errno, name));
  }
  flushFolder(name);  // the new folder's entry, so that copies made into it survive a power cut
}

void PosixFileSystem::copyFile(const std::u16string& source, const std::u16string& destination) {
  const ResolvedName from = resolve(source);
  const ResolvedName to = resolve(destination);
  requireExisting(from);
  struct stat info {};
  Descriptor input(openRegularFile(from, info));
  if (!to.folderExists) throw RuntimeError(error::kPathNotFound);

  // The copy is written beside the destination and renamed over it once complete, so a
  // failed copy never leaves a half-written file where an older good copy was. What an
  // interrupted copy left there goes first: it would take the space of a whole database.
  removeLeftoverPartials(to.folder, to.leaf);
  std::string temporary;
  Descriptor output(createPartial(to.folder, to.leaf, temporary, to));
  try {
    copyContents(input.get(), output.get(), from, to);
    // A copy keeps the owner, permissions and modification time of its source, as a backup should.
    adoptAccess(output.get(), info, input.get(), to);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (::futimens(output.get(), times) != 0) fail(errno, to);
    if (::fsync(output.get()) != 0) fail(errno, to);
    if (::rename(temporary.c_str(), to.path.c_str()) != 0) fail(errno, to);
    if (output.close() != 0) fail(errno, to);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  flushFolder(to);
}

void PosixFileSystem::replaceFile(const std::u16string& replacement, const std::u16string& original) {
  const ResolvedName newer = resolve(replacement);
  const ResolvedName older = resolve(original);
  requireExisting(newer);
  requireExisting(older);
  // The same rule as the engine's before it wrote anything: a database that its engine holds open
  // stays in place; a reader's shared lock is no reason to throw the finished work away. A process
  // that takes its lock after this check is not seen; the engine's own locking guards the database
  // while it is open.
  if (fileIsLockedByOthers(older.path)) throw RuntimeError(error::kPathFileAccessError);

  struct stat olderInfo {};
  Descriptor olderFile(::open(older.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (olderFile.get() < 0) fail(errno, older);
  if (::fstat(olderFile.get(), &olderInfo) != 0) fail(errno, older);
  if (!S_ISREG(olderInfo.st_mode)) throw RuntimeError(error::kPathFileAccessError);
  struct stat newerInfo {};
  Descriptor newerFile(::open(newer.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (newerFile.get() < 0) fail(errno, newer);
  if (::fstat(newerFile.get(), &newerInfo) != 0) fail(errno, newer);
  if (!S_ISREG(newerInfo.st_mode)) throw RuntimeError(error::kPathFileAccessError);
  adoptAccess(newerFile.get(), olderInfo, olderFile.get(), older);
  if (::fsync(newerFile.get()) != 0 && errno != EINVAL && errno != EROFS) fail(errno, newer);

  if (older.leaf != older.leafWanted) {
    // The entry on disk differs in case from the wanted name: the old entry takes the wanted name
    // first, and the new file then replaces it in one step, so that at no moment two entries that
    // a case-insensitive opener cannot tell apart hold the database, and one always does.
    const std::string wanted = join(older.folder, older.leafWanted);
    if (renameNoReplace(older.path, wanted) != 0) fail(errno, older);
    flushFolder(older);
    if (::rename(newer.path.c_str(), wanted.c_str()) != 0) fail(errno, older);
  } else if (::rename(newer.path.c_str(), older.path.c_str()) != 0) {
    fail(errno, older);
  }
  flushFolder(older);
  if (newer.folder != older.folder) flushFolder(newer);
  // The engine leaves a hidden second name on what it wrote until it is in place, so that a run
  // interrupted before can tell its own output from somebody's file; it has served its purpose.
  for (const std::string& link : partialsOf(newer.folder, newer.leaf)) {
    struct stat info {};
    const std::string path = join(newer.folder, link);
    if (::lstat(path.c_str(), &info) == 0 && sameFile(info, newerInfo)) ::unlink(path.c_str());
  }
}

std::u16string PosixFileSystem::fileBehind(const std::u16string& name) {
  const ResolvedName resolved = resolve(name);
  struct stat info {};
  if (::lstat(resolved.path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return name;
  // Replacing the link by a regular file would fork the data: the file the link points to is the database.
  char* target = ::realpath(resolved.path.c_str(), nullptr);
  if (target == nullptr) fail(errno, resolved);
  std::u16string path = fromUtf8(target);
  std::free(target);
  return path;
}

std::filesystem::path PosixFileSystem::systemPath(const std::u16string& name) {
  return std::filesystem::path(resolve(name).path);
}

}  // namespace platform
