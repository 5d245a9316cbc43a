// Keeping other users away from a database while it is compacted.
//
// Jet (also when it runs under Wine, which maps Win32 byte-range locks onto POSIX record locks) shows that a database
// is open by holding record locks: in the lock file beside it (the database's name with the extension .ldb) for every
// user of a shared session, and on byte ranges of the database file itself. A compaction of a file that somebody
// has open would copy a state that is being changed, so it is refused before anything is written.
#pragma once

#include <memory>
#include <string>

namespace jet {

class SourceLock {
 public:
  // Checks that no other process holds a lock on the database or on its lock file, then takes a shared lock on the
  // whole database for as long as the object lives, so that a well-behaved writer cannot start meanwhile.
  // Throws OpenedExclusively (3356) when the database itself is locked and no lock file is in use (an exclusive
  // session), InUse (3196) when a lock file is in use or the lock cannot be taken, FileNotFound (3024) and
  // CannotOpen (3051) when the file cannot be opened.
  static std::unique_ptr<SourceLock> acquire(const std::string& path);

  ~SourceLock();
  SourceLock(const SourceLock&) = delete;
  SourceLock& operator=(const SourceLock&) = delete;

 private:
  explicit SourceLock(int fd) : fd_(fd) {}
  int fd_;
};

// The lock file Jet would use for the database at path: same folder and base name, extension .ldb (.LDB when
// upperCase). Any entry of the folder that matches it ignoring case counts as the lock file.
std::string lockFileName(const std::string& path, bool upperCase);

}  // namespace jet
