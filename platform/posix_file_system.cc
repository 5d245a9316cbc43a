#include "platform/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "jet/errors.h"
#include "jet/os/env.h"
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

void flushFile(const ResolvedName& name) {
  Descriptor file(::open(name.path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) fail(errno, name);
  if (::fsync(file.get()) != 0 && errno != EINVAL && errno != EROFS) fail(errno, name);
}

void copyContents(int from, int to, const ResolvedName& source, const ResolvedName& destination) {
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
  }
}

// Renames without replacing an existing `to`.
int renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without that flag: link and unlink give the same guarantee.
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  return ::unlink(from.c_str());
}

}  // namespace

bool fileIsLockedByOthers(const std::filesystem::path& file) {
  return jet::Env::system().lockedByOthers(file.string(), jet::LockProbe::any);
}

std::u16string PosixFileSystem::executableFolder() {
  std::error_code failure;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", failure);
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
  Descriptor input(::open(from.path.c_str(), O_RDONLY | O_CLOEXEC));
  if (input.get() < 0) fail(errno, from);
  struct stat info {};
  if (::fstat(input.get(), &info) != 0) fail(errno, from);
  if (!S_ISREG(info.st_mode)) throw RuntimeError(error::kPathFileAccessError);
  if (!to.folderExists) throw RuntimeError(error::kPathNotFound);

  // The copy is written beside the destination and renamed over it once complete, so a
  // failed copy never leaves a half-written file where an older good copy was.
  std::string temporary = join(to.folder, "." + to.leaf + ".partial-XXXXXX");
  Descriptor output(::mkostemp(temporary.data(), O_CLOEXEC));
  if (output.get() < 0) fail(errno, to);
  try {
    copyContents(input.get(), output.get(), from, to);
    // A copy keeps the permissions and the modification time of its source, as a backup should.
    if (::fchmod(output.get(), info.st_mode & 0777) != 0) fail(errno, to);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (::futimens(output.get(), times) != 0) fail(errno, to);
    if (::fsync(output.get()) != 0) fail(errno, to);
    if (output.close() != 0) fail(errno, to);
    if (::rename(temporary.c_str(), to.path.c_str()) != 0) fail(errno, to);
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
  // A process that takes its lock after this check is not seen; the engine's own locking is
  // what guards the database while it is open. This check keeps an open database in place.
  if (fileIsLockedByOthers(older.path)) throw RuntimeError(error::kPathFileAccessError);
  flushFile(newer);

  if (older.leaf == older.leafWanted) {
    if (::rename(newer.path.c_str(), older.path.c_str()) != 0) fail(errno, older);
    flushFolder(older);
  } else {
    // The entry on disk differs in case from the wanted name: the new file takes the wanted
    // name first and the old entry goes afterwards, so that one of them always holds the data.
    const std::string wanted = join(older.folder, older.leafWanted);
    if (renameNoReplace(newer.path, wanted) != 0) fail(errno, older);
    flushFolder(older);
    if (::unlink(older.path.c_str()) != 0) fail(errno, older);
    flushFolder(older);
  }
  if (newer.folder != older.folder) flushFolder(newer);
}

std::filesystem::path PosixFileSystem::systemPath(const std::u16string& name) {
  return std::filesystem::path(resolve(name).path);
}

}  // namespace platform
