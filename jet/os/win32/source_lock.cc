// Keeping other users away from a database while it is compacted, on Windows: Jet's own byte-range locks
// (LockFileEx) on the database and on its lock file are what show that a database is open.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "jet/errors.h"
#include "jet/os/source_lock.h"
#include "jet/os/win32/wide_name.h"

namespace jet {
namespace {

constexpr DWORD everyByte = MAXDWORD;  // the low and the high half of the length: every possible offset

// Opens for reading beside the programs that have the file open (Jet opens for reading and writing and lets both
// in), so that their locks can be seen.
HANDLE openBeside(const std::wstring& name) {
  return CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Takes a shared lock over the whole file: it conflicts only with exclusive locks (Jet's are) that other handles
// hold anywhere in it, and keeps new ones out for as long as it is held. Shared locks, such as another compaction
// of the same file holds, do not conflict.
bool lockShared(HANDLE file) {
  OVERLAPPED whole{};
  return LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, everyByte, everyByte, &whole) != FALSE;
}

void unlockShared(HANDLE file) {
  OVERLAPPED whole{};
  UnlockFileEx(file, 0, everyByte, everyByte, &whole);
}

// A lock file in use: another program holds an exclusive lock in it, or holds it open without letting readers in.
bool lockFileInUse(const std::string& path) {
  HANDLE file = openBeside(win32::wideName(lockFileName(path, false)));
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  const bool free = lockShared(file);
  if (free) unlockShared(file);
  CloseHandle(file);
  return !free;
}

}  // namespace

std::string lockFileName(const std::string& path, bool upperCase) {
  const size_t separator = path.find_last_of("/\\:");
  const size_t dot = path.find_last_of('.');
  const bool extension = dot != std::string::npos && (separator == std::string::npos || dot > separator);
  return (extension ? path.substr(0, dot) : path) + (upperCase ? ".LDB" : ".ldb");
}

std::unique_ptr<SourceLock> SourceLock::acquire(const std::string& path) {
  HANDLE file = openBeside(win32::wideName(path));
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) fail(ErrorCode::FileNotFound, path + ": could not find file");
    // Opened by another program that lets nobody read beside it: an exclusive session.
    if (why == ERROR_SHARING_VIOLATION) {
      fail(ErrorCode::OpenedExclusively, path + ": the database is opened exclusively by another user");
    }
    fail(ErrorCode::CannotOpen, path + ": " + win32::describe(why));
  }
  // The run-time's descriptor owns the handle from here on, so that the lock is one descriptor, as elsewhere.
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY);
  if (descriptor < 0) {
    CloseHandle(file);
    fail(ErrorCode::OutOfMemory, path + ": no descriptor left for the file");
  }
  std::unique_ptr<SourceLock> lock(new SourceLock(descriptor));
  if (lockFileInUse(path)) {
    fail(ErrorCode::InUse, path + ": the database is in use by another user (its lock file is locked)");
  }
  if (!lockShared(file)) {
    fail(ErrorCode::OpenedExclusively, path + ": the database is opened exclusively by another user");
  }
  return lock;
}

// Closing the handle releases the lock.
SourceLock::~SourceLock() { _close(fd_); }

}  // namespace jet
