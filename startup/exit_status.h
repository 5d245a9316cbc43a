#pragma once
// The process's exit status for each way a run can end.

#include <optional>

#include "compaction/reindex.h"

namespace startup {

enum ExitStatus : int {
  exitCompactedOrNothingToDo = 0,  // compacted, or the argument was empty
  exitUntrappedFailure = 1,        // a failure nothing handled; the run-time reported it
  exitBackupFailed = 2,            // the backup copy failed; nothing was done
  exitCompactionFailed = 3,        // the compaction or the replacement failed (a report was due)
};

ExitStatus exitStatusFor(std::optional<compaction::Outcome> outcome);

}  // namespace startup
