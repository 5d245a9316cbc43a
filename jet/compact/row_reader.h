// The reading half of a table's copy, run ahead on a thread of its own: the source's rows located and split into
// their fields, table Ids renumbered and long values read, while the caller lays out what was read before. Reading a
// bloated table's rows and scattered long values takes about as long as placing them, so the copy of a large table
// takes about half as long on two cores.
//
// The caller sees the rows in the order of a sequential scan, and an error where the sequential scan would have met
// it: rows read before the error are handed over first. Rows travel in chunks of a bounded size, so the memory in
// flight stays a few megabytes (plus any single long value larger than that). Where no thread can be started, rows
// are read as they are asked for.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/row_layout.h"

namespace jet {

// One row as the reading side hands it over. Its vectors keep their capacity from row to row.
struct ScannedRow {
  RowPointer home;
  std::vector<uint8_t> bytes;  // table Ids already renumbered
  RowLayout layout;
  bool keep = true;            // false: the row names a table the copy leaves out
  // The long values stored outside the row, in column order: (column index, bytes). Only the first `valueCount`
  // entries belong to this row.
  std::vector<std::pair<size_t, std::vector<uint8_t>>> values;
  size_t valueCount = 0;

  std::vector<uint8_t>& nextValue(size_t column) {
    if (valueCount == values.size()) values.emplace_back();
    auto& v = values[valueCount++];
    v.first = column;
    v.second.clear();
    return v.second;
  }
};

class RowReader {
 public:
  // `read` fills the row it is given and returns false at the end of the table; it may throw. It is called on the
  // reader's thread, one row after the other.
  using Read = std::function<bool(ScannedRow&)>;
  explicit RowReader(Read read);
  ~RowReader();
  RowReader(const RowReader&) = delete;
  RowReader& operator=(const RowReader&) = delete;

  // The next row (the caller may change it), valid until the next call; nullptr at the end. Rethrows what `read` threw, in its place.
  ScannedRow* next();

 private:
  struct Chunk {
    std::vector<ScannedRow> rows;
    size_t count = 0;
    bool last = false;
    std::exception_ptr error;
  };
  static constexpr size_t kChunks = 3;
  static constexpr size_t kRowsPerChunk = 64;
  static constexpr size_t kBytesPerChunk = size_t{256} << 10;

  void run();
  void fill(Chunk& chunk);

  Read read_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> free_;
  std::deque<Chunk> full_;
  bool stop_ = false;
  Chunk current_;
  size_t at_ = 0;
  bool haveCurrent_ = false;
  bool finished_ = false;
  ScannedRow single_;  // without a thread
};

}  // namespace jet
