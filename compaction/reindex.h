#pragma once
// Backs up one database file, has the engine compact it under a temporary name and puts the
// compacted file in its place. Names are relative to the current folder.

#include <string>

#include "platform/runtime.h"

namespace compaction {

enum class Outcome {
  compacted,         // the database was compacted and replaced
  backupFailed,      // the backup copy failed: nothing was done, nothing was shown
  compactionFailed,  // the compaction or the replacement failed and was reported
};

// Rewrites `dbname` in upper case. Returns after every failure it handles; a failure inside
// its own failure handling (a message box that cannot be shown) goes to the caller.
Outcome reindex(platform::Runtime& runtime, std::u16string& dbname);

}  // namespace compaction
