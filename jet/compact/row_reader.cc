#include "jet/compact/row_reader.h"

#include <system_error>

namespace jet {

RowReader::RowReader(Read read) : read_(std::move(read)) {
  for (size_t i = 0; i < kChunks; ++i) free_.emplace_back();
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No thread: next() reads the rows itself.
  }
}

RowReader::~RowReader() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void RowReader::fill(Chunk& chunk) {
  chunk.count = 0;
  chunk.last = false;
  chunk.error = nullptr;
  size_t bytes = 0;
  try {
    while (chunk.count < kRowsPerChunk && bytes < kBytesPerChunk) {
      if (chunk.rows.size() == chunk.count) chunk.rows.emplace_back();
      ScannedRow& row = chunk.rows[chunk.count];
      row.valueCount = 0;
      if (!read_(row)) {
        chunk.last = true;
        return;
      }
      ++chunk.count;
      bytes += row.bytes.size();
      for (size_t i = 0; i < row.valueCount; ++i) bytes += row.values[i].second.size();
    }
  } catch (...) {
    chunk.error = std::current_exception();
    chunk.last = true;
  }
}

void RowReader::run() {
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

ScannedRow* RowReader::next() {
  if (!thread_.joinable()) {
    if (finished_) return nullptr;
    single_.valueCount = 0;
    if (read_(single_)) return &single_;
    finished_ = true;
    return nullptr;
  }
  for (;;) {
    if (haveCurrent_ && at_ < current_.count) return &current_.rows[at_++];
    if (haveCurrent_) {
      const bool last = current_.last;
      std::exception_ptr error = current_.error;
      {
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(current_));
      }
      changed_.notify_all();
      haveCurrent_ = false;
      finished_ = last;
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

}  // namespace jet
