#include "compaction/reindex.h"

#include "compaction/failure_report.h"
#include "compaction/names.h"
#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"
#include "platform/traps.h"

namespace compaction {

Outcome reindex(platform::Runtime& runtime, std::u16string& dbname) {
  platform::FileSystem& files = runtime.fileSystem();
  platform::UserInterface& ui = runtime.userInterface();
  const std::u16string folder(kBackupFolder);

  // Phase 1: the backup folder. It is usually there from an earlier run, so failing to
  // create it is no reason to stop; the copy below fails if it is really missing.
  platform::resumeNext([&] { files.createFolder(folder); });

  // Phase 2: the backup copy. Without it the database is not touched, and nothing is said.
  const bool backedUp = platform::runTrapped(
      [&] {
        dbname = platform::upperCase(dbname);
        if (!backupStaysInFolder(dbname)) throw platform::RuntimeError(platform::error::kBadFileName);
        files.copyFile(dbname, folder + dbname);
      },
      [&](const platform::RuntimeError&) { ui.resetMousePointer(); });
  if (!backedUp) return Outcome::backupFailed;

  // Phase 3: compaction and replacement; failures are reported to the user.
  const bool compacted = platform::runTrapped(
      [&] {
        // A database reached through a symbolic link is compacted where the link points, and the
        // link stays: replacing the link by a regular file would leave the file behind it
        // uncompacted and fork the data.
        const std::u16string database = files.fileBehind(dbname);
        const std::u16string temporary = temporaryName(database);
        runtime.databaseEngine().compactDatabase(database, temporary, std::u16string(kSlovenianLocale));
        files.replaceFile(temporary, database);
      },
      [&](const platform::RuntimeError& failure) {
        ui.resetMousePointer();
        if (const auto message = failureMessage(failure.number())) {
          ui.showMessage(*message, std::u16string(kReportTitle));
        }
        ui.resetMousePointer();
      });
  return compacted ? Outcome::compacted : Outcome::compactionFailed;
}

}  // namespace compaction
