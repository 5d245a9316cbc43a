#pragma once
// Everything outside the utility's own logic, reached through one object: the process's
// command line, the file system, the user interface and the database engine. Each system has
// its own implementation (posix_runtime.h); tests use platform/testing/fake_runtime.h.

#include <string>

#include "platform/database_engine.h"
#include "platform/file_system.h"
#include "platform/user_interface.h"

namespace platform {

class Runtime {
 public:
  virtual ~Runtime() = default;

  // Everything after the program's own name, as one string; empty when there is none.
  virtual std::u16string commandLine() = 0;
  virtual FileSystem& fileSystem() = 0;
  virtual UserInterface& userInterface() = 0;
  // Created on first use and kept for the life of the process; throws RuntimeError when the
  // engine cannot be created (and tries again on the next call).
  virtual DatabaseEngine& databaseEngine() = 0;
};

}  // namespace platform
