#pragma once
// What the user is told when a compaction fails.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace compaction {

inline constexpr std::u16string_view kReportTitle = u"Napaka";

// The message for a failure number, or nothing for 0 and for a cancelled dialog (32755).
std::optional<std::u16string> failureMessage(std::int32_t number);

}  // namespace compaction
