#include "platform/jet_recordset.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "jet/read/database.h"
#include "jet/format/row_layout.h"
#include "jet/read/table_scan.h"
#include "jet/format/value.h"
#include "platform/error_numbers.h"
#include "platform/runtime_error.h"
#include "platform/text.h"

namespace platform {
namespace {

// The engine's failures, with their numbers, as the run-time's.
template <class F>
auto engineCall(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const jet::Error& e) {
    throw RuntimeError(e.number(), e.what());
  } catch (const std::bad_alloc&) {
    throw RuntimeError(error::kOutOfMemory);
  }
}

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[k]) != lower(b[k])) return false;
  }
  return true;
}

// How a label shows a value: numbers and dates as the engine prints them, text as it is; binary
// values, which a label cannot show, as nothing.
std::string displayText(const jet::Value& v) {
  if (v.type == jet::ColumnType::Boolean) return v.boolean ? "True" : "False";
  if (v.null) return {};
  switch (v.type) {
    case jet::ColumnType::Byte:
    case jet::ColumnType::Integer:
    case jet::ColumnType::Long: return std::to_string(v.integer);
    case jet::ColumnType::Currency: return jet::formatCurrency(v.integer);
    case jet::ColumnType::Single: return jet::formatSingle(static_cast<float>(v.real));
    case jet::ColumnType::Double: return jet::formatDouble(v.real);
    case jet::ColumnType::DateTime: return jet::formatDateTime(v.real);
    case jet::ColumnType::Numeric: return jet::formatNumeric(v.negative, v.bytes.data(), v.scale);
    case jet::ColumnType::Guid: return jet::formatGuid(v.bytes.data());
    case jet::ColumnType::Text:
    case jet::ColumnType::Memo: return v.text;
    default: return {};
  }
}

class JetTableRecordset final : public Recordset {
 public:
  JetTableRecordset(std::unique_ptr<jet::Database> database, jet::TableDef table, std::uint64_t count)
      : database_(std::move(database)), table_(std::move(table)), count_(count) {
    start();
  }

  bool eof() override { return atEnd_; }

  std::int32_t absolutePosition() override {
    if (atEnd_) return count_ == 0 ? kPositionUnknown : kPositionAfterLast;
    if (position_ > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return kPositionUnknown;
    return static_cast<std::int32_t>(position_);
  }

  std::int32_t recordCount() override {
    if (count_ > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return kCountUnknown;
    return static_cast<std::int32_t>(count_);
  }

  std::u16string field(const std::u16string& name) override {
    const jet::ColumnDef* column = find(name);
    if (column == nullptr) throw RuntimeError(error::kItemNotFound);
    if (atEnd_) throw RuntimeError(error::kNoCurrentRecord);
    return engineCall([&] {
      return database_->withFileName([&] {
        const std::size_t index = static_cast<std::size_t>(column - table_.columns.data());
        jet::crackRow(database_->format(), table_, row_.bytes, layout_);
        jet::decodeValue(database_->pages(), *column, row_.bytes, layout_.fields[index], value_);
        return fromUtf8(displayText(value_));
      });
    });
  }

  bool hasField(const std::u16string& name) override { return find(name) != nullptr; }

  void moveFirst() override {
    start();
    raiseMoveComplete(MoveReason::moveFirst, 0);
  }

  void moveNext() override {
    if (atEnd_) {
      raiseMoveComplete(MoveReason::moveNext, error::kNoCurrentRecord);
      throw RuntimeError(error::kNoCurrentRecord);
    }
    try {
      advance();
    } catch (const RuntimeError& failure) {
      raiseMoveComplete(MoveReason::moveNext, failure.number());
      throw;
    }
    raiseMoveComplete(MoveReason::moveNext, 0);
  }

 private:
  const jet::ColumnDef* find(const std::u16string& name) const {
    const std::string wanted = toUtf8(name);
    for (const jet::ColumnDef& column : table_.columns) {
      if (sameNameIgnoringCase(column.name, wanted)) return &column;
    }
    return nullptr;
  }

  void start() {
    scan_.reset();
    position_ = 0;
    atEnd_ = false;
    engineCall([&] {
      database_->withFileName([&] { scan_ = std::make_unique<jet::TableScan>(database_->pages(), table_); });
    });
    advance();
  }

  void advance() {
    const bool found = engineCall([&] { return database_->withFileName([&] { return scan_->next(row_); }); });
    if (found) {
      ++position_;
    } else {
      atEnd_ = true;
      row_ = {};
    }
  }

  std::unique_ptr<jet::Database> database_;
  jet::TableDef table_;  // the scan refers to it: declared before the scan
  std::unique_ptr<jet::TableScan> scan_;
  std::uint64_t count_;
  std::uint64_t position_ = 0;
  bool atEnd_ = false;
  jet::RowRecord row_;
  jet::RowLayout layout_;
  jet::Value value_;
};

}  // namespace

std::shared_ptr<Recordset> openTableRecordset(const std::filesystem::path& file, const std::u16string& table) {
  return engineCall([&]() -> std::shared_ptr<Recordset> {
    std::unique_ptr<jet::Database> database = jet::Database::open(file.string());
    jet::TableDef definition = database->withFileName([&] { return database->tableDef(toUtf8(table)); });
    const std::uint64_t count = database->withFileName([&] { return jet::countRows(database->pages(), definition); });
    return std::make_shared<JetTableRecordset>(std::move(database), std::move(definition), count);
  });
}

}  // namespace platform
