// The engine factory of the Windows build: the system's own Jet (DAO 3.6) where it is registered, for the collating
// order that only it can compute; the engine the executable is linked with otherwise.

#include "platform/win32/dao_database_engine.h"

namespace platform {

std::unique_ptr<DatabaseEngine> createDatabaseEngine(FileSystem& files) {
  return createAutomationEngine(kDaoProgId, files, createFallbackDatabaseEngine);
}

}  // namespace platform
