#include "compaction/failure_report.h"

#include "platform/database_engine.h"
#include "platform/error_numbers.h"
#include "platform/text.h"

namespace compaction {

std::optional<std::u16string> failureMessage(std::int32_t number) {
  if (number == 0 || number == platform::error::kCancelledByUser) return std::nullopt;
  if (platform::databaseInUse(number)) {
    return u"Izbrana baza je v uporabi!";
  }
  return u"Napaka " + platform::decimal(number) + u" pri stiskanju baze!";
}

}  // namespace compaction
