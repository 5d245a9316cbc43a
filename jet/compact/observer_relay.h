// Hands what the integrity check reads to another observer on a thread of its own. The read-back of a compaction
// decodes every page (the check) and digests every row, long value and index entry to compare them with the copy's
// records (the comparison); the two take about as long as each other, so on two cores they overlap.
//
// The calls reach the target in the order they were made, with copies of their bytes, in chunks of a few hundred
// kilobytes (handing a chunk over wakes a thread, which costs tens of microseconds on a virtual machine, so chunks
// must be large); three chunks take turns, so the memory in flight stays about a megabyte. Where no thread can be started,
// calls go straight through.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jet/check/integrity_check.h"

namespace jet {

class ObserverRelay : public CheckObserver {
 public:
  explicit ObserverRelay(CheckObserver& target);
  ~ObserverRelay() override;
  ObserverRelay(const ObserverRelay&) = delete;
  ObserverRelay& operator=(const ObserverRelay&) = delete;

  // Returns once every call made so far has reached the target.
  void finish();

  void beginTable(const std::string& name, const TableDef& def) override;
  void beginRow() override;
  void longValuePart(size_t column, Bytes part) override;
  void row(RowPointer home, Bytes bytes, const RowLayout& layout) override;
  void indexEntry(uint32_t index, Bytes entry) override;
  void endIndex(uint32_t index, uint64_t distinctKeys) override;
  void endTable() override;

 private:
  enum class Kind : uint8_t { BeginTable, BeginRow, LongValuePart, Row, Entry, EndIndex, EndTable };
  struct Call {
    Kind kind = Kind::BeginRow;
    uint64_t number = 0;  // column, index or key count
    uint32_t index = 0;
    RowPointer home;
    size_t at = 0;  // the call's bytes in the chunk's arena
    size_t length = 0;
    RowLayout layout;
    std::string name;
    std::unique_ptr<TableDef> def;
  };
  struct Chunk {
    std::vector<Call> calls;
    size_t count = 0;
    std::vector<uint8_t> arena;  // the bytes of every call, one after the other
  };
  static constexpr size_t kChunks = 3;
  static constexpr size_t kCallsPerChunk = 4096;
  static constexpr size_t kBytesPerChunk = size_t{256} << 10;

  Call& push(Kind kind, Bytes bytes = {});
  void handOver();
  void deliver(const Chunk& chunk, Call& call);
  void run();

  CheckObserver& target_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> free_;
  std::deque<Chunk> full_;
  bool stop_ = false;
  bool busy_ = false;  // the worker is delivering a chunk
  Chunk current_;
  bool threaded_ = false;
  Call direct_;  // without a thread
};

}  // namespace jet
