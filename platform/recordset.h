#pragma once
// A recordset as the utility's windows see it: a cursor over records with named fields, which
// tells its listeners after every move. Recordsets are shared: a caller that walks one and a
// window bound to it both hold it, and either may let go first.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class Recordset;

// Why a move happened, as the move-complete event reports it.
enum class MoveReason { moveFirst, moveNext };
// The event's status argument; a listener may set it to unsubscribe from further events.
enum class EventStatus { ok, unwantedEvent };

class MoveCompleteListener {
 public:
  // After each move, also one that failed (then `failure` holds its error number, 0 otherwise).
  virtual void moveComplete(MoveReason reason, std::int32_t failure, EventStatus& status, Recordset& recordset) = 0;

 protected:
  ~MoveCompleteListener() = default;
};

class Recordset : public std::enable_shared_from_this<Recordset> {
 public:
  // AbsolutePosition when there is no current record.
  static constexpr std::int32_t kPositionUnknown = -1;
  static constexpr std::int32_t kPositionBeforeFirst = -2;
  static constexpr std::int32_t kPositionAfterLast = -3;
  // RecordCount when the recordset cannot tell.
  static constexpr std::int32_t kCountUnknown = -1;

  virtual ~Recordset();
  Recordset() = default;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // True once a move has gone past the last record (at once for an empty recordset).
  virtual bool eof() = 0;
  // The current record's 1-based number, or one of the position constants above.
  virtual std::int32_t absolutePosition() = 0;
  virtual std::int32_t recordCount() = 0;
  // The named field of the current record as text (empty for a null). Fails with 3265 when the
  // recordset has no such field and with 3021 when there is no current record.
  virtual std::u16string field(const std::u16string& name) = 0;
  // Whether the records have that field; never fails.
  virtual bool hasField(const std::u16string& name) = 0;
  // The moves. MoveNext past the end fails with 3021. Each move raises the move-complete event
  // once the cursor is where it ends up; one that fails raises it with its error number first.
  virtual void moveFirst() = 0;
  virtual void moveNext() = 0;

  // Listeners are called in the order they subscribed, those subscribed `first` (the bindings of
  // controls, which must show the new record before anyone repaints) before all others. A
  // listener may subscribe or unsubscribe anyone, itself included, from inside the event: one
  // unsubscribed then is not called again, not even later in the same event, so it may be
  // destroyed right after unsubscribing.
  void subscribe(MoveCompleteListener& listener, bool first = false);
  void unsubscribe(MoveCompleteListener& listener);

 protected:
  // Keeps a shared recordset alive until the event is over, even when a listener lets go of
  // the last reference; a move raises it as its last step, so nothing else of the move runs on a
  // recordset gone meanwhile.
  void raiseMoveComplete(MoveReason reason, std::int32_t failure);

 private:
  std::vector<MoveCompleteListener*> listeners_;  // null where one left during an event
  std::size_t firstCount_ = 0;                    // how many at the front subscribed `first`
  int raising_ = 0;
};

// Keeps one listener subscribed to one recordset for as long as it lives.
class Subscription {
 public:
  Subscription() = default;
  ~Subscription() { reset(); }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  // Ends the current subscription, if any, and subscribes `listener` to `recordset` (if any).
  void connect(std::shared_ptr<Recordset> recordset, MoveCompleteListener& listener, bool first = false);
  // Unsubscribes and lets go of the recordset.
  void reset();
  const std::shared_ptr<Recordset>& recordset() const { return recordset_; }

 private:
  std::shared_ptr<Recordset> recordset_;
  MoveCompleteListener* listener_ = nullptr;
};

}  // namespace platform
