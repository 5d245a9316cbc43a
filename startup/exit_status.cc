#include "startup/exit_status.h"

namespace startup {

ExitStatus exitStatusFor(std::optional<compaction::Outcome> outcome) {
  if (!outcome) return exitCompactedOrNothingToDo;
  switch (*outcome) {
    case compaction::Outcome::compacted: return exitCompactedOrNothingToDo;
    case compaction::Outcome::backupFailed: return exitBackupFailed;
    case compaction::Outcome::compactionFailed: return exitCompactionFailed;
  }
  return exitUntrappedFailure;
}

}  // namespace startup
