#pragma once
// A recordset for tests: records held in memory, a log of every property read and move, and
// counts and positions that can be made to lie, as a recordset of another provider may.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/recordset.h"

namespace platform::testing {

class FakeRecordset final : public Recordset {
 public:
  using Record = std::map<std::u16string, std::u16string>;

  // Opens on the first record (at the end when there is none). `log`, when given, receives
  // "eof", "absolutePosition", "recordCount", "field(NAME)", "moveFirst", "moveNext".
  explicit FakeRecordset(std::vector<Record> records, std::vector<std::string>* log = nullptr);

  // What RecordCount reports instead of the number of records.
  std::optional<std::int32_t> reportedCount;
  // Added to every position that AbsolutePosition reports for a current record.
  std::int32_t positionShift = 0;

  bool eof() override;
  std::int32_t absolutePosition() override;
  std::int32_t recordCount() override;
  std::u16string field(const std::u16string& name) override;
  bool hasField(const std::u16string& name) override;
  void moveFirst() override;
  void moveNext() override;

 private:
  void note(const std::string& what);

  std::vector<Record> records_;
  std::vector<std::string>* log_;
  std::size_t current_ = 0;  // index of the current record; records_.size() past the end
};

// Records with the fields "skl" and "ident": skl 1..n, ident A1..An.
std::vector<FakeRecordset::Record> articles(std::size_t n);

}  // namespace platform::testing
