// Writing a compaction's destination on Windows.

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "jet/os/unicode.h"
#include "jet/os/win32/wide_name.h"
#include "jet/os/win32/win32_env.h"

namespace jet::win32 {
namespace {

ErrorCode writeErrorForSystem(DWORD code) {
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ? ErrorCode::DiskFull : ErrorCode::DiskIoWrite;
}

// Marks the file of an open handle for deletion; it goes when the handle closes. Exactly that file, whatever the
// path names meanwhile.
void deleteOnClose(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// Writes go straight to the file at their offsets: Windows collects them in its cache and the final flush writes
// them out.
class Win32Destination : public PageSink {
 public:
  Win32Destination(std::string path, HANDLE file, const BY_HANDLE_FILE_INFORMATION& identity)
      : path_(std::move(path)),
        file_(file),
        volume_(identity.dwVolumeSerialNumber),
        index_((uint64_t{identity.nFileIndexHigh} << 32) | identity.nFileIndexLow) {}
  ~Win32Destination() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  Win32Destination(const Win32Destination&) = delete;
  Win32Destination& operator=(const Win32Destination&) = delete;

  const std::string& name() const override { return path_; }

  void write(uint64_t offset, Bytes data) override {
    if (file_ == INVALID_HANDLE_VALUE) fail(ErrorCode::DiskIoWrite, path_ + ": write after the file was closed");
    size_t done = 0;
    while (done < data.size()) {
      const uint64_t at = offset + done;
      OVERLAPPED position{};
      position.Offset = static_cast<DWORD>(at);
      position.OffsetHigh = static_cast<DWORD>(at >> 32);
      const DWORD wanted = static_cast<DWORD>(std::min<size_t>(data.size() - done, size_t{1} << 30));
      DWORD put = 0;
      if (!WriteFile(file_, data.data() + done, wanted, &put, &position)) failed("write", GetLastError());
      if (put == 0) failed("write", ERROR_DISK_FULL);
      done += put;
    }
  }

  // Writes go straight to the file; readers open it with a share mode that excludes writers, so it is closed first.
  bool writeOut() override { return false; }

  void finish() override {
    if (file_ == INVALID_HANDLE_VALUE) return;
    if (!FlushFileBuffers(file_)) failed("flush", GetLastError());
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) failed("close", GetLastError());
  }

  void discard() noexcept override {
    if (file_ != INVALID_HANDLE_VALUE) {
      deleteOnClose(file_);
      CloseHandle(file_);
      file_ = INVALID_HANDLE_VALUE;
      return;
    }
    // Closed already: the path is opened again and its file removed only if it is still the one created here.
    HANDLE file = CreateFileW(wideName(path_).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION identity{};
    if (GetFileInformationByHandle(file, &identity) && identity.dwVolumeSerialNumber == volume_ &&
        ((uint64_t{identity.nFileIndexHigh} << 32) | identity.nFileIndexLow) == index_) {
      deleteOnClose(file);
    }
    CloseHandle(file);
  }

 private:
  [[noreturn]] void failed(const char* what, DWORD code) {
    throw Error(writeErrorForSystem(code), path_ + ": " + what + " failed (" + describe(code) + ")",
                static_cast<int>(code));
  }

  std::string path_;
  HANDLE file_;
  DWORD volume_;
  uint64_t index_;
};

}  // namespace

std::unique_ptr<PageSink> createDestination(const std::string& path) {
  // Created exclusively; readers may look at it (the verification reads it back once it is written).
  // Not shared for removal: while it is written, another run's removal of leftovers cannot take it.
  HANDLE file = CreateFileW(wideName(path).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    const std::string because = path + ": cannot create the destination (" + describe(why) + ")";
    switch (why) {
      case ERROR_FILE_EXISTS:
      case ERROR_ALREADY_EXISTS: fail(ErrorCode::DatabaseExists, path + ": database already exists");
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
      case ERROR_BAD_PATHNAME:
      case ERROR_FILENAME_EXCED_RANGE:
      case ERROR_INVALID_DRIVE: fail(ErrorCode::InvalidPath, because);
      case ERROR_DISK_FULL:
      case ERROR_HANDLE_DISK_FULL: fail(ErrorCode::DiskFull, because);
      default: fail(ErrorCode::CannotOpen, because);
    }
  }
  BY_HANDLE_FILE_INFORMATION identity{};
  if (!GetFileInformationByHandle(file, &identity)) {
    const DWORD why = GetLastError();
    deleteOnClose(file);
    CloseHandle(file);
    fail(ErrorCode::DiskIoWrite, path + ": " + describe(why));
  }
  return std::make_unique<Win32Destination>(path, file, identity);
}

namespace {

// The folder part of a path (with its separator) and the leaf.
std::pair<std::string, std::string> splitPath(const std::string& path) {
  const size_t separator = path.find_last_of("/\\:");
  if (separator == std::string::npos) return {"", path};
  return {path.substr(0, separator + 1), path.substr(separator + 1)};
}

bool exists(const std::string& path) { return GetFileAttributesW(wideName(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Identity {
  DWORD volume = 0;
  uint64_t index = 0;
  friend bool operator==(const Identity&, const Identity&) = default;
};

bool identityOf(HANDLE file, Identity& identity) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return false;
  identity = {information.dwVolumeSerialNumber,
              (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
  return true;
}

}  // namespace

std::unique_ptr<PageSink> createHiddenDestination(const std::string& path) {
  if (exists(path)) fail(ErrorCode::DatabaseExists, path + ": database already exists");
  const auto [folder, leaf] = splitPath(path);
  const std::string prefix = folder + partialNamePrefix(folder, leaf);
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t seed = GetTickCount64() ^ (uint64_t{GetCurrentProcessId()} << 32);
  for (int attempt = 0;; ++attempt) {
    std::string name = prefix;
    for (size_t i = 0; i < kPartialNameUniqueLength; ++i) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      name += kLetters[(seed >> 33) % (sizeof kLetters - 1)];
    }
    try {
      return createDestination(name);
    } catch (const Error& e) {
      if (e.code() != ErrorCode::DatabaseExists || attempt >= 100) throw;
    }
  }
}

// A second name by a hard link, so that the hidden name can stay; where the file system has none, a rename that
// replaces nothing.
void publishDestination(const std::string& hidden, const std::string& path, bool keepHiddenName) {
  const std::wstring from = wideName(hidden);
  const std::wstring to = wideName(path);
  if (CreateHardLinkW(to.c_str(), from.c_str(), nullptr)) {
    if (!keepHiddenName) DeleteFileW(from.c_str());
    return;
  }
  DWORD why = GetLastError();
  if (why != ERROR_ALREADY_EXISTS && why != ERROR_FILE_EXISTS) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return;
    why = GetLastError();
  }
  if (why == ERROR_ALREADY_EXISTS || why == ERROR_FILE_EXISTS) {
    throw Error(ErrorCode::DatabaseExists, path + ": database already exists", static_cast<int>(why));
  }
  throw Error(writeErrorForSystem(why), path + ": the compacted file could not take its name (" + describe(why) + ")",
              static_cast<int>(why));
}

// A hidden file that a running compaction writes is open without sharing its removal: opening it for removal fails,
// and it stays.
void removeLeftovers(const std::string& path, const std::string& source) {
  const auto [folder, leaf] = splitPath(path);
  const std::string prefix = partialNamePrefix(folder, leaf);
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileW(wideName(folder + prefix + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> found;
  do {
    found.push_back(folder + utf8Name(entry.cFileName));
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  for (const std::string& leftover : found) {
    HANDLE file = CreateFileW(wideName(leftover).c_str(), GENERIC_READ | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    Identity hiddenIdentity;
    if (path != source && identityOf(file, hiddenIdentity)) {
      HANDLE named = CreateFileW(wideName(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
      Identity namedIdentity;
      if (named != INVALID_HANDLE_VALUE) {
        if (identityOf(named, namedIdentity) && namedIdentity == hiddenIdentity) deleteOnClose(named);
        CloseHandle(named);
      }
    }
    deleteOnClose(file);
    CloseHandle(file);
  }
}

}  // namespace jet::win32

namespace jet {

// Windows names hold up to 255 UTF-16 units; a UTF-8 name of that many bytes is never longer.
size_t longestName(const std::string& /*folder*/) { return 255; }

}  // namespace jet
