#include "jet/check/problem_log.h"

#include "jet/format/format.h"

namespace jet {

void ProblemLog::add(Severity severity, const std::string& table, uint32_t page, int32_t row,
                     const std::string& message) {
  Tally& t = perTable_[table];
  if (++t.seen > maxPerTable_) {
    if (severity == Severity::Error) t.droppedErrors = true;
    return;
  }
  report_.problems.push_back({severity, table, page, row, message});
}

void ProblemLog::close() {
  for (const auto& [table, t] : perTable_) {
    if (t.seen > maxPerTable_) {
      report_.problems.push_back({t.droppedErrors ? Severity::Error : Severity::Warning, table, 0, -1,
                                  std::to_string(t.seen - maxPerTable_) + " more problems not listed"});
    }
  }
}

void onlyCorruption(const Error& e) {
  if (e.code() != ErrorCode::Corrupt) throw e;
}

std::string pageTypeName(uint8_t type) {
  switch (type) {
    case static_cast<uint8_t>(PageType::Header): return "a free or header page";
    case static_cast<uint8_t>(PageType::Data): return "a data page";
    case static_cast<uint8_t>(PageType::TableDef): return "a table-definition page";
    case static_cast<uint8_t>(PageType::IndexNode): return "an index node page";
    case static_cast<uint8_t>(PageType::IndexLeaf): return "an index leaf page";
    case static_cast<uint8_t>(PageType::UsageMap): return "a usage-map page";
    default: return "a page of unknown type " + std::to_string(type);
  }
}

}  // namespace jet
