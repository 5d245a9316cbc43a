// The Env of Windows.
#include <windows.h>

#include <algorithm>

#include "jet/os/unicode.h"
#include "jet/os/win32/wide_name.h"
#include "jet/os/win32/win32_env.h"

namespace jet::win32 {

HANDLE openBeside(const std::string& path) {
  return CreateFileW(wideName(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A lock over every possible offset (engines lock far past the data) that fails at once when it conflicts: a shared
// one conflicts with exclusive locks of other handles only, an exclusive one with every lock.
bool lockedByOthers(HANDLE file, LockProbe kind) {
  OVERLAPPED whole{};
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (kind == LockProbe::any ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (LockFileEx(file, flags, 0, MAXDWORD, MAXDWORD, &whole)) {
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    return false;
  }
  const DWORD why = GetLastError();
  return why == ERROR_LOCK_VIOLATION || why == ERROR_IO_PENDING;
}

namespace {

class Win32Env final : public Env {
 public:
  std::unique_ptr<PageSource> openSource(const std::string& path) override { return win32::openSource(path); }

  std::unique_ptr<FileLock> lockSource(const std::string& path) override { return win32::lockSource(*this, path); }

  std::unique_ptr<PageSink> createDestination(const std::string& path) override {
    return win32::createDestination(path);
  }

  std::unique_ptr<PageSink> createHiddenDestination(const std::string& path) override {
    return win32::createHiddenDestination(path);
  }

  void publishDestination(const std::string& hidden, const std::string& path, bool keepHiddenName) override {
    win32::publishDestination(hidden, path, keepHiddenName);
  }

  void removeLeftovers(const std::string& path, const std::string& source) override {
    win32::removeLeftovers(path, source);
  }

  // A file that another program holds open without letting readers in locks everybody out too.
  bool lockedByOthers(const std::string& path, LockProbe kind) override {
    HANDLE file = openBeside(path);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    const bool locked = win32::lockedByOthers(file, kind);
    CloseHandle(file);
    return locked;
  }

  // NTFS and FAT keep their entries through their own journal or write-through of metadata; flushing a folder's
  // handle needs rights a user does not have, so a folder that can be opened counts as flushed.
  void flushFolder(const std::string& folder) override {
    HANDLE handle = CreateFileW(wideName(folder.empty() ? "." : folder).c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD why = GetLastError();
      throw Error(ErrorCode::FileNotFound, folder + ": cannot open the folder (" + describe(why) + ")",
                  static_cast<int>(why));
    }
    CloseHandle(handle);
  }

  std::vector<std::string> findIgnoringCase(const std::string& folder, const std::string& name) override {
    std::vector<std::string> found;
    std::string pattern = folder.empty() ? "." : folder;
    if (pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW(wideName(pattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    const std::u16string wanted = unicode::upperCase(unicode::fromUtf8(name));
    do {
      const std::string candidate = utf8Name(entry.cFileName);
      if (candidate == "." || candidate == "..") continue;
      if (unicode::upperCase(unicode::fromUtf8(candidate)) == wanted) found.push_back(candidate);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(found.begin(), found.end());
    return found;
  }
};

}  // namespace
}  // namespace jet::win32

namespace jet {

Env& Env::system() {
  static win32::Win32Env env;
  return env;
}

}  // namespace jet
