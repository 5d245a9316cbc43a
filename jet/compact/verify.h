// Proof of a compaction: the destination, read back with the reader, holds the same tables as the source, with the
// same rows byte for byte in the same order (long-value definitions and table Ids compared by what they mean), the
// same long values, and the same index entries apart from row pointers, which must point at the same rows.
#pragma once

#include "jet/compact/plan.h"
#include "jet/pager/page_reader.h"

namespace jet {

struct VerifyReport {
  uint64_t rows = 0;
  uint64_t indexEntries = 0;
};

// Throws Corrupt (3049) naming the table, and the row or index, at the first difference.
VerifyReport verifyCompaction(PageReader& source, PageReader& destination, const CompactPlan& plan);

}  // namespace jet
