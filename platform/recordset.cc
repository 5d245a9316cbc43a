#include "platform/recordset.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace platform {

Recordset::~Recordset() = default;

void Recordset::subscribe(MoveCompleteListener& listener, bool first) {
  if (!first) {
    listeners_.push_back(&listener);
    return;
  }
  // During an event the loop below indexes the vector: a first listener joining then goes last
  // instead of shifting everyone (it hears the next event in its place).
  if (raising_ > 0) {
    listeners_.push_back(&listener);
    return;
  }
  listeners_.insert(listeners_.begin() + static_cast<std::ptrdiff_t>(firstCount_), &listener);
  ++firstCount_;
}

void Recordset::unsubscribe(MoveCompleteListener& listener) {
  auto found = std::find(listeners_.begin(), listeners_.end(), &listener);
  if (found == listeners_.end()) return;
  // While an event is being raised its loop indexes this vector: leave a hole instead.
  if (raising_ > 0) {
    *found = nullptr;
    return;
  }
  if (static_cast<std::size_t>(std::distance(listeners_.begin(), found)) < firstCount_) --firstCount_;
  listeners_.erase(found);
}

void Recordset::raiseMoveComplete(MoveReason reason, std::int32_t failure) {
  const std::shared_ptr<Recordset> keepAlive = weak_from_this().lock();
  ++raising_;
  struct Done {
    Recordset& self;
    ~Done() {
      if (--self.raising_ != 0) return;
      std::size_t holesInFront = 0;
      for (std::size_t k = 0; k < self.firstCount_; ++k) {
        if (self.listeners_[k] == nullptr) ++holesInFront;
      }
      self.firstCount_ -= holesInFront;
      std::erase(self.listeners_, nullptr);
    }
  } done{*this};
  // Only those subscribed when the event starts hear it; the size is read once for that.
  const std::size_t count = listeners_.size();
  for (std::size_t k = 0; k < count; ++k) {
    MoveCompleteListener* listener = listeners_[k];
    if (listener == nullptr) continue;
    EventStatus status = EventStatus::ok;
    listener->moveComplete(reason, failure, status, *this);
    if (status == EventStatus::unwantedEvent) unsubscribe(*listener);
  }
}

void Subscription::connect(std::shared_ptr<Recordset> recordset, MoveCompleteListener& listener, bool first) {
  reset();
  recordset_ = std::move(recordset);
  listener_ = &listener;
  if (recordset_) recordset_->subscribe(listener, first);
}

void Subscription::reset() {
  if (recordset_ && listener_ != nullptr) recordset_->unsubscribe(*listener_);
  listener_ = nullptr;
  // Last: this may be the last reference, and the recordset goes with it.
  std::shared_ptr<Recordset> released = std::move(recordset_);
}

}  // namespace platform
