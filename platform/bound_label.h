#pragma once
// A label bound to a recordset: it shows its design's field of the current record and follows
// every move, until the binding is destroyed. It holds the recordset as long as it lives.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/forms.h"
#include "platform/recordset.h"

namespace platform {

class BoundLabel final : private MoveCompleteListener {
 public:
  // Fails with 91 when `recordset` is empty and with 3265 when its records lack `field`; nothing
  // is bound then.
  BoundLabel(FormView& view, std::size_t control, std::u16string field, std::shared_ptr<Recordset> recordset);
  ~BoundLabel() = default;
  BoundLabel(const BoundLabel&) = delete;
  BoundLabel& operator=(const BoundLabel&) = delete;

 private:
  void moveComplete(MoveReason reason, std::int32_t failure, EventStatus& status, Recordset& recordset) override;
  void show(Recordset& recordset);

  FormView& view_;
  std::size_t control_;
  std::u16string field_;
  Subscription subscription_;
};

}  // namespace platform
