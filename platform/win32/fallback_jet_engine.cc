// The fall-back of the shipped Windows build: where DAO cannot be created (not registered, as under Wine, or on
// 64-bit Windows, which has no 64-bit DAO), the project's own engine compacts, keeping the source's sort order.

#include "platform/jet_database_engine.h"
#include "platform/win32/dao_database_engine.h"

namespace platform {

std::unique_ptr<DatabaseEngine> createFallbackDatabaseEngine(FileSystem& files) {
  return createJetDatabaseEngine(files);
}

}  // namespace platform
