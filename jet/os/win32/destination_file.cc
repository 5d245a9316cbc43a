// Writing a compaction's destination on Windows.

#include <windows.h>

#include <algorithm>

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
  // Created exclusively; readers may look at it (the verification reads it back once it is written), and removing
  // it must stay possible while it is open.
  HANDLE file = CreateFileW(wideName(path).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    const std::string because = path + ": cannot create the destination (" + describe(why) + ")";
    switch (why) {
      case ERROR_FILE_EXISTS:
      case ERROR_ALREADY_EXISTS:
        fail(ErrorCode::DatabaseExists, path + ": database already exists");
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
      case ERROR_BAD_PATHNAME:
      case ERROR_FILENAME_EXCED_RANGE:
      case ERROR_INVALID_DRIVE:
        fail(ErrorCode::InvalidPath, because);
      case ERROR_DISK_FULL:
      case ERROR_HANDLE_DISK_FULL:
        fail(ErrorCode::DiskFull, because);
      default:
        fail(ErrorCode::CannotOpen, because);
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

}  // namespace jet::win32
