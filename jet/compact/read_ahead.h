// The reading half of a copy, run ahead on a thread of its own. Reading a bloated table's rows and scattered long
// values, or walking an index of the source, takes about as long as laying out what was read, so on two cores the
// two halves overlap: the reader fills items while the caller places the ones read before.
//
// The caller sees the items in the order they were read, and an error where a sequential reader would have met it:
// the items read before the error are handed over first. Items travel in chunks of a bounded count and size, so the
// memory in flight stays small (plus any single item larger than a chunk). Items are reused: their vectors keep their
// capacity. Where no thread can be started, items are read as they are asked for.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace jet {

template <class Item>
class ReadAhead {
 public:
  // `read` fills the item it is given and returns false after the last one; it may throw. It is called on the
  // reader's thread, one item after the other, and nothing else of the caller's runs there. `weigh` tells the bytes
  // an item holds.
  using Read = std::function<bool(Item&)>;
  using Weigh = size_t (*)(const Item&);
  ReadAhead(Read read, Weigh weigh, size_t itemsPerChunk, size_t bytesPerChunk = size_t{256} << 10)
      : read_(std::move(read)), weigh_(weigh), itemsPerChunk_(itemsPerChunk), bytesPerChunk_(bytesPerChunk) {
    for (size_t i = 0; i < kChunks; ++i) free_.emplace_back();
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // No thread: next() reads the items itself.
    }
  }
  ~ReadAhead() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next item (the caller may change it), valid until the next call; nullptr after the last. Rethrows what
  // `read` threw, in its place.
  Item* next() {
    if (!thread_.joinable()) {
      if (finished_) return nullptr;
      if (read_(single_)) return &single_;
      finished_ = true;
      return nullptr;
    }
    for (;;) {
      if (haveCurrent_ && at_ < current_.count) return &current_.items[at_++];
      if (haveCurrent_) {
        std::exception_ptr error = current_.error;
        finished_ = current_.last;
        {
          std::lock_guard lock(mutex_);
          free_.push_back(std::move(current_));
        }
        changed_.notify_all();
        haveCurrent_ = false;
        if (error) std::rethrow_exception(error);
      }
      if (finished_) return nullptr;
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !full_.empty(); });
      current_ = std::move(full_.front());
      full_.pop_front();
      at_ = 0;
      haveCurrent_ = true;
    }
  }

 private:
  struct Chunk {
    std::vector<Item> items;
    size_t count = 0;
    bool last = false;
    std::exception_ptr error;
  };
  static constexpr size_t kChunks = 3;  // one being filled, one waiting, one being taken apart

  void fill(Chunk& chunk) {
    chunk.count = 0;
    chunk.last = false;
    chunk.error = nullptr;
    size_t bytes = 0;
    try {
      while (chunk.count < itemsPerChunk_ && bytes < bytesPerChunk_) {
        if (chunk.items.size() == chunk.count) chunk.items.emplace_back();
        Item& item = chunk.items[chunk.count];
        if (!read_(item)) {
          chunk.last = true;
          return;
        }
        ++chunk.count;
        bytes += weigh_(item);
      }
    } catch (...) {
      chunk.error = std::current_exception();
      chunk.last = true;
    }
  }

  void run() {
    for (;;) {
      Chunk chunk;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || !free_.empty(); });
        if (stop_) return;
        chunk = std::move(free_.front());
        free_.pop_front();
      }
      fill(chunk);
      const bool last = chunk.last;
      {
        std::lock_guard lock(mutex_);
        full_.push_back(std::move(chunk));
      }
      changed_.notify_all();
      if (last) return;
    }
  }

  Read read_;
  Weigh weigh_;
  size_t itemsPerChunk_;
  size_t bytesPerChunk_;
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
  Item single_;  // without a thread
};

}  // namespace jet
