// Reading a database file on Windows.

#include <windows.h>

#include <algorithm>

#include "jet/os/win32/wide_name.h"
#include "jet/os/win32/win32_env.h"

namespace jet::win32 {
namespace {

class Win32FileSource : public PageSource {
 public:
  Win32FileSource(std::string path, HANDLE file, uint64_t size) : path_(std::move(path)), file_(file), size_(size) {}
  ~Win32FileSource() override { CloseHandle(file_); }
  Win32FileSource(const Win32FileSource&) = delete;
  Win32FileSource& operator=(const Win32FileSource&) = delete;

  const std::string& name() const override { return path_; }
  uint64_t size() const override { return size_; }

  void read(uint64_t offset, std::span<uint8_t> out) override {
    size_t done = 0;
    while (done < out.size()) {
      const uint64_t at = offset + done;
      OVERLAPPED position{};
      position.Offset = static_cast<DWORD>(at);
      position.OffsetHigh = static_cast<DWORD>(at >> 32);
      const DWORD wanted = static_cast<DWORD>(std::min<size_t>(out.size() - done, size_t{1} << 30));
      DWORD got = 0;
      if (!ReadFile(file_, out.data() + done, wanted, &got, &position)) {
        const DWORD why = GetLastError();
        if (why != ERROR_HANDLE_EOF) {
          fail(ErrorCode::DiskIoRead,
               path_ + ": disk I/O error during read at offset " + std::to_string(at) + " (" + describe(why) + ")");
        }
        got = 0;
      }
      if (got == 0) {
        fail(ErrorCode::DiskIoRead, path_ + ": the file ended at offset " + std::to_string(at) + " while " +
                                        std::to_string(out.size()) + " bytes were being read");
      }
      done += got;
    }
  }

 private:
  std::string path_;
  HANDLE file_;
  uint64_t size_;
};

}  // namespace

std::unique_ptr<PageSource> openSource(const std::string& path) {
  // Other readers may open the file beside us (Jet opening it read-only, another compaction); a writer may not.
  HANDLE file = CreateFileW(wideName(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) {
      throw Error(ErrorCode::FileNotFound, path + ": could not find the file", static_cast<int>(why));
    }
    if (why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION) {
      throw Error(ErrorCode::InUse, path + ": the file is open for writing in another program", static_cast<int>(why));
    }
    throw Error(ErrorCode::CannotOpen, path + ": cannot open the file (" + describe(why) + ")", static_cast<int>(why));
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) {
    const DWORD why = GetLastError();
    CloseHandle(file);
    fail(ErrorCode::CannotOpen, path + ": cannot open the file (" + describe(why) + ")");
  }
  if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    CloseHandle(file);
    fail(ErrorCode::CannotOpen, path + ": cannot open the file (not a regular file)");
  }
  const uint64_t size = (uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
  return std::make_unique<Win32FileSource>(path, file, size);
}

}  // namespace jet::win32
