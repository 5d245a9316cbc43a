// Compaction: writes a fresh copy of a database that holds only what is reachable from its catalog, packed.
//
// The source is opened read-only and held with a shared lock; it is never written. The destination must not exist.
// It is written under a hidden name of its own beside it (see PartialOutput), read back once, checked and compared
// with what the copy recorded of the source, which is read once (see jet/compact/verify.h; any difference is
// reported as damage, 3049), flushed, and only then given the destination's name; any failure
// removes the hidden file again, and what interrupted runs left is removed before a run starts, so no partial file
// ever stands under the destination's name and none stays behind.
//
// What the destination keeps from the source: version, page size, header page (password, encoding key, sort order,
// code page), every table with its rows in the same order, long values, index keys, and all definition bytes whose
// meaning is unknown. What it changes: page numbers (tables are renumbered densely, table Ids with them), row and key
// counts (counted afresh), usage maps and the free-page map (rebuilt), and the per-page encryption (each page is
// encrypted for its new number when the database has an encoding key).
//
// Collating order: the requested locale is parsed and checked, but the destination keeps the source's sort order
// and code page. Text index keys for another order cannot be computed from public knowledge of the format, and keys
// that Jet would compute differently would make lookups silently wrong.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "jet/errors.h"
#include "jet/os/env.h"

namespace jet {

struct CompactOptions {
  // Called before each table is copied (name, position from 0, number of tables).
  std::function<void(const std::string& table, size_t position, size_t count)> progress;
  // The door to the operating system: reads, locks and writes go through it (tests hand in one that fails on
  // demand). Env::system() when null.
  Env* env = nullptr;
  // Leave the hidden name the destination was written under as a second name of it (see Env::publishDestination),
  // for a caller that moves the destination on and removes the hidden name then.
  bool keepHiddenName = false;
  // Read the destination back and compare it with the source (always on outside tests of the comparison itself).
  bool verify = true;
  size_t cachePages = 256;
};

struct CompactReport {
  uint32_t sourcePages = 0;
  uint32_t destinationPages = 0;
  size_t tables = 0;
  uint64_t rows = 0;
  uint64_t longValues = 0;
  uint64_t indexEntries = 0;
  uint64_t droppedRows = 0;         // rows of permission or navigation tables naming tables that no longer exist
  uint64_t leftBehindRows = 0;      // rows on pages no table's map lists any more, which no table counts
  uint16_t requestedSortOrder = 0;  // 0 when the locale named none
  uint16_t sortOrder = 0;           // the one the destination has (the source's)
};

// Compacts source into destination. Throws jet::Error: 3001 (malformed locale), 3024 (no source), 3051, 3040,
// 3343 (not a Jet 3/4 database), 3049 (damaged source, or a destination that does not read back the same),
// 3196 / 3356 (source in use), 3204 (destination exists), 3044 (destination folder missing), 3026 (disk full),
// 3043 (write error).
CompactReport compactDatabase(const std::string& source, const std::string& destination, const std::string& locale,
                              const CompactOptions& options = {});

}  // namespace jet
