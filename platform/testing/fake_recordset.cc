#include "platform/testing/fake_recordset.h"

#include <utility>

#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace platform::testing {

FakeRecordset::FakeRecordset(std::vector<Record> records, std::vector<std::string>* log)
    : records_(std::move(records)), log_(log) {}

void FakeRecordset::note(const std::string& what) {
  if (log_ != nullptr) log_->push_back(what);
}

bool FakeRecordset::eof() {
  note("eof");
  return current_ >= records_.size();
}

std::int32_t FakeRecordset::absolutePosition() {
  note("absolutePosition");
  if (current_ >= records_.size()) return records_.empty() ? kPositionUnknown : kPositionAfterLast;
  return static_cast<std::int32_t>(current_) + 1 + positionShift;
}

std::int32_t FakeRecordset::recordCount() {
  note("recordCount");
  return reportedCount.value_or(static_cast<std::int32_t>(records_.size()));
}

std::u16string FakeRecordset::field(const std::u16string& name) {
  note("field(" + toUtf8(name) + ")");
  if (!hasField(name)) throw RuntimeError(error::kItemNotFound);
  if (current_ >= records_.size()) throw RuntimeError(error::kNoCurrentRecord);
  return records_[current_].at(name);
}

// The fields are those of the first record; an empty recordset has those of articles().
bool FakeRecordset::hasField(const std::u16string& name) {
  if (records_.empty()) return name == u"skl" || name == u"ident";
  return records_.front().contains(name);
}

void FakeRecordset::moveFirst() {
  note("moveFirst");
  current_ = 0;
  raiseMoveComplete(MoveReason::moveFirst, 0);
}

void FakeRecordset::moveNext() {
  note("moveNext");
  if (current_ >= records_.size()) {
    raiseMoveComplete(MoveReason::moveNext, error::kNoCurrentRecord);
    throw RuntimeError(error::kNoCurrentRecord);
  }
  ++current_;
  raiseMoveComplete(MoveReason::moveNext, 0);
}

std::vector<FakeRecordset::Record> articles(std::size_t n) {
  std::vector<FakeRecordset::Record> records;
  for (std::size_t k = 1; k <= n; ++k) {
    records.push_back(
        {{u"skl", decimal(static_cast<std::int32_t>(k))}, {u"ident", u"A" + decimal(static_cast<std::int32_t>(k))}});
  }
  return records;
}

}  // namespace platform::testing
