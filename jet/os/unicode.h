// Text at the edge of the operating system: names of files as the system spells them (UTF-8 here) and as UTF-16,
// and the system's mapping to upper case, by which names that differ only in case are the same name.
#pragma once

#include <string>
#include <string_view>

namespace jet::unicode {

// UTF-8 <-> UTF-16. Bytes that are not valid UTF-8 (a file name on a POSIX system can hold any bytes) become the lone
// surrogates U+DC80..U+DCFF and turn back into the same bytes, so every name read from the system can be handed back
// to it. Other lone surrogates become U+FFFD.
std::u16string fromUtf8(std::string_view text);
std::string toUtf8(std::u16string_view text);

// The string in upper case, unit by unit (surrogates stay as they are), by the system's Unicode case mapping and the
// same for every user whatever their locale. Implemented by each system's part of the engine (jet/os/posix).
std::u16string upperCase(std::u16string_view text);

}  // namespace jet::unicode
