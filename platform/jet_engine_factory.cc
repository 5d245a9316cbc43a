// The engine factory of the shipped utility on POSIX systems: the project's own Jet engine.

#include "platform/jet_database_engine.h"

namespace platform {

std::unique_ptr<DatabaseEngine> createDatabaseEngine(FileSystem& files) { return createJetDatabaseEngine(files); }

}  // namespace platform
