#pragma once
// The file system of a POSIX system, with the Windows name semantics the utility relies on.

#include <filesystem>
#include <system_error>

#include "platform/file_system.h"

namespace platform {

class PosixFileSystem final : public FileSystem {
 public:
  std::u16string executableFolder() override;
  void changeCurrentFolder(const std::u16string& folder) override;
  void createFolder(const std::u16string& folder) override;
  void copyFile(const std::u16string& source, const std::u16string& destination) override;
  void replaceFile(const std::u16string& replacement, const std::u16string& original) override;
  std::filesystem::path systemPath(const std::u16string& name) override;
  std::u16string fileBehind(const std::u16string& name) override;
};

// True when another process (or another open file description) holds an exclusive byte-range
// lock on any part of the file or of its lock file (the name with the extension .ldb, in any
// case), as Jet takes them while a database is open. Shared locks, a reader's, do not count.
bool fileIsLockedByOthers(const std::filesystem::path& file);

// The running executable's file, as the system names it (symbolic links resolved).
std::filesystem::path executablePath(std::error_code& failure);

}  // namespace platform
