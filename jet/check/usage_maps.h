// The usage maps of tables, indexes and long-value columns as the check reads them: each map's row and bitmap pages
// are claimed, and maps that list pages past the end of the file are reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/check/page_owners.h"
#include "jet/check/problem_log.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/pager/page_reader.h"

namespace jet {

class UsageMapChecker {
 public:
  UsageMapChecker(PageReader& pages, PageClaims& claims, ProblemLog& log) : pages_(pages), claims_(claims), log_(log) {}

  // A bitmap page belongs to one map, once: listed twice, it would mark the same pages at two places.
  void claimBitmaps(const UsageMap& map, const std::string& table);

  // Reads the map at `at` and returns its pages; reports a map that cannot be read.
  // `complete` (when given) is cleared when the map lists pages the file does not have.
  bool read(const MapPointer& at, const std::string& table, uint32_t tdef, const std::string& what,
            std::vector<uint32_t>& out, bool* complete = nullptr);

 private:
  bool reportPagesPastTheEnd(const UsageMap& map, const std::string& table, uint32_t tdef, const std::string& what);

  PageReader& pages_;
  PageClaims& claims_;
  ProblemLog& log_;
};

}  // namespace jet
