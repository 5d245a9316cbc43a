// Keeping other users away from a database while it is compacted, on Windows: Jet's own byte-range locks
// (LockFileEx) on the database and on its lock file are what show that a database is open.
#include <windows.h>

#include "jet/os/win32/wide_name.h"
#include "jet/os/win32/win32_env.h"

namespace jet::win32 {
namespace {

// Holds the source open with a shared lock on every byte; closing the handle releases it.
class Win32SourceLock : public FileLock {
 public:
  explicit Win32SourceLock(HANDLE file) : file_(file) {}
  ~Win32SourceLock() override { CloseHandle(file_); }
  Win32SourceLock(const Win32SourceLock&) = delete;
  Win32SourceLock& operator=(const Win32SourceLock&) = delete;

 private:
  HANDLE file_;
};

// A shared lock over the whole file conflicts only with exclusive locks (Jet's are) that other handles hold anywhere
// in it, and keeps new ones out for as long as it is held. Other compactions' shared locks do not conflict.
bool takeSharedLock(HANDLE file) {
  OVERLAPPED whole{};
  return LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole) != FALSE;
}

bool lockFileInUse(Env& env, const std::string& path) {
  const std::string wanted = lockFileName(path, false);
  const size_t separator = wanted.find_last_of("/\\");
  const std::string folder = separator == std::string::npos ? "." : wanted.substr(0, separator + 1);
  const std::string name = separator == std::string::npos ? wanted : wanted.substr(separator + 1);
  for (const std::string& entry : env.findIgnoringCase(folder, name)) {
    const std::string candidate = separator == std::string::npos ? entry : folder + entry;
    if (env.lockedByOthers(candidate, LockProbe::exclusive)) return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<FileLock> lockSource(Env& env, const std::string& path) {
  HANDLE file = openBeside(path);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) {
      throw Error(ErrorCode::FileNotFound, path + ": could not find file", static_cast<int>(why));
    }
    // Opened by another program that lets nobody read beside it: an exclusive session.
    if (why == ERROR_SHARING_VIOLATION) {
      throw Error(ErrorCode::OpenedExclusively, path + ": the database is opened exclusively by another user",
                  static_cast<int>(why));
    }
    throw Error(ErrorCode::CannotOpen, path + ": " + describe(why), static_cast<int>(why));
  }
  auto lock = std::make_unique<Win32SourceLock>(file);
  if (lockFileInUse(env, path)) {
    fail(ErrorCode::InUse, path + ": the database is in use by another user (its lock file is locked)");
  }
  if (lockedByOthers(file, LockProbe::exclusive)) {
    fail(ErrorCode::OpenedExclusively, path + ": the database is opened exclusively by another user");
  }
  if (!takeSharedLock(file)) fail(ErrorCode::InUse, path + ": the database is in use by another user");
  return lock;
}

}  // namespace jet::win32
