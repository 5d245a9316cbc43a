// The fall-back of a Windows build without an engine of its own: where DAO cannot be created, creating the engine
// fails as a missing component does.

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/win32/dao_database_engine.h"

namespace platform {

std::unique_ptr<DatabaseEngine> createFallbackDatabaseEngine(FileSystem&) {
  throw RuntimeError(error::kCannotCreateObject);
}

}  // namespace platform
