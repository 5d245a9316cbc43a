#include "jet/pager/whole_file_hint.h"

#include <algorithm>
#include <system_error>

namespace jet {

WholeFileHint::WholeFileHint(PageSource& source, uint64_t length) {
  try {
    thread_ = std::thread([this, &source, length] {
      for (uint64_t at = 0; at < length && !stop_.load(std::memory_order_relaxed); at += kPiece) {
        source.willRead(at, std::min(kPiece, length - at));
      }
    });
  } catch (const std::system_error&) {
    // Only a hint: the reads go on without it.
  }
}

WholeFileHint::~WholeFileHint() {
  stop_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
}

}  // namespace jet
