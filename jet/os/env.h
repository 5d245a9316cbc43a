// The engine's one door to the operating system.
//
// Everything the engine asks of the system goes through an Env: opening a database for reading (and keeping other
// users away from it meanwhile), creating and writing a destination, removing it again, and the few questions about
// files and folders that come with those. One Env travels through every operation that touches files (compaction,
// the generator), so that tests can hand in a double that fails on demand (jet/os/testing/fault_env.h) and a port to
// another system implements this class once. Env::system() is the process's own: POSIX here (jet/os/posix).
//
// Paths are UTF-8 with '/' (also '\' where the system takes it) between folders. Failures are jet::Error with the
// numbers stated at each method; Error::systemError() keeps the system's own number of the failure for callers that
// report it in their own terms.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/errors.h"
#include "jet/os/page_sink.h"
#include "jet/os/page_source.h"

namespace jet {

// A lock the engine holds on a file until the object goes.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

// Which locks of other users a probe reports.
enum class LockProbe {
  exclusive,  // only exclusive locks: another reader holding a shared lock does not count
  any,        // shared locks as well
};

class Env {
 public:
  virtual ~Env() = default;

  // The operating system's Env. Lives as long as the process.
  static Env& system();

  // Opens a file read-only. Throws FileNotFound (3024) when it does not exist, CannotOpen (3051) when it cannot be
  // opened (permissions, a folder, not a regular file). Reads from the source throw DiskIoRead (3040).
  virtual std::unique_ptr<PageSource> openSource(const std::string& path) = 0;

  // Checks that no other user has the database open, then holds a shared lock on the whole file for as long as the
  // object lives, so that a well-behaved writer cannot start meanwhile. Another user shows that a database is open
  // by locking bytes of its lock file (lockFileName, in any case) or of the database itself. Throws
  // OpenedExclusively (3356) when the database itself is locked and no lock file is in use, InUse (3196) when a
  // lock file is in use or the shared lock cannot be taken, FileNotFound (3024) and CannotOpen (3051) when the file
  // cannot be opened.
  virtual std::unique_ptr<FileLock> lockSource(const std::string& path) = 0;

  // Creates a destination that must not exist yet. Throws DatabaseExists (3204) when something is already at the
  // path, InvalidPath (3044) when its folder does not exist or the name is too long, DiskFull (3026) when there is no
  // room for it, CannotOpen (3051) when it may not be created there. Its writes and its finish throw DiskFull (3026)
  // and DiskIoWrite (3043); its discard removes the file again (only the one it created) and never throws.
  virtual std::unique_ptr<PageSink> createDestination(const std::string& path) = 0;

  // Creates the destination of a compaction under a hidden name of its own in the folder of `path` (see
  // partialNamePrefix), held with an exclusive lock for as long as the sink lives, so that nobody takes it for a
  // leftover of an interrupted run; the sink's name() is that hidden name. Throws DatabaseExists (3204) when
  // something is at `path` already, and otherwise as createDestination.
  virtual std::unique_ptr<PageSink> createHiddenDestination(const std::string& path) = 0;

  // Gives the finished file `hidden` (made by createHiddenDestination) the name `path` without replacing anything,
  // and flushes the folder. With keepHiddenName the hidden name stays as a second name of the same file, for a
  // caller that moves the file on and removes the hidden name then: until it does, a later run can tell the file
  // under `path` from somebody else's (removeLeftovers). Throws DatabaseExists (3204) when something took the name
  // meanwhile, DiskFull (3026) and DiskIoWrite (3043).
  virtual void publishDestination(const std::string& hidden, const std::string& path, bool keepHiddenName) = 0;

  // Removes what interrupted runs left for the destination `path`: hidden files of its naming that no process holds,
  // and a file under `path` itself that is a second name of such a hidden file (a finished destination whose run
  // ended before its caller moved it on), unless that file is `source`. Never throws.
  virtual void removeLeftovers(const std::string& path, const std::string& source) = 0;

  // True when another process, or another open file of this one, holds a lock of the probed kind on any byte of the
  // file. False when the file cannot be opened: a file nobody can read locks nobody out. Never throws.
  virtual bool lockedByOthers(const std::string& path, LockProbe kind) = 0;

  // Makes the folder's entries (names created, renamed or removed in it) last: flushes them to the disk. A file
  // system that cannot flush a folder counts as flushed. Throws FileNotFound (3024) when the folder cannot be
  // opened, DiskFull (3026) and DiskIoWrite (3043) when the flush fails.
  virtual void flushFolder(const std::string& folder) = 0;

  // The entries of the folder whose names equal `name` apart from case (upperCase, jet/os/unicode.h), in byte order;
  // empty when there are none or the folder cannot be read. Never throws.
  virtual std::vector<std::string> findIgnoringCase(const std::string& folder, const std::string& name) = 0;
};

// Whether another user holds the database open, as Jet shows it: InUse (3196) for an exclusive lock on its lock file
// (lockFileName, in any case: a shared session), OpenedExclusively (3356) for one on the database itself; nothing when
// neither. A reader's shared lock, such as another compaction of the same file holds, does not count. This is the one
// rule for a database in use: lockSource applies it before anything is written, and a caller that later puts a
// compacted file in the database's place applies it again then.
std::optional<ErrorCode> databaseInUse(Env& env, const std::string& path);

// The beginning of the hidden name of a file being written for `leaf` in `folder`: "." + leaf, cut at a character
// boundary so that the whole name (this plus six characters) fits wherever `leaf` fits, + ".partial-". The engine's
// destinations and the utility's backup copies are named so while they are written.
std::string partialNamePrefix(const std::string& folder, const std::string& leaf);

// The characters after the prefix that make a partial file's name unique (as many as mkstemp fills in).
inline constexpr size_t kPartialNameUniqueLength = 6;

// Whether `name`, an entry of a folder, is the name of a partial file made from `prefix` (partialNamePrefix).
bool isPartialName(std::string_view name, std::string_view prefix);

// The longest name, in bytes of UTF-8, that an entry of `folder` may have. Implemented by each system's part of the
// engine (jet/os/posix, jet/os/win32).
size_t longestName(const std::string& folder);

// The lock file Jet would use for the database at path: same folder and base name, extension .ldb (.LDB when
// upperCase).
std::string lockFileName(const std::string& path, bool upperCase);

}  // namespace jet
