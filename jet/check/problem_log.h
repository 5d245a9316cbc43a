// Where every part of the integrity check reports what it finds, and the helpers all of them share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "jet/check/integrity_check.h"
#include "jet/errors.h"

namespace jet {

// Collects problems into a report, at most `maxPerTable` of them per table (and for the file as a whole); the rest
// are counted and summed up by close().
class ProblemLog {
 public:
  ProblemLog(CheckReport& report, size_t maxPerTable) : report_(report), maxPerTable_(maxPerTable) {}

  void add(Severity severity, const std::string& table, uint32_t page, int32_t row, const std::string& message);

  // One closing problem per table that had more than could be listed; an error when any of those left out was one.
  void close();

  // The counters of what was checked live in the report too.
  CheckReport& report() { return report_; }

 private:
  struct Tally {
    size_t seen = 0;
    bool droppedErrors = false;
  };
  CheckReport& report_;
  size_t maxPerTable_;
  std::map<std::string, Tally> perTable_;
};

// Damage is reported and the check goes on; any other failure (a read error, say) ends the check with its own number.
void onlyCorruption(const Error& e);

// Page types by name for messages.
std::string pageTypeName(uint8_t type);

}  // namespace jet
