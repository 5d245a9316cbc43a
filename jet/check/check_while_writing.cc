#include "jet/check/check_while_writing.h"

#include <set>

namespace jet {

CheckWhileWriting::CheckWhileWriting(PageReader& growing, const CheckOptions& options, uint32_t expectedPages)
    : growing_(growing),
      options_(options),
      log_(report_, options.maxProblemsPerTable),
      claims_(growing.pageCount(), log_) {
  claims_.reserve(expectedPages);
}

CheckWhileWriting::~CheckWhileWriting() = default;

void CheckWhileWriting::table(const std::string& name, uint32_t tdef, const TableDef& expected, TableFeed& feed,
                              uint64_t mostRows) {
  auto& checker = tables_[tdef];
  if (checker != nullptr) {
    log_.add(Severity::Error, name, tdef, -1, "a second table was written with the same table definition page");
    return;
  }
  // Named already, for the messages about its pages; the catalog names every table again at the end.
  claims_.nameTable(tdef, name);
  checker = std::make_unique<TableChecker>(growing_, name, tdef, claims_, options_, log_);
  checker->runContents(expected, feed, mostRows);
}

CheckReport CheckWhileWriting::finish(Database& complete) {
  growing_.refreshSize();
  claims_.grow(complete.pages().pageCount());
  std::set<uint32_t> listed;
  checkWholeFile(complete, claims_, log_, [&](const std::string& name, uint32_t tdef) {
    listed.insert(tdef);
    auto it = tables_.find(tdef);
    if (it != tables_.end()) {
      it->second->runStructure();
    } else {
      TableChecker(complete.pages(), name, tdef, claims_, options_, log_).run();
    }
  });
  for (const auto& [tdef, checker] : tables_) {
    if (listed.count(tdef) == 0) {
      log_.add(Severity::Error, "", tdef, -1, "the catalog does not list the table whose definition starts here");
    }
  }
  log_.close();
  return report_;
}

}  // namespace jet
