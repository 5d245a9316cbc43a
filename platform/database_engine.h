#pragma once
// The database engine, as the utility calls it.

#include <memory>
#include <string>

namespace platform {

class FileSystem;

class DatabaseEngine {
 public:
  virtual ~DatabaseEngine() = default;

  // Writes a compacted copy of the database `source` to the new file `destination`, with the
  // collating order that `locale` names (e.g. ";LANGID=0x0424;CP=1250;COUNTRY=0"). On success
  // the source is unchanged; on failure it throws RuntimeError with the engine's number; when
  // the destination exists it fails and leaves both files as they were.
  virtual void compactDatabase(const std::u16string& source, const std::u16string& destination,
                               const std::u16string& locale) = 0;
};

// Creates the engine that the executable is linked with; throws RuntimeError (429 when no
// engine can be created). Names handed to the engine are resolved through `files`, which
// outlives the engine. Each executable links exactly one definition of this function.
std::unique_ptr<DatabaseEngine> createDatabaseEngine(FileSystem& files);

}  // namespace platform
