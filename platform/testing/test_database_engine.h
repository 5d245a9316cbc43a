#pragma once
// The test-only engine's output: this marker, the locale string, a line break and the source's
// bytes unchanged.

#include <string_view>

namespace platform::testing {

inline constexpr std::string_view kTestEngineMarker = "test engine output;";

}  // namespace platform::testing
