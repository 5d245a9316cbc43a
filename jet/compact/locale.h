// The locale argument of a compaction: ";LANGID=0x0424;CP=1250;COUNTRY=0".
//
// Callers name the collating order they would like the compacted file to have. Text index keys depend on that order,
// and keys for any order other than the source's cannot be derived from what is known about the format, so the
// compactor keeps the source's order whatever is asked; the string is still parsed in full so that a mistyped
// argument is reported instead of silently ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace jet {

struct CompactLocale {
  std::optional<uint16_t> langId;  // LCID of the requested collating order
  std::optional<uint16_t> codePage;
  std::optional<uint16_t> country;
};

// Parses ";KEY=VALUE;KEY=VALUE...". Keys (LANGID, CP, COUNTRY) are case-insensitive and may come in any order, each
// at most once; LANGID takes a hexadecimal "0x" number or a decimal one, CP and COUNTRY decimal numbers. An empty
// string asks for nothing. Anything else throws InvalidArgument (3001).
CompactLocale parseCompactLocale(const std::string& text);

}  // namespace jet
