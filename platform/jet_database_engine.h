#pragma once
// The project's own Jet engine (jet/), as the utility calls it.

#include <memory>

#include "platform/database_engine.h"

namespace platform {

// Names are resolved through `files`, which outlives the engine; the engine's numbered errors reach the utility with
// their numbers unchanged.
std::unique_ptr<DatabaseEngine> createJetDatabaseEngine(FileSystem& files);

}  // namespace platform
