#pragma once
// The run-time's error numbers that the platform layer raises and the callers test.

#include <cstdint>

namespace platform::error {

inline constexpr std::int32_t overflow = 6;
inline constexpr std::int32_t outOfMemory = 7;
inline constexpr std::int32_t internalError = 51;
inline constexpr std::int32_t badFileName = 52;
inline constexpr std::int32_t fileNotFound = 53;
inline constexpr std::int32_t deviceIoError = 57;
inline constexpr std::int32_t fileAlreadyExists = 58;
inline constexpr std::int32_t diskFull = 61;
inline constexpr std::int32_t permissionDenied = 70;
inline constexpr std::int32_t pathFileAccessError = 75;
inline constexpr std::int32_t pathNotFound = 76;
inline constexpr std::int32_t cannotCreateObject = 429;
// The number a common dialog raises when its user cancels.
inline constexpr std::int32_t cancelledByUser = 32755;
// An object variable that holds nothing was used (a window bound to a recordset not assigned yet).
inline constexpr std::int32_t objectNotSet = 91;
// A control refused a value outside its range.
inline constexpr std::int32_t invalidPropertyValue = 380;
// A recordset has no current record (before the first or after the last).
inline constexpr std::int32_t noCurrentRecord = 3021;
// A recordset has no field of that name.
inline constexpr std::int32_t itemNotFound = 3265;

}  // namespace platform::error
