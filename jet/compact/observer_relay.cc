#include "jet/compact/observer_relay.h"

#include <system_error>

namespace jet {

ObserverRelay::ObserverRelay(CheckObserver& target) : target_(target) {
  for (size_t i = 1; i < kChunks; ++i) free_.emplace_back();
  try {
    thread_ = std::thread([this] { run(); });
    threaded_ = true;
  } catch (const std::system_error&) {
    // No thread: every call is delivered as it is made.
  }
}

ObserverRelay::~ObserverRelay() {
  if (!threaded_) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ObserverRelay::finish() {
  if (!threaded_) return;
  handOver();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return full_.empty() && !busy_; });
}

ObserverRelay::Call& ObserverRelay::push(Kind kind, Bytes bytes) {
  if (!threaded_) {
    direct_.kind = kind;
    return direct_;
  }
  if (current_.count == kCallsPerChunk || current_.arena.size() >= kBytesPerChunk) handOver();
  if (current_.arena.capacity() == 0) current_.arena.reserve(kBytesPerChunk + 8192);  // no doubling past the limit
  if (current_.calls.size() == current_.count) current_.calls.emplace_back();
  Call& call = current_.calls[current_.count++];
  call.kind = kind;
  call.at = current_.arena.size();
  call.length = bytes.size();
  current_.arena.insert(current_.arena.end(), bytes.begin(), bytes.end());
  return call;
}

void ObserverRelay::handOver() {
  if (current_.count == 0) return;
  std::unique_lock lock(mutex_);
  full_.push_back(std::move(current_));
  changed_.notify_all();
  changed_.wait(lock, [this] { return !free_.empty(); });
  current_ = std::move(free_.front());
  free_.pop_front();
  current_.count = 0;
  current_.arena.clear();
}

void ObserverRelay::run() {
  for (;;) {
    Chunk chunk;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || !full_.empty(); });
      if (full_.empty()) return;  // stopped, and nothing is left to deliver
      chunk = std::move(full_.front());
      full_.pop_front();
      busy_ = true;
    }
    for (size_t i = 0; i < chunk.count; ++i) deliver(chunk, chunk.calls[i]);
    {
      std::lock_guard lock(mutex_);
      free_.push_back(std::move(chunk));
      busy_ = false;
    }
    changed_.notify_all();
  }
}

void ObserverRelay::deliver(const Chunk& chunk, Call& call) {
  const Bytes bytes = Bytes(chunk.arena).subspan(call.at, call.length);
  switch (call.kind) {
    case Kind::BeginTable: target_.beginTable(call.name, *call.def); break;
    case Kind::BeginRow: target_.beginRow(); break;
    case Kind::LongValuePart: target_.longValuePart(static_cast<size_t>(call.number), bytes); break;
    case Kind::Row: target_.row(call.home, bytes, call.layout); break;
    case Kind::Entry: target_.indexEntry(call.index, bytes); break;
    case Kind::EndIndex: target_.endIndex(call.index, call.number); break;
    case Kind::EndTable: target_.endTable(); break;
  }
}

void ObserverRelay::beginTable(const std::string& name, const TableDef& def) {
  Call& call = push(Kind::BeginTable);
  call.name = name;
  call.def = std::make_unique<TableDef>(def);
  if (!threaded_) deliver(current_, call);
}

void ObserverRelay::beginRow() {
  Call& call = push(Kind::BeginRow);
  if (!threaded_) deliver(current_, call);
}

void ObserverRelay::longValuePart(size_t column, Bytes part) {
  if (!threaded_) return target_.longValuePart(column, part);
  Call& call = push(Kind::LongValuePart, part);
  call.number = column;
}

void ObserverRelay::row(RowPointer home, Bytes bytes, const RowLayout& layout) {
  if (!threaded_) return target_.row(home, bytes, layout);
  Call& call = push(Kind::Row, bytes);
  call.home = home;
  call.layout = layout;
}

void ObserverRelay::indexEntry(uint32_t index, Bytes entry) {
  if (!threaded_) return target_.indexEntry(index, entry);
  Call& call = push(Kind::Entry, entry);
  call.index = index;
}

void ObserverRelay::endIndex(uint32_t index, uint64_t distinctKeys) {
  Call& call = push(Kind::EndIndex);
  call.index = index;
  call.number = distinctKeys;
  if (!threaded_) deliver(current_, call);
}

void ObserverRelay::endTable() {
  Call& call = push(Kind::EndTable);
  if (!threaded_) deliver(current_, call);
}

}  // namespace jet
