// The project's own Jet engine (jet/compact/compact.h) behind the utility's engine interface. Names are resolved
// through the utility's file system, so the engine sees the same files as every other operation of the run, and the
// engine's numbered errors reach the utility with their numbers unchanged.

#include <exception>
#include <new>

#include "jet/compact/compact.h"
#include "platform/jet_database_engine.h"
#include "platform/error_numbers.h"
#include "platform/file_system.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace platform {
namespace {

// The engine's numbers reach the utility unchanged, so the utility's names for them must be the engine's.
static_assert(kDatabaseOpenedExclusively == static_cast<std::int32_t>(jet::ErrorCode::OpenedExclusively));
static_assert(kDatabaseInUse == static_cast<std::int32_t>(jet::ErrorCode::InUse));

// The engine's names are bytes: on POSIX systems the system's own, on Windows UTF-8 (its names are UTF-16).
std::string enginePath(const std::filesystem::path& path) {
#ifdef _WIN32
  return toUtf8(path.u16string());
#else
  return path.string();
#endif
}

class JetDatabaseEngine final : public DatabaseEngine {
 public:
  explicit JetDatabaseEngine(FileSystem& files) : files_(files) {}

  void compactDatabase(const std::u16string& source, const std::u16string& destination,
                       const std::u16string& locale) override {
    const std::string from = enginePath(files_.systemPath(source));
    const std::string to = enginePath(files_.systemPath(destination));
    try {
      // The file system's replacement removes the hidden name once the file is in the database's place; until then
      // a run interrupted in between can tell the temporary file from somebody else's.
      jet::CompactOptions options;
      options.keepHiddenName = true;
      jet::compactDatabase(from, to, toUtf8(locale), options);
    } catch (const jet::Error& e) {
      throw RuntimeError(e.number(), e.what());
    } catch (const std::bad_alloc&) {
      throw RuntimeError(error::kOutOfMemory);
    } catch (const std::exception& e) {
      // Anything else would be a fault of the engine itself: still a numbered failure, never an abort of the run.
      throw RuntimeError(error::kInternalError, e.what());
    }
  }

 private:
  FileSystem& files_;
};

}  // namespace

std::unique_ptr<DatabaseEngine> createJetDatabaseEngine(FileSystem& files) {
  return std::make_unique<JetDatabaseEngine>(files);
}

}  // namespace platform
