#pragma once
// The run-time of the utility on a POSIX system.

#include <memory>
#include <string>

#include "platform/posix_file_system.h"
#include "platform/runtime.h"

namespace platform {

class PosixRuntime final : public Runtime {
 public:
  // The command line is argv[1..] joined by single spaces, as the one argument string the
  // utility reads. The user interface is Qt's when a display is available, the console's
  // otherwise.
  PosixRuntime(int argc, const char* const* argv);
  PosixRuntime(std::u16string commandLine, std::unique_ptr<UserInterface> userInterface);
  ~PosixRuntime() override;

  std::u16string commandLine() override { return commandLine_; }
  FileSystem& fileSystem() override { return fileSystem_; }
  UserInterface& userInterface() override { return *userInterface_; }
  DatabaseEngine& databaseEngine() override;

 private:
  std::u16string commandLine_;
  PosixFileSystem fileSystem_;
  std::unique_ptr<UserInterface> userInterface_;
  std::unique_ptr<DatabaseEngine> engine_;  // last: it refers to the file system
};

// argv[1..] joined by single spaces.
std::u16string joinArguments(int argc, const char* const* argv);

}  // namespace platform
