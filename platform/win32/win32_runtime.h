#pragma once
// The run-time of the utility on Windows.

#include <memory>
#include <string>

#include "platform/runtime.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_user_interface.h"

namespace platform {

class Win32Runtime final : public Runtime {
 public:
  Win32Runtime();
  ~Win32Runtime() override;

  // The process's command line as the system gives it, less the program's own name.
  std::u16string commandLine() override;
  FileSystem& fileSystem() override { return fileSystem_; }
  UserInterface& userInterface() override { return userInterface_; }
  DatabaseEngine& databaseEngine() override;

 private:
  Win32FileSystem fileSystem_;
  Win32UserInterface userInterface_;
  std::unique_ptr<DatabaseEngine> engine_;  // last: it refers to the file system
};

}  // namespace platform
