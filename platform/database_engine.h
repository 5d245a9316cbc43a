#pragma once
// The database engine, as the utility calls it.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/error_numbers.h"

namespace platform {

// The engine's numbers for a database that another user or process has open: opened
// exclusively, or in use by a shared session.
inline constexpr std::int32_t kDatabaseOpenedExclusively = 3356;
inline constexpr std::int32_t kDatabaseInUse = 3196;

// True when a failure numbered `number` means that somebody else has the database open: one of
// the engine's two numbers, or the run-time's access error (75) that FileSystem::replaceFile
// raises when another process holds a lock on the database.
inline bool databaseInUse(std::int32_t number) {
  return number == kDatabaseOpenedExclusively || number == kDatabaseInUse || number == error::kPathFileAccessError;
}

class FileSystem;

class DatabaseEngine {
 public:
  virtual ~DatabaseEngine() = default;

  // Writes a compacted copy of the database `source` to the new file `destination`, with the
  // collating order that `locale` names (e.g. ";LANGID=0x0424;CP=1250;COUNTRY=0"). On success
  // the source is unchanged; on failure it throws RuntimeError with the engine's number and
  // leaves no destination behind; when the destination exists it fails and leaves both files
  // as they were. The numbers: 3001 malformed locale, 3024 no source, 3026 disk full,
  // 3040 read error, 3043 write error, 3044 destination folder missing, 3049 damaged source
  // (or a copy that does not read back the same), 3051 source cannot be opened, 3204
  // destination exists, 3343 not a Jet 3 / Jet 4 database, 3356 and 3196 source in use (see
  // databaseInUse below); 7 out of memory, 51 a fault of the engine.
  virtual void compactDatabase(const std::u16string& source, const std::u16string& destination,
                               const std::u16string& locale) = 0;
};

// Creates the engine that the executable is linked with; throws RuntimeError (429 when no
// engine can be created). Names handed to the engine are resolved through `files`, which
// outlives the engine. Each executable links exactly one definition of this function.
std::unique_ptr<DatabaseEngine> createDatabaseEngine(FileSystem& files);

}  // namespace platform
