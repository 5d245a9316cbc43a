#pragma once
// The file system of Windows. The system's own name rules (either slash, no case) are the ones the utility relies
// on, so names go to it unchanged, as UTF-16.

#include <filesystem>
#include <string>

#include "platform/file_system.h"

namespace platform {

class Win32FileSystem final : public FileSystem {
 public:
  std::u16string executableFolder() override;
  void changeCurrentFolder(const std::u16string& folder) override;
  void createFolder(const std::u16string& folder) override;
  void copyFile(const std::u16string& source, const std::u16string& destination) override;
  void replaceFile(const std::u16string& replacement, const std::u16string& original) override;
  std::filesystem::path systemPath(const std::u16string& name) override;
  std::u16string fileBehind(const std::u16string& name) override;
};

// True when another handle holds a byte-range lock anywhere in the file (LockFileEx), as database engines take
// while a database is open, or when another program has the file open without letting readers in: the engine's
// probe (jet/os), so that both see the same locks.
bool fileIsLockedByOthers(const std::u16string& file);

}  // namespace platform
