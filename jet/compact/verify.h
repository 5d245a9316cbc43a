// Proof of a compaction: the destination, read back, holds the same tables as the source, with the same rows byte for
// byte in the same order (long-value definitions and table Ids compared by what they mean), the same long values, and
// the same index entries apart from row pointers, which must point at the same rows.
//
// The source is read once. While copying, the compactor records digests of what each table must read back as: for
// every row its bytes (table Ids already renumbered, the definitions of long values stored outside the row left out)
// and the bytes of those long values, and for every index its entries in order. The read-back is the integrity check
// of the destination: it decodes every row, long value and index entry from the bytes in the file and hands them to a
// CheckObserver, which computes the same digests and compares them, so that each page of the destination is read and
// decoded once for both the check and the comparison. Where the destination can be read while it is written, the
// read-back follows the writer (CheckWhileWriting): the comparison then sees a table's rows before the copy's records
// of them are complete, so it keeps the digests of the blocks of rows it reads and compares them at the end of the table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/check/integrity_check.h"
#include "jet/compact/digest.h"
#include "jet/compact/plan.h"
#include "jet/format/bytes.h"
#include "jet/format/row_layout.h"
#include "jet/format/table_def.h"

namespace jet {

// A value stored outside its row, as it enters the digest of its row.
void addLongValueDigest(Digest& values, size_t column, Bytes value);
// A row's digest: its bytes with the definitions of long values stored outside the row left out, then `values`
// (the digest of those long values, in column order).
uint64_t rowDigest(const TableDef& def, Bytes row, const RowLayout& layout, uint64_t values);
// An index entry (key, then row pointer) as it enters its index's digest.
void addIndexEntryDigest(Digest& entries, Bytes entry);

// The rows of a table in copy order, counted, with a digest of every block of kRowsPerBlock rows' digests: where the
// read-back differs, the blocks name the rows among which it does, at 4 bytes for 64 rows (a log of narrow rows has
// tens of millions of rows in a gigabyte; one word a row would be most of the memory a compaction takes).
class RowBlocks {
 public:
  static constexpr uint64_t kRowsPerBlock = 64;
  void add(uint64_t rowDigest) {
    block_.addNumber(rowDigest);
    if (++rows_ % kRowsPerBlock == 0) {
      blocks_.push_back(static_cast<uint32_t>(block_.value()));
      block_ = Digest{};
    }
  }
  // The digest of every block, the last one (when it is not full) included.
  std::vector<uint32_t> blocks() const {
    std::vector<uint32_t> all = blocks_;
    if (rows_ % kRowsPerBlock != 0) all.push_back(static_cast<uint32_t>(block_.value()));
    return all;
  }
  uint64_t rows() const { return rows_; }
  void reserve(uint64_t rows) { blocks_.reserve(static_cast<size_t>(rows / kRowsPerBlock)); }

 private:
  Digest block_;
  std::vector<uint32_t> blocks_;  // full blocks
  uint64_t rows_ = 0;
};

// What the copy wrote for one table.
struct TableRecord {
  RowBlocks rows;
  uint64_t rowsDigest = 0;  // every row's full digest and new place, in copy order
  struct Index {
    uint64_t entries = 0;
    uint64_t distinctKeys = 0;
    uint64_t digest = 0;
  };
  std::vector<Index> indexes;  // per real index
};

// Compares what the integrity check reads with the records of the copy (`records[i]` belongs to `plan.tables[i]`).
// It never throws from the check's calls: the first difference is kept, and finish() reports it.
class CompactionComparison : public CheckObserver {
 public:
  CompactionComparison(const Format& format, const CompactPlan& plan, const std::vector<TableRecord>& records);
  ~CompactionComparison() override;

  void definition(const std::string& name, const TableDef& def) override;
  void beginTable(const std::string& name, const TableDef& def) override;
  void beginRow() override;
  void longValuePart(size_t column, Bytes part) override;
  void row(RowPointer home, Bytes bytes, const RowLayout& layout) override;
  void indexEntry(uint32_t index, Bytes entry) override;
  void endIndex(uint32_t index, uint64_t distinctKeys) override;
  void endTable() override;

  // Throws Corrupt (3049) naming the table, and the row or index, at the first difference; also when a table of the
  // source was never read back.
  void finish();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace jet
