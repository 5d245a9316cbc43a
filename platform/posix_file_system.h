#pragma once
// The file system of a POSIX system, with the Windows name semantics the utility relies on.

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
};

// True when another process (or another open file description) holds a byte-range lock on
// any part of the file, as database engines take while a database is open.
bool fileIsLockedByOthers(const std::filesystem::path& file);

}  // namespace platform
