// The reading half of a pass over a database, run ahead on a thread of its own. Reading a bloated table's rows and
// scattered long values, or walking an index of the source, takes about as long as laying out what was read (in a
// copy) or printing it (in an export), so on two cores the two halves overlap: the reader fills one batch while the
// caller uses the one read before.
//
// A batch is whatever the caller's `read` fills: many rows or entries with their bytes side by side, a few hundred
// kilobytes (handing over each batch wakes a thread, which costs tens of microseconds on a virtual machine, so
// batches must be large). Three batches take turns and keep their buffers, so the memory stays about a megabyte. The
// caller sees the batches in the order they were read, and an error where a sequential reader would have met it:
// `read` keeps in the batch what it read before it threw, the caller gets that batch, and the next call rethrows.
// Where no thread can be started, batches are read as they are asked for.
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

namespace jet {

template <class Batch>
class ReadAhead {
 public:
  // `read` empties the batch it is given, fills it, and returns false when nothing follows it (the batch may still
  // hold the last items). It may throw, leaving in the batch what it read before. It is called on the reader's
  // thread, one batch after the other, and nothing else of the caller's runs there.
  using Read = std::function<bool(Batch&)>;
  explicit ReadAhead(Read read) : read_(std::move(read)) {
    for (size_t i = 0; i < kBatches; ++i) free_.emplace_back();
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // No thread: next() reads the batches itself.
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

  // The next batch (the caller may change it), valid until the next call; nullptr after the last. Rethrows what
  // `read` threw while filling the batch returned before.
  Batch* next() {
    if (haveCurrent_) {
      haveCurrent_ = false;
      std::exception_ptr error = std::move(current_.error);
      finished_ = current_.last;
      if (thread_.joinable()) {
        {
          std::lock_guard lock(mutex_);
          free_.push_back(std::move(current_));
        }
        changed_.notify_all();
      }
      if (error) std::rethrow_exception(error);
    }
    if (finished_) return nullptr;
    if (!thread_.joinable()) {
      fill(current_);
    } else {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !full_.empty(); });
      current_ = std::move(full_.front());
      full_.pop_front();
    }
    haveCurrent_ = true;
    return &current_.batch;
  }

 private:
  struct Slot {
    Batch batch;
    bool last = false;
    std::exception_ptr error;
  };
  static constexpr size_t kBatches = 3;  // one being filled, one waiting, one being placed

  void fill(Slot& slot) {
    slot.error = nullptr;
    try {
      slot.last = !read_(slot.batch);
    } catch (...) {
      slot.error = std::current_exception();
      slot.last = true;
    }
  }

  void run() {
    for (;;) {
      Slot slot;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || !free_.empty(); });
        if (stop_) return;
        slot = std::move(free_.front());
        free_.pop_front();
      }
      fill(slot);
      const bool last = slot.last;
      {
        std::lock_guard lock(mutex_);
        full_.push_back(std::move(slot));
      }
      changed_.notify_all();
      if (last) return;
    }
  }

  Read read_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Slot> free_;
  std::deque<Slot> full_;
  bool stop_ = false;
  Slot current_;
  bool haveCurrent_ = false;
  bool finished_ = false;
};

}  // namespace jet
