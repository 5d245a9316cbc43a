#include "platform/bound_label.h"

#include <utility>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/traps.h"

namespace platform {

BoundLabel::BoundLabel(FormView& view, std::size_t control, std::u16string field, std::shared_ptr<Recordset> recordset)
    : view_(view), control_(control), field_(std::move(field)) {
  if (!recordset) throw RuntimeError(error::kObjectNotSet);
  if (!recordset->hasField(field_)) throw RuntimeError(error::kItemNotFound);
  show(*recordset);
  subscription_.connect(std::move(recordset), *this, true);
}

void BoundLabel::moveComplete(MoveReason, std::int32_t, EventStatus&, Recordset& recordset) { show(recordset); }

// Without a current record (before the first, past the last) a bound label shows nothing; a
// label never stops the move it follows.
void BoundLabel::show(Recordset& recordset) {
  std::u16string text;
  if (!recordset.eof()) resumeNext([&] { text = recordset.field(field_); });
  view_.setText(control_, text);
}

}  // namespace platform
