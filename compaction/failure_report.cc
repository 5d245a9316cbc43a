#include "compaction/failure_report.h"

#include "platform/error_numbers.h"
#include "platform/text.h"

namespace compaction {
namespace {

// The engine's numbers for a database that another user or process has open, and the
// run-time's access error: all three mean the database is in use.
constexpr std::int32_t databaseOpenedExclusively = 3356;
constexpr std::int32_t databaseInUse = 3196;

}  // namespace

std::optional<std::u16string> failureMessage(std::int32_t number) {
  if (number == 0 || number == platform::error::cancelledByUser) return std::nullopt;
  if (number == databaseOpenedExclusively || number == databaseInUse ||
      number == platform::error::pathFileAccessError) {
    return u"Izbrana baza je v uporabi!";
  }
  return u"Napaka " + platform::decimal(number) + u" pri stiskanju baze!";
}

}  // namespace compaction
