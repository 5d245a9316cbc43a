#pragma once
// Strings of the run-time are UTF-16, like the platform's wide strings: lengths and positions
// count UTF-16 units. These helpers are the run-time's string functions that the logic uses,
// and the conversions done at the edge of the operating system.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Removes space characters (U+0020 only) from both ends / from the start.
std::u16string trimSpaces(std::u16string_view text);
std::u16string leftTrimSpaces(std::u16string_view text);

// The string in upper case, unit by unit (surrogates stay as they are).
std::u16string upperCase(std::u16string_view text);

// The number in decimal, with a minus sign when negative.
std::u16string decimal(std::int32_t number);

// UTF-8 <-> UTF-16. Bytes that are not valid UTF-8 (a file name on a POSIX system can hold any
// bytes) become the lone surrogates U+DC80..U+DCFF and turn back into the same bytes, so every
// name read from the system can be handed back to it. Other lone surrogates become U+FFFD.
std::u16string fromUtf8(std::string_view text);
std::string toUtf8(std::u16string_view text);

}  // namespace platform
