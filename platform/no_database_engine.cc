// The engine factory of an executable built without a database engine: creating the engine
// fails as a missing component does, and the utility reports that number.

#include "platform/database_engine.h"
#include "platform/error_numbers.h"
#include "platform/runtime_error.h"

namespace platform {

std::unique_ptr<DatabaseEngine> createDatabaseEngine(FileSystem&) { throw RuntimeError(error::kCannotCreateObject); }

}  // namespace platform
